#!/usr/bin/env bash
# Makes docs/greetings-of-the-world.png: the greeting line in many scripts, with emoji, and a long
# greeting wrapped onto three lines, each a crop of a real --headless frame of the program.
#   scripts/greetings-of-the-world.sh [BUILD_BIN] [OUT.png]
# Needs the Noto faces (scripts/install-deps.sh) and python3-pil to put the crops together.
set -euo pipefail

bin=${1:-build/bin}
out=${2:-docs/greetings-of-the-world.png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

greetings=(
  "عام سعيد، وكل عام وأنتم بخير"
  "שנה טובה ומתוקה לכולם"
  "नव वर्ष की हार्दिक शुभकामनाएँ"
  "শুভ নববর্ষ, সবাইকে শুভেচ্ছা"
  "புத்தாண்டு நல்வாழ்த்துகள்"
  "สวัสดีปีใหม่ ขอให้มีความสุข"
  "新年快乐，万事如意"
  "あけましておめでとうございます"
  "새해 복 많이 받으세요"
  "Καλή χρονιά · С Новым годом · Happy שנה טובה 2027!"
  "Happy New Year 🎄🎆 👨‍👩‍👧 🇺🇦 👍🏽 ❄️"
  "Dear Anna and Mark, thank you for a wonderful year full of laughter, long walks in the snow and kind words. May the coming year bring you health, calm mornings and a garden full of flowers! 🎄"
)

crops=()
for i in "${!greetings[@]}"; do
  "$bin/winter-greeting" --headless --greeting "${greetings[$i]}" --no-credits --screenshot "$work/$i.png" >/dev/null
  crops+=("$work/$i.png")
done

/usr/bin/python3 - "$out" "${crops[@]}" <<'PY'
import sys
from PIL import Image

out, frames = sys.argv[1], sys.argv[2:]
sky = (127, 127, 180)
strips = []
for f in frames:
    im = Image.open(f).convert("RGB")
    # The greeting's band: rows from its top (y = 20) down to where its red ink ends.
    px = im.load()
    bottom = 20
    for y in range(20, 200):
        if any(px[x, y][0] > 180 and px[x, y][1] < 120 for x in range(0, 1024, 1)):
            bottom = y
    strips.append(im.crop((0, 12, 1024, bottom + 8)))
height = sum(s.height for s in strips) + 2 * (len(strips) - 1)
sheet = Image.new("RGB", (1024, height), (60, 60, 90))
y = 0
for s in strips:
    sheet.paste(s, (0, y))
    y += s.height + 2
sheet.save(out, optimize=True)
PY
echo "Wrote $out"
