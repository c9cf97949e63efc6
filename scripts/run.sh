#!/usr/bin/env bash
# Installs what is missing, builds the demo and runs it. Extra arguments go to the program.
# Without a display it renders headless and says where the picture went.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target winter-greeting >/dev/null
exe="$build/bin/winter-greeting"
if [ $# -gt 0 ]; then
  exec "$exe" "$@"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  out="$PWD/winter-greeting.png"
  echo "No display found: rendering 10 seconds headless instead."
  exec "$exe" --headless --frames 600 --screenshot "$out"
fi
exec "$exe"
