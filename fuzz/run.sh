#!/usr/bin/env bash
# Runs every libFuzzer harness for SECONDS each (default 30) from its seed corpus.
#   fuzz/run.sh [SECONDS] [HARNESS...]
# Builds them first with clang, AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
build=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWG_FUZZ=ON \
  -DWG_SANITIZE=ON -DWG_BENCH=OFF >/dev/null
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=()
  for src in fuzz/*_fuzz.cpp; do harnesses+=("$(basename "$src" .cpp)"); done
fi
cmake --build "$build" --target "${harnesses[@]}" media >/dev/null
status=0
for h in "${harnesses[@]}"; do
  corpus=fuzz/corpus/${h%_fuzz}
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  artifacts="$build/artifacts"
  mkdir -p "$artifacts"
  echo "== $h: ${seconds}s"
  if ! "$build/fuzz/$h" "$work" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$h-" 2>"$work.log"; then
    echo "$h FAILED (the input that failed is in $artifacts); its log:"; tail -n 40 "$work.log"; status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb|stat::new_units_added' "$work.log" | sed 's/^/   /'
  fi
  rm -rf "$work" "$work.log"
done
exit $status
