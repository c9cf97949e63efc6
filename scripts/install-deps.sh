#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need.
#   scripts/install-deps.sh          what the program needs to build and run
#   scripts/install-deps.sh --web    that, and what the web page needs: emscripten to build its
#                                    runtime, Chromium to test it (about 1 GB more)
# Idempotent: prints nothing and touches nothing when every package is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libgl-dev libegl-dev libepoxy-dev libegl-mesa0 libgl1-mesa-dri
  libstb-dev zlib1g-dev libturbojpeg0-dev libpng-dev
  libfreetype-dev libfontconfig-dev fonts-liberation2
  libfluidsynth-dev timgm6mb-soundfont
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
)

web_packages=(emscripten chromium)
case "${1:-}" in
  --web) packages+=("${web_packages[@]}") ;;
  "") ;;
  *) echo "usage: scripts/install-deps.sh [--web]" >&2; exit 2 ;;
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
