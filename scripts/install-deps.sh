#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
#   scripts/install-deps.sh          what the program needs to build and run (scripts/run.sh)
#   scripts/install-deps.sh --web    that, and emscripten, which builds the web page's runtime
#                                    (--export-web, scripts/export-web.sh; about 800 MB more)
#   scripts/install-deps.sh --test   that, and what only the tests use (scripts/test.sh): Chromium
#                                    to show the web page, clang for the fuzz harnesses, Xvfb, openbox
#                                    and xdotool for the tests on an X server, desktop-file-utils and
#                                    lintian for the package's tests, pango-view to draw the text the
#                                    shaping tests compare with (about 1.3 GB more than the first)
# Idempotent: prints nothing and touches nothing when every package is present.
set -euo pipefail

# nlohmann-json3-dev parses glTF models' JSON (header only).
# GoogleTest, Google Benchmark and Xlib's headers are here because configuring the build reads them;
# HarfBuzz, FriBidi and ICU shape the text and order its directions; DejaVu and the Noto faces
# (the major scripts, Chinese/Japanese/Korean and colour emoji; about 145 MB together) give the text
# the faces a card's words may need.
packages=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libgl-dev libegl-dev libepoxy-dev libegl-mesa0 libgl1-mesa-dri
  libstb-dev zlib1g-dev libjpeg62-turbo-dev libpng-dev libmagickcore-6.q16-dev nlohmann-json3-dev
  libfreetype-dev libfontconfig-dev libharfbuzz-dev libfribidi-dev libicu-dev
  fonts-liberation2 fonts-dejavu-core fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji
  libfluidsynth-dev timgm6mb-soundfont
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libgtest-dev libgmock-dev libbenchmark-dev libx11-dev libssl-dev
)
web_packages=(emscripten)
test_packages=(chromium clang libclang-rt-14-dev xvfb openbox xdotool desktop-file-utils lintian pango1.0-tools)

case "${1:-}" in
  --web) packages+=("${web_packages[@]}") ;;
  --test) packages+=("${web_packages[@]}" "${test_packages[@]}") ;;
  "") ;;
  *) echo "usage: scripts/install-deps.sh [--web | --test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Quiet on success; on failure the package manager's own output says why.
if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; } \
    >"$log" 2>&1; then
  cat "$log" >&2
  echo "install-deps: could not install: ${missing[*]}" >&2
  exit 1
fi
