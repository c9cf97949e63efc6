#!/usr/bin/env bash
# Prints how many tests a ctest run passed, skipped and failed, read from its output:
#   scripts/ctest-counts.sh LOG    ->    "PASSED SKIPPED FAILED"
# ctest's closing line ("100% tests passed, 0 tests failed out of 370") counts a skipped test as
# passed, and leaves disabled tests out of its total; both are listed under "The following tests did
# not run:", each line ending "(Skipped)" or "(Disabled)". A test whose program is missing is listed
# among the failed ones ("(Not Run)") and counted there. Only the lists after the closing line are
# read: a failing test's own output, shown before it, may hold anything.
set -euo pipefail
awk '
  /^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$/ { failed = $4; total = $NF; closed = 1 }
  closed && /^The following tests did not run:$/ { listing = 1; next }
  listing && /^[ \t]+[0-9]+ - .* \(Skipped\)$/ { skipped++; next }
  listing && /^[ \t]+[0-9]+ - .* \(Disabled\)$/ { disabled++; next }
  listing { listing = 0 }
  END { printf "%d %d %d\n", total - failed - skipped, skipped + disabled, failed }
' "$1"
