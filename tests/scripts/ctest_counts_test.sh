#!/usr/bin/env bash
# scripts/ctest-counts.sh on real ctest output: a small project of its own with a test that passes,
# two skipped ways (an exit code, a line of output), one disabled, one whose program is missing and
# one that fails, run side by side as scripts/test.sh runs them.
#   ctest_counts_test.sh SOURCE_DIR
set -euo pipefail
counts=$1/scripts/ctest-counts.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

# expect NAME WANT TESTS...: runs a project of TESTS (add_test lines) and compares the counts.
expect() {
  local name=$1 want=$2 got
  shift 2
  mkdir -p "$work/$name"
  {
    echo 'cmake_minimum_required(VERSION 3.20)'
    echo 'project(counts NONE)'
    echo 'enable_testing()'
    printf '%s\n' "$@"
  } >"$work/$name/CMakeLists.txt"
  cmake -S "$work/$name" -B "$work/$name/build" >/dev/null
  (cd "$work/$name/build" && ctest --output-on-failure -j2 >"$work/$name.log" 2>&1) || true
  got=$(bash "$counts" "$work/$name.log")
  [ "$got" = "$want" ] || { cat "$work/$name.log"; fail "$name: counted '$got', want '$want' (passed skipped failed)"; }
}

expect all-kinds "1 3 2" \
  'add_test(NAME Good COMMAND true)' \
  'add_test(NAME SkippedByCode COMMAND sh -c "exit 77")' \
  'set_tests_properties(SkippedByCode PROPERTIES SKIP_RETURN_CODE 77)' \
  "add_test(NAME SkippedByOutput COMMAND sh -c \"echo '[  SKIPPED ] Case.Name'\")" \
  'set_tests_properties(SkippedByOutput PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")' \
  'add_test(NAME Disabled COMMAND true)' \
  'set_tests_properties(Disabled PROPERTIES DISABLED TRUE)' \
  'add_test(NAME Missing COMMAND /nonexistent/program)' \
  'add_test(NAME Bad COMMAND false)'
# A failing test's output that looks like ctest's own lists changes nothing.
expect failing-output "2 0 1" \
  'add_test(NAME One COMMAND true)' \
  'add_test(NAME Two COMMAND true)' \
  'add_test(NAME Noisy COMMAND sh -c "printf \"The following tests did not run:\\n\\t  9 - Ghost (Skipped)\\n\"; exit 1")'
expect none "0 0 0"
echo "counted passed, skipped and failed tests apart"
