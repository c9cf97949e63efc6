#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the normal build, the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz harness briefly.
#   scripts/test.sh            everything, as CI runs it (about half an hour on two cores)
#   scripts/test.sh --quick    the normal build and its tests only
# FUZZ_SECONDS sets the time given to each fuzz harness (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh
jobs=$(nproc)

build=${BUILD_DIR:-build}
echo "== Normal build ($build)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWG_WERROR=ON >/dev/null
cmake --build "$build"
(cd "$build" && ctest --output-on-failure -j"$jobs")
[ "$quick" -eq 1 ] && exit 0

asan=${ASAN_BUILD_DIR:-build-asan}
echo "== Sanitizer build ($asan): AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWG_WERROR=ON -DWG_SANITIZE=ON \
  -DWG_BENCH=OFF >/dev/null
cmake --build "$asan"
(cd "$asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" --timeout 900)

echo "== Fuzz harnesses, ${FUZZ_SECONDS:-30} s each"
bash fuzz/run.sh "${FUZZ_SECONDS:-30}"
