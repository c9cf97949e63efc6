#!/usr/bin/env bash
# The .deb as a user meets it: built by cpack, installed with dpkg, run from the PATH, removed and
# purged without a trace. Needs root; skipped (exit 77) without it, in the sanitizer build, and where
# the package is already installed (a user's own installation is not ours to remove).
#   package_test.sh BUILD_DIR SANITIZED
set -euo pipefail
build=$1
sanitized=$2
skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
[ "$sanitized" = 1 ] && skip "the sanitizer build is not installed"
command -v dpkg >/dev/null || skip "no dpkg on this machine"

# Every build folder on this machine installs the same package name: one test at a time, machine-wide.
exec 9>/tmp/winter-greeting-package-test.lock
flock -w 1200 9 || { echo "FAIL: another package test held the lock for 20 minutes"; exit 1; }

if dpkg-query -W -f='${Status}' winter-greeting 2>/dev/null | grep -q 'ok installed'; then
  skip "winter-greeting is already installed here"
fi

work=$(mktemp -d)
installed=0
cleanup() {
  [ "$installed" = 1 ] && dpkg --purge winter-greeting >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

# dpkg refuses at once while apt or another dpkg holds its lock: wait for it instead.
dpkg_retry() {
  local out
  for _ in $(seq 1 300); do
    if out=$(dpkg "$@" 2>&1); then
      return 0
    fi
    case "$out" in
      *lock*) sleep 2 ;;
      *) echo "$out"; return 1 ;;
    esac
  done
  echo "$out"
  return 1
}

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/winter-greeting_*.deb)

# What the package holds, before it is installed.
dpkg-deb -c "$deb" >"$work/contents"
for f in ./usr/lib/winter-greeting/winter-greeting ./usr/lib/winter-greeting/winter-greeting-video.so \
  ./usr/lib/winter-greeting/tex/snow.jpg \
  ./usr/lib/winter-greeting/tex/snow.png ./usr/lib/winter-greeting/models/tree.x \
  ./usr/lib/winter-greeting/music/main.mid ./usr/share/applications/winter-greeting.desktop \
  ./usr/share/icons/hicolor/256x256/apps/winter-greeting.png ./usr/share/icons/hicolor/16x16/apps/winter-greeting.png \
  ./usr/share/man/man6/winter-greeting.6.gz ./usr/share/doc/winter-greeting/copyright \
  ./usr/share/doc/winter-greeting/changelog.gz; do
  grep -q " $f\$" "$work/contents" || fail "the package lacks $f"
done
grep -q ' ./usr/bin/winter-greeting -> ../lib/winter-greeting/winter-greeting$' "$work/contents" ||
  fail "the package lacks the link /usr/bin/winter-greeting"
deps=$(dpkg-deb -f "$deb" Depends)
for d in libsdl2 libfluidsynth libavcodec timgm6mb-soundfont fonts-liberation2; do
  case "$deps" in *"$d"*) ;; *) fail "Depends lacks $d: $deps" ;; esac
done

dpkg_retry -i "$deb" || fail "dpkg -i"
installed=1
[ "$(command -v winter-greeting)" = /usr/bin/winter-greeting ] || fail "winter-greeting is not on the PATH"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/winter-greeting.desktop || fail "the desktop entry is not valid"
fi
if command -v man >/dev/null && [ -f /usr/share/man/man6/winter-greeting.6.gz ]; then
  warnings=$(man --warnings -l /usr/share/man/man6/winter-greeting.6.gz 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page has warnings: $warnings"
fi

# From the PATH, in a folder of its own: the program finds its media through the link.
(cd "$work" && env -u DISPLAY winter-greeting --headless --frames 2 --screenshot shot.png >run.log 2>&1) ||
  { cat "$work/run.log"; fail "the installed program did not run"; }
grep -q '^Wrote frame 2 to shot.png$' "$work/run.log" || { cat "$work/run.log"; fail "unexpected output"; }
# A 1024 x 768 PNG: the signature, then IHDR's width and height.
[ "$(head -c 8 "$work/shot.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "shot.png is no PNG"
[ "$(dd if="$work/shot.png" bs=1 skip=16 count=8 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 0000040000000300 ] ||
  fail "shot.png is not 1024 x 768"

# Recording loads the codec module from the installed application folder.
(cd "$work" && env -u DISPLAY winter-greeting --record clip.mp4 --seconds 0.2 >record.log 2>&1) ||
  { cat "$work/record.log"; fail "the installed program did not record"; }
[ -s "$work/clip.mp4" ] || fail "the installed program wrote no clip.mp4"

# Removed, every file of the package goes; purged, dpkg forgets it.
dpkg -L winter-greeting >"$work/files"
dpkg_retry -r winter-greeting || fail "dpkg -r"
while read -r f; do
  if [ -f "$f" ] || [ -L "$f" ]; then fail "$f is left after removal"; fi
done <"$work/files"
[ ! -e /usr/lib/winter-greeting ] || fail "/usr/lib/winter-greeting is left after removal"
dpkg_retry --purge winter-greeting || fail "dpkg --purge"
installed=0
status=$(dpkg-query -W -f='${Status}' winter-greeting 2>/dev/null || true)
case "$status" in
  "" | *not-installed) ;;
  *) fail "dpkg still knows winter-greeting after purge: $status" ;;
esac
echo "installed, ran from the PATH and removed $(basename "$deb")"
