#!/usr/bin/env bash
# Makes docs/frame-shapes.jpg: the greeting and an example card in portrait (1080x1920), square
# (1080x1080) and wide (1920x1080) frames, each a real `--headless --size` frame 3 seconds in, put
# side by side at a common height.
#   scripts/frame-shapes.sh [BUILD_BIN] [OUT.jpg]
# Needs python3-pil to put the frames together.
set -euo pipefail

bin=${1:-build/bin}
out=${2:-docs/frame-shapes.jpg}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sizes=(1080x1920 1080x1080 1920x1080)
frames=()
for card in "" "$bin/cards/new-year-2027"; do
  for size in "${sizes[@]}"; do
    name="$work/${card:+card-}$size.png"
    "$bin/winter-greeting" --headless --frames 180 --size "$size" ${card:+--card "$card"} --screenshot "$name" >/dev/null
    frames+=("$name")
  done
done

/usr/bin/python3 - "$out" "${frames[@]}" <<'PY'
import sys
from PIL import Image

out, frames = sys.argv[1], sys.argv[2:]
height, gap = 540, 12
rows = [frames[:3], frames[3:]]
pictures = [[Image.open(f).convert("RGB") for f in row] for row in rows]
scaled = [[p.resize((round(p.width * height / p.height), height), Image.LANCZOS) for p in row] for row in pictures]
width = max(sum(p.width for p in row) + gap * (len(row) - 1) for row in scaled)
sheet = Image.new("RGB", (width, height * len(scaled) + gap * (len(scaled) - 1)), (255, 255, 255))
y = 0
for row in scaled:
    x = 0
    for p in row:
        sheet.paste(p, (x, y))
        x += p.width + gap
    y += height + gap
sheet.save(out, quality=88, optimize=True)
PY
echo "Wrote $out"
