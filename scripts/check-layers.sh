#!/usr/bin/env bash
# The layer rule: includes point one way, app -> render/scene/snow/music/components -> platform.
#   scripts/check-layers.sh [ROOT]     checks the sources under ROOT (default: this repository)
# Refused, each reported as FILE:LINE: why: the include line
#   - app/ from the scene folders (render, scene, snow, music, components) or from platform/;
#   - the scene folders or app/ from platform/;
#   - a system library's header (SDL, OpenGL/EGL/epoxy, FluidSynth, FreeType/fontconfig, HarfBuzz,
#     FriBidi, ICU, FFmpeg's libav*, libjpeg/libpng, ImageMagick) from the scene folders: only
#     platform/ speaks to them.
# Exits 1 when anything crosses a layer, 0 when nothing does, 2 when ROOT is no source tree.
set -uo pipefail

root=${1:-"$(dirname "$0")/.."}
if [ ! -d "$root" ]; then
  echo "check-layers: $root is not a folder" >&2
  exit 2
fi
cd "$root" || exit 2

scene_dirs=(render scene snow music components)
# `#include <x` or `#include "x`, with any spacing after the hash.
inc='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]'
libs='(SDL|GL/|GLES[0-9]*/|EGL/|KHR/|epoxy/|fluidsynth|ft2build\.h|freetype2?/|fontconfig/|libav[a-z]*/'
libs+='|hb\.h|hb-[a-z]*\.h|harfbuzz/|fribidi|unicode/'
libs+='|libsw(scale|resample)/|jpeglib\.h|jerror\.h|jconfig\.h|jmorecfg\.h|turbojpeg\.h|png\.h|pngconf\.h'
libs+='|libpng[0-9]*/|MagickCore/|MagickWand/|Magick\+\+)'

found=0
# check WHY REGEX FOLDER...: every line of the C and C++ sources under the folders that exist which
# matches REGEX is a crossing.
check() {
  local why=$1 regex=$2
  shift 2
  local dirs=()
  for d in "$@"; do [ -d "$d" ] && dirs+=("$d"); done
  [ ${#dirs[@]} -eq 0 ] && return
  local hits
  hits=$(grep -rnE --include='*.h' --include='*.hpp' --include='*.c' --include='*.cc' --include='*.cpp' \
    --include='*.inc' "$regex" "${dirs[@]}" | sort)
  [ -z "$hits" ] && return
  while IFS= read -r hit; do
    # FILE:LINE:TEXT becomes FILE:LINE: why: TEXT
    local file=${hit%%:*} rest=${hit#*:}
    local line=${rest%%:*} text=${rest#*:}
    echo "$file:$line: $why: $text"
    found=$((found + 1))
  done <<<"$hits"
}

check "includes the application shell (app/)" "${inc}app/" "${scene_dirs[@]}" platform
check "platform/ includes a layer above it" "${inc}(render|scene|snow|music|components|app)/" platform
check "includes a system library's header, which only platform/ may" "${inc}${libs}" "${scene_dirs[@]}"
# FreeType names its headers through macros: #include FT_FREETYPE_H.
check "includes a system library's header, which only platform/ may" \
  '^[[:space:]]*#[[:space:]]*include[[:space:]]+FT_' "${scene_dirs[@]}"

if [ "$found" -gt 0 ]; then
  echo "check-layers: $found include(s) cross a layer" >&2
  exit 1
fi
echo "check-layers: every include points one way"
