#!/usr/bin/env bash
# From a fresh clone to the greeting as a web page: installs what is missing (emscripten included),
# builds the program and the page's WebAssembly runtime, and exports the page into FOLDER.
#   scripts/export-web.sh FOLDER
# Then serve FOLDER with any static web server and open it, for example:
#   python3 -m http.server --directory FOLDER 8000     (then http://localhost:8000/)
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: scripts/export-web.sh FOLDER" >&2
  exit 2
fi
out=$(realpath -m "$1")
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --web
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "Building the program and the page's runtime (the first time takes a few minutes)"
cmake --build "$build" --target winter-greeting web-runtime >/dev/null
exec "$build/bin/winter-greeting" --export-web "$out"
