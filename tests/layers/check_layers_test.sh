#!/usr/bin/env bash
# The layer check on small trees made for it: a tree whose includes all point one way passes, and
# each single crossing fails the check, reported with its file and line.
#   check_layers_test.sh CHECK_SCRIPT SCRATCH_DIR
set -uo pipefail
check=$1
scratch=$2
failures=0

# A tree of allowed includes: the scene folders on platform/ and the standard library, platform/ on
# the system libraries, app/ on everything.
make_tree() {
  rm -rf "$1"
  mkdir -p "$1"/{app,render,scene,snow,music,components,platform/gl}
  printf '#include "platform/d3d/Device.h"\n#include <vector>\n' >"$1/render/modD3D.cpp"
  printf '#include "render/FrameContext.h"\n' >"$1/snow/modSnow.cpp"
  printf '#include "render/modGen.h"\n#include <cmath>\n' >"$1/components/LandScape.cpp"
  printf '#include <SDL.h>\n#include <epoxy/gl.h>\n#include <png.h>\n#include FT_FREETYPE_H\n' \
    >"$1/platform/gl/GlContext.cpp"
  printf '#include "app/modAPI.h"\n#include "render/modD3D.h"\n#include <SDL.h>\n' >"$1/app/Form1.cpp"
  # Only an include line counts, not one that mentions one.
  printf '// Nothing here does #include "app/Card.h".\n' >"$1/scene/Plane.h"
}

tree="$scratch/clean"
make_tree "$tree"
if ! out=$(bash "$check" "$tree" 2>&1); then
  echo "FAIL: a tree whose includes point one way was refused:"
  echo "$out"
  failures=$((failures + 1))
fi

# expect_refused FILE LINE_TEXT: the tree with FILE holding LINE_TEXT on its second line is refused.
n=0
expect_refused() {
  local file=$1 text=$2
  n=$((n + 1))
  local tree="$scratch/crossing-$n"
  make_tree "$tree"
  mkdir -p "$(dirname "$tree/$file")"
  printf '// first line\n%s\n' "$text" >"$tree/$file"
  local out status
  out=$(bash "$check" "$tree" 2>&1)
  status=$?
  if [ "$status" -ne 1 ]; then
    echo "FAIL: '$text' in $file: exit status $status, not 1"
    echo "$out"
    failures=$((failures + 1))
  elif ! grep -qF "$file:2: " <<<"$out"; then
    echo "FAIL: '$text' in $file: the report does not name $file:2"
    echo "$out"
    failures=$((failures + 1))
  fi
}

expect_refused render/modD3D.cpp '#include "app/modAPI.h"'
expect_refused snow/modSnow.h '#include "app/Credits.h"'
expect_refused music/modMusic.cpp '  #  include "app/Form1.h"'
expect_refused components/SkyBox.cpp '#include <app/Card.h>'
expect_refused platform/window/Window.h '#include "app/Form1.h"'
expect_refused platform/gl/GlBackend.cpp '#include "render/modD3D.h"'
expect_refused platform/audio/DirectMusic.cpp '#include "music/modMusic.h"'
expect_refused platform/d3dx/Mesh.cpp '#include "scene/Mesh.h"'
expect_refused platform/video/Codecs.cpp '#include "components/HeightMap.h"'
expect_refused platform/d3d/Device.cpp '#include "snow/modSnow.h"'
expect_refused render/Camera.cpp '#include <SDL2/SDL.h>'
expect_refused snow/modSnow.cpp '#include "SDL_timer.h"'
expect_refused render/fog.cpp '#include <GL/gl.h>'
expect_refused render/modGen.cpp '#include <GLES3/gl3.h>'
expect_refused scene/Plane.cpp '#include <epoxy/gl.h>'
expect_refused scene/Mesh.cpp '#include <EGL/egl.h>'
expect_refused music/modMusic.cpp '#include <fluidsynth.h>'
expect_refused render/modGen.h '#include <ft2build.h>'
expect_refused render/modGen.cpp '#include FT_FREETYPE_H'
expect_refused render/modGen.cpp '#include <fontconfig/fontconfig.h>'
expect_refused render/modGen.cpp '#include <hb.h>'
expect_refused render/modGen.cpp '#include <fribidi.h>'
expect_refused render/modGen.cpp '#include <unicode/ubrk.h>'
expect_refused components/HeightMap.cpp '#include <png.h>'
expect_refused scene/Mesh.cpp '#include <jpeglib.h>'
expect_refused scene/Mesh.cpp '#include <turbojpeg.h>'
expect_refused music/modMusic.cpp '#include <libavcodec/avcodec.h>'
expect_refused components/LandScape.cpp '#include <libswscale/swscale.h>'
expect_refused components/HeightMap.cpp '#include <MagickCore/MagickCore.h>'

# A folder that does not exist is no source tree.
if bash "$check" "$scratch/none" >/dev/null 2>&1; then
  echo "FAIL: a missing folder passed the check"
  failures=$((failures + 1))
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures of $((n + 2)) cases failed"
  exit 1
fi
echo "all $((n + 2)) cases passed"
