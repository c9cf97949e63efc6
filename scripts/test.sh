#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the normal build, the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz harness briefly.
#   scripts/test.sh            everything, as CI runs it (about ten minutes on two cores)
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
# The web page's runtime is built and tested in the normal build: emscripten and Chromium too.
bash scripts/install-deps.sh --test
jobs=$(nproc)
passed=0
skipped=0
failed=0
fuzz="fuzz harnesses not run"
# Adds the counts of the ctest log $1 to `passed`, `skipped` and `failed`.
add_counts() {
  local p s f
  read -r p s f < <(bash scripts/ctest-counts.sh "$1")
  passed=$((passed + p))
  skipped=$((skipped + s))
  failed=$((failed + f))
}
# Runs ctest in build folder $1, under the command that follows (env with its variables), and adds
# its counts; returns ctest's exit status.
# LeakSanitizer stops every thread to look for leaks when a process ends; now and then its own
# tracer crashes while the GL driver's threads are ending ("Tracer caught signal 11"), though the
# test itself passed. Only tests that failed that way run once more; any other failure stands.
run_ctest() {
  local dir=$1 log rerun status=0 p s f
  shift
  log=$(mktemp)
  (cd "$dir" && "$@" ctest --output-on-failure -j"$jobs" --timeout 900) | tee "$log" || status=$?
  read -r p s f < <(bash scripts/ctest-counts.sh "$log")
  if [ "$status" -ne 0 ] && [ "$f" -gt 0 ] && [ "$(grep -c 'Tracer caught signal' "$log")" -ge "$f" ] &&
    [ "$(grep -c 'LeakSanitizer has encountered a fatal error' "$log")" -ge "$f" ]; then
    echo "== Running again the $f test(s) whose leak check crashed after they passed"
    rerun=$(mktemp)
    status=0
    (cd "$dir" && "$@" ctest --output-on-failure --rerun-failed --timeout 900) | tee "$rerun" || status=$?
    passed=$((passed + p))
    skipped=$((skipped + s))
    add_counts "$rerun"
    rm -f "$rerun"
  else
    add_counts "$log"
  fi
  rm -f "$log"
  return "$status"
}
# The last line: tests passed, skipped and failed over every build, and the fuzz harnesses apart.
summary() { echo "summary: $passed passed, $skipped skipped, $failed failed (tests); $fuzz"; }
# Ends the script with a failing step's exit status, after the summary of what ran.
stop() {
  summary
  exit "$1"
}

build=${BUILD_DIR:-build}
echo "== Normal build ($build)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWG_WERROR=ON >/dev/null
cmake --build "$build"
run_ctest "$build" env || stop $?
if [ "$quick" -eq 1 ]; then
  fuzz="fuzz harnesses not run (--quick)"
  stop 0
fi

asan=${ASAN_BUILD_DIR:-build-asan}
echo "== Sanitizer build ($asan): AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWG_WERROR=ON -DWG_SANITIZE=ON \
  -DWG_BENCH=OFF >/dev/null
cmake --build "$asan"
# intercept_tls_get_addr=0: with the sanitizer runtime tracking every dynamic TLS block, its leak
# check at exit read a stale block of the GL driver's ("DTLS 14 at 0x...cd9") and its tracer crashed
# in GL test programs, every run under ctest. Without that tracking the leak check reads the threads'
# stacks and static TLS as before.
run_ctest "$asan" env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 \
  UBSAN_OPTIONS=print_stacktrace=1 || stop $?

echo "== Fuzz harnesses, ${FUZZ_SECONDS:-30} s each"
harnesses=(fuzz/*_fuzz.cpp)
log=$(mktemp)
status=0
bash fuzz/run.sh "${FUZZ_SECONDS:-30}" | tee "$log" || status=$?
# fuzz/run.sh names each harness that failed: "NAME_fuzz FAILED (...)".
faults=$(grep -c '^[a-z_]*_fuzz FAILED' "$log" || true)
rm -f "$log"
if [ "$status" -eq 0 ]; then
  fuzz="${#harnesses[@]} fuzz harnesses ran clean"
elif [ "$faults" -gt 0 ]; then
  fuzz="$((${#harnesses[@]} - faults)) fuzz harnesses ran clean, $faults failed"
else
  fuzz="the fuzz harnesses did not run (exit status $status)"
fi
stop "$status"
