#!/usr/bin/env bash
# Makes the test images of the texture loader from the text pictures beside this script, with
# ImageMagick 6 (Debian's `imagemagick`) and, where it writes no such file, a few bytes changed by
# Python. The tests read the text pictures for the values each texel must have.
#   tests/data/images/make.sh
set -euo pipefail
cd "$(dirname "$0")"
im() { convert -define png:exclude-chunks=date,time "$@"; }
rgba=$(mktemp --suffix=.png)
blocks=$(mktemp --suffix=.png)
trap 'rm -f "$rgba" "$blocks"' EXIT
im base20.ppm alpha20.pgm -alpha off -compose CopyOpacity -composite PNG32:"$rgba"
im blocks.ppm blocks-alpha.pgm -alpha off -compose CopyOpacity -composite PNG32:"$blocks"

# BMP: 1, 4 and 8 bits with palettes, RLE8, 16 bits as 5:6:5 bit fields, 24 bits, 32 bits with alpha.
im mono.pbm -type Bilevel BMP3:mono.bmp
im base16.ppm -type Palette BMP3:pal4.bmp
im base20.ppm -type Palette -compress None BMP3:pal8.bmp
im base20.ppm -type Palette -compress RLE BMP3:rle8.bmp
im corners.ppm -define bmp:subtype=RGB565 BMP:rgb565.bmp
im base20.ppm BMP3:rgb24.bmp
im "$rgba" BMP:argb32.bmp
# Rows stored top first, which a negative height says.
python3 - <<'PY'
import struct
b = bytearray(open('rgb24.bmp', 'rb').read())
off, = struct.unpack_from('<I', b, 10)
w, h = struct.unpack_from('<ii', b, 18)
stride = (w * 3 + 3) // 4 * 4
rows = [b[off + i * stride: off + (i + 1) * stride] for i in range(h)]
b[off:] = b''.join(reversed(rows))
struct.pack_into('<i', b, 22, -h)
open('topdown24.bmp', 'wb').write(b)
PY

# TGA: true colour bottom-up and top-down, RLE, with alpha, grey, palette, RLE palette, an image ID.
im base20.ppm TGA:rgb24.tga
im base20.ppm -orient TopLeft TGA:topdown24.tga
im base20.ppm -compress RLE TGA:rle24.tga
im "$rgba" TGA:rgba32.tga
im grey20.pgm -type Grayscale TGA:grey8.tga
im base20.ppm -type Palette TGA:pal8.tga
im base20.ppm -type Palette -compress RLE TGA:rlepal8.tga
im base20.ppm -set comment "made for the texture tests" TGA:id24.tga

# DDS: DXT1, DXT3, DXT5 and uncompressed A8R8G8B8, no mip levels.
im blocks.ppm -define dds:compression=dxt1 -define dds:mipmaps=0 DDS:dxt1.dds
im "$blocks" -define dds:compression=dxt3 -define dds:mipmaps=0 DDS:dxt3.dds
im "$blocks" -define dds:compression=dxt5 -define dds:mipmaps=0 DDS:dxt5.dds
im "$rgba" -define dds:compression=none -define dds:mipmaps=0 DDS:argb.dds
# DXT1 with its one-bit alpha, which ImageMagick does not write: a block whose first end point
# (blue) is not above its second (red) has three colours and transparent black; its first row holds
# indices 0, 1, 2, 3, the rest index 3.
python3 - <<'PY'
b = bytearray(open('dxt1.dds', 'rb').read())
b[128:136] = bytes([0x1f, 0x00, 0x00, 0xf8, 0b11100100, 0xff, 0xff, 0xff])
open('dxt1alpha.dds', 'wb').write(b)
PY

# PNG, Adam7-interlaced; JPEG baseline, progressive and grey.
im "$rgba" -interlace PNG PNG32:interlaced.png
im base20.ppm -quality 95 -sampling-factor 1x1 -interlace none JPEG:baseline.jpg
im base20.ppm -quality 95 -sampling-factor 1x1 -interlace JPEG JPEG:progressive.jpg
im grey20.pgm -quality 95 JPEG:grey.jpg
