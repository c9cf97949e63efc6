#!/usr/bin/env bash
# The .deb as Debian's own checker sees it: cpack builds it and lintian has nothing to say about it,
# and its copyright file carries LICENSE's terms word for word. Skipped (exit 77) without lintian or
# dpkg, and in the sanitizer build, which is never packaged.
#   lintian_test.sh SOURCE_DIR BUILD_DIR SANITIZED
set -euo pipefail
source_dir=$1
build=$2
sanitized=$3
skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*"
  exit 1
}
[ "$sanitized" = 1 ] && skip "the sanitizer build is not packaged"
command -v lintian >/dev/null || skip "no lintian on this machine (scripts/install-deps.sh --test)"
command -v dpkg-deb >/dev/null || skip "no dpkg-deb on this machine"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/winter-greeting_*.deb)

# lintian warns on every run as root unless told that root is meant.
as_root=()
[ "$(id -u)" -eq 0 ] && as_root=(--allow-root)
said=$(lintian "${as_root[@]}" "$deb" 2>&1) || true
[ -z "$said" ] || fail "lintian on $(basename "$deb"):"$'\n'"$said"

# The terms in the copyright file, one space taken off each line and " ." read as an empty line.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/winter-greeting/copyright >"$work/copyright"
sed -n '/^License: Expat$/,$p' "$work/copyright" | tail -n +2 | sed 's/^ //; s/^\.$//' >"$work/terms"
sed -n '/^Permission is hereby granted/,$p' "$source_dir/LICENSE" >"$work/license"
diff -u "$work/license" "$work/terms" || fail "the copyright file's terms differ from LICENSE"
grep -qxF "Copyright: $(sed -n 's/^Copyright (c) //p' "$source_dir/LICENSE")" "$work/copyright" ||
  fail "the copyright file names another holder than LICENSE"
echo "lintian found nothing in $(basename "$deb"), whose copyright file carries LICENSE"
