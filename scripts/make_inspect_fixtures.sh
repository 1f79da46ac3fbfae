#!/bin/sh
# Regenerates tests/data/inspect: real pictures for the structure walkers' tests, written
# by ImageMagick from its built-in rose sample, with an EXIF thumbnail added by exiftool,
# restart markers by libjpeg-turbo's cjpeg and a few chunk layouts rearranged by python3.
# The tests know each file's size, dimensions and layout, so a regenerated set must be
# checked against them. Needs imagemagick, libimage-exiftool-perl, libjpeg-turbo-progs.
# Usage: scripts/make_inspect_fixtures.sh
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$repo/tests/data/inspect
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"
# Timestamps in PNG text chunks would change every file on every run.
nodate="-define png:exclude-chunks=date,time"

# An animation whose LZW data holds 00 3B, which a scan for the GIF's tail takes for the
# end. Whether an encoding holds it is luck, so palette sizes are tried until one does.
found=
for colours in 32 16 64 128 256; do
    convert rose: -colors "$colours" \( +clone -rotate 90 \) \( -clone 0 -flop \) \
        -set delay 20 -loop 0 "$tmp/anim.gif"
    if python3 - "$tmp/anim.gif" <<'PY'
import sys
d = open(sys.argv[1], 'rb').read()
p = 13 + (3 * (2 << (d[10] & 7)) if d[10] & 0x80 else 0)
while d[p] != 0x3B:
    start = p
    if d[p] == 0x2C:
        p += 10 + (3 * (2 << (d[p + 9] & 7)) if d[p + 9] & 0x80 else 0) + 1
    else:
        p += 2
    while d[p]:
        p += d[p] + 1
    p += 1
    if d[start] == 0x2C and d.find(b'\x00\x3b', start, p - 1) >= 0:
        sys.exit(0)
sys.exit(1)
PY
    then
        found=$colours
        break
    fi
done
[ -n "$found" ] || { echo "no palette size gave LZW data holding 00 3B" >&2; exit 1; }
cp "$tmp/anim.gif" "$out/rose_anim.gif"

# A JPEG whose EXIF segment holds a thumbnail with its own SOI and EOI.
convert rose: -resize 200% "$tmp/big.jpg"
convert rose: -thumbnail 40x40 "$tmp/thumb.jpg"
exiftool -q -overwrite_original "-ThumbnailImage<=$tmp/thumb.jpg" -Make=Kerbilo "$tmp/big.jpg"
cp "$tmp/big.jpg" "$out/rose_exif.jpg"
convert rose: -interlace JPEG "$out/rose_progressive.jpg"
convert rose: ppm:- | cjpeg -restart 4B -quality 80 >"$out/rose_restart.jpg"

# PNG chunk layouts: text chunks (plain and compressed) before IDAT, 16-bit samples, a
# palette, and the image data split over many IDAT chunks as streaming writers do.
convert rose: $nodate -set comment "A rose, photographed" "$out/rose_text.png"
exiftool -q -z -overwrite_original \
    "-PNG:Description=$(printf 'A rose from the built-in samples, in a compressed chunk. %.0s' 1 2 3 4 5 6)" \
    "$out/rose_text.png"
convert rose: -resize 50% -depth 16 $nodate PNG48:"$out/rose_16.png"
convert rose: -colors 16 $nodate PNG8:"$out/rose_palette.png"
convert rose: $nodate "$tmp/one_idat.png"
python3 - "$tmp/one_idat.png" "$out/rose_idat.png" <<'PY'
import struct, sys, zlib
d = open(sys.argv[1], 'rb').read()
chunks, p = [], 8
while p < len(d):
    n, = struct.unpack('>I', d[p:p + 4])
    chunks.append((d[p + 4:p + 8], d[p + 8:p + 8 + n]))
    p += 12 + n
idat = b''.join(body for kind, body in chunks if kind == b'IDAT')
out = [d[:8]]
def chunk(kind, body):
    out.append(struct.pack('>I', len(body)) + kind + body +
               struct.pack('>I', zlib.crc32(kind + body)))
written = False
for kind, body in chunks:
    if kind != b'IDAT':
        chunk(kind, body)
    elif not written:
        for i in range(0, len(idat), 1000):
            chunk(b'IDAT', idat[i:i + 1000])
        written = True
open(sys.argv[2], 'wb').write(b''.join(out))
PY

# Bitmaps: the Windows 3 header uncompressed and run-length encoded, and a V5 header.
convert rose: -resize 50% BMP3:"$out/rose.bmp"
convert rose: -resize 50% -colors 64 -compress RLE BMP3:"$out/rose_rle.bmp"
convert rose: -resize 50% BMP:"$out/rose_v5.bmp"

# An icon with a PNG entry (the 256-pixel size) and two bitmap entries; posterized so the
# PNG stays small.
convert rose: -resize 256x256! -posterize 3 $nodate -define icon:auto-resize=256,32,16 \
    "$out/rose.ico"
# A cursor: the icon layout with type 2 and a hotspot where an icon keeps planes and
# depth. Written from an icon because this ImageMagick writes a broken cursor directory.
convert rose: -define icon:auto-resize=32,16 "$tmp/small.ico"
python3 - "$tmp/small.ico" "$out/rose.cur" <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], 'rb').read())
d[2:4] = struct.pack('<H', 2)
count, = struct.unpack('<H', d[4:6])
for i in range(count):
    e = 6 + 16 * i
    side = d[e] or 256
    d[e + 4:e + 8] = struct.pack('<HH', side // 2, side // 2)
open(sys.argv[2], 'wb').write(bytes(d))
PY
ls -l "$out"
