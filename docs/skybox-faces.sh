#!/usr/bin/env bash
# Draws docs/skybox-faces.png: which image goes on which sky-box face and which way round, for
# SkyBox::SetSkyTexturesFromCubeMap (a standard cube-map set) and for SetSkyTexture (the face
# table's own orientation). Needs ImageMagick and the DejaVu fonts; run it from anywhere.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bold=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
plain=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

# cell OUT FACE SIDE PLANE COLOUR TURN: one face, its letter F turned by the ImageMagick options TURN.
cell() {
  local out=$1 face=$2 side=$3 plane=$4 colour=$5
  shift 5
  convert -size 120x120 xc:none -font "$bold" -pointsize 80 -fill '#2a2a2a' -gravity center -annotate +0+2 F \
    "$@" "$work/letter.png"
  convert -size 120x120 "xc:$colour" "$work/letter.png" -composite \
    -font "$plain" -pointsize 13 -fill black -gravity north -annotate +0+3 "$face   Side $side" \
    -gravity south -annotate +0+3 "$plane" -bordercolor '#444444' -border 1 "$out"
}

# cross OUT TITLE MIRROR BOTTOM: the six faces as the usual cross, +z in the middle.
cross() {
  local out=$1 title=$2 mirror=$3 bottom=$4
  cell "$work/px.png" "+x" 1 "x = +S" '#f4c7c3' $mirror
  cell "$work/nx.png" "-x" 0 "x = -S" '#f9e0b8' $mirror
  cell "$work/py.png" "+y" 4 "y = +S, top" '#c9e4f6' $mirror
  cell "$work/ny.png" "-y" 5 "y = -S, bottom" '#d9d2e9' $bottom
  cell "$work/pz.png" "+z" 2 "z = +S" '#cfe8cf' $mirror
  cell "$work/nz.png" "-z" 3 "z = -S" '#fff2b3' $mirror
  convert -size 488x366 xc:white \
    "$work/py.png" -geometry +122+0 -composite \
    "$work/nx.png" -geometry +0+122 -composite "$work/pz.png" -geometry +122+122 -composite \
    "$work/px.png" -geometry +244+122 -composite "$work/nz.png" -geometry +366+122 -composite \
    "$work/ny.png" -geometry +122+244 -composite "$work/grid.png"
  convert "$work/grid.png" -background white -font "$plain" -pointsize 15 -fill black \
    -gravity north -splice 0x46 -annotate +0+6 "$title" "$out"
}

cross "$work/a.png" $'SetSkyTexturesFromCubeMap({+x, -x, +y, -y, +z, -z}):\na standard cube-map set, every image the right way round' "" ""
cross "$work/b.png" $'SetSkyTexture(Side, image): the face table\'s orientation,\nfaces 0 to 4 mirrored, face 5 turned a quarter clockwise' "-flop" "-rotate 90"
convert -background white -font "$plain" -pointsize 14 -fill '#333333' -gravity center \
  label:$'Seen from inside the cube; left-handed, +y up: looking along +z, +x is to the right.\nLeft: folded up, each face meets its neighbours along the edges that touch in the picture.\nRight: the same sky as the image files SetSkyTexture takes for each Side.' \
  "$work/caption.png"
convert "$work/a.png" "$work/b.png" -bordercolor white -border 12x0 -background white +append \
  "$work/caption.png" -gravity center -append -bordercolor white -border 16 skybox-faces.png
echo "wrote docs/skybox-faces.png"
