#!/usr/bin/python3
"""Writes the pictures that resources.rc builds into the test programs, and the ones the
replacement checks put in their place, into pictures/ and replace/ beside this script.

Every picture's pixels come from a pattern of its own (a seed), so two pictures never share
pixels, and no row, column or palette entry repeats another: a decoder that swaps rows, drops
the padding at a row's end, reads the palette in the wrong order or takes the mask for the
image makes a different picture. Odd widths put padding at the end of most rows.

Written by this script alone (struct and zlib), except the GIF and the JPEG, which
ImageMagick's convert encodes from a PPM written here. The results are committed; run again
only to change them, and check the depths with identify afterwards.
Usage: /usr/bin/python3 tests/data/pe/make_pictures.py
"""

import os
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def colour(x, y, seed):
    """An RGB pixel that changes along both axes, differently for each seed."""
    return ((x * (7 + seed) + y * 3 + seed * 40) % 256,
            (y * (11 + seed) + x * 5 + seed * 90) % 256,
            ((x ^ y) * (13 + seed) + seed * 17) % 256)


def palette(count, seed):
    """`count` colours, all distinct and none grey, so a palette read in another order
    shows."""
    return [((i * 67 + seed * 29 + 20) % 256, (i * 151 + seed * 71 + 90) % 256,
             (i * 37 + seed * 13 + 200) % 256) for i in range(count)]


def index(x, y, count, seed):
    """A palette index that changes along both axes."""
    return (x * 3 + y * 5 + (x * y) // 3 + seed) % count


def alpha(x, y, w, h):
    """Opaque in the middle, clear in one corner, partly clear along two edges."""
    if x + y < min(w, h) // 4:
        return 0
    if x == w - 1 or y == h - 1:
        return 128
    return 255


def row_bytes(bits, width):
    return (bits * width + 31) // 32 * 4


def pack_row(values, bits):
    """One bottom-up DIB row of palette indices (bits 1, 4, 8), padded to 4 bytes."""
    out = bytearray()
    if bits == 8:
        out += bytes(values)
    else:
        per = 8 // bits
        for i in range(0, len(values), per):
            byte = 0
            for j, v in enumerate(values[i:i + per]):
                byte |= v << (8 - bits * (j + 1))
            out.append(byte)
    return bytes(out) + bytes(-len(out) % 4)


def dib(width, height, bits, seed, masked, mask_height=True):
    """A BITMAPINFOHEADER, its palette and its pixels (bottom-up). `masked` adds the AND
    mask an icon or cursor image carries, and doubles the height in the header."""
    colours = palette(1 << bits, seed) if bits <= 8 else []
    pixels = bytearray()
    for y in reversed(range(height)):
        if bits <= 8:
            pixels += pack_row([index(x, y, 1 << bits, seed) for x in range(width)], bits)
        else:
            row = bytearray()
            for x in range(width):
                r, g, b = colour(x, y, seed)
                row += bytes((b, g, r))
                if bits == 32:
                    row.append(alpha(x, y, width, height))
            pixels += row + bytes(-len(row) % 4)
    mask = bytearray()
    if masked:
        for y in reversed(range(height)):
            mask += pack_row([1 if alpha(x, y, width, height) == 0 else 0 for x in range(width)], 1)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2 if masked else height, 1, bits, 0,
                         len(pixels) + len(mask), 0, 0, len(colours), 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    return header + table + bytes(pixels) + bytes(mask)


def png(width, height, seed, opaque=False):
    """An RGBA PNG, each row stored with the Sub filter, which makes the pattern small."""
    raw = bytearray()
    for y in range(height):
        row = bytearray()
        for x in range(width):
            row += bytes(colour(x, y, seed))
            row.append(255 if opaque else alpha(x, y, width, height))
        raw.append(1)  # Sub: each byte less the one four before it
        raw += row[:4] + bytes((row[i] - row[i - 4]) % 256 for i in range(4, len(row)))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body)))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def icon_file(images, cursor=False):
    """An .ico, or a .cur when `cursor`. Each image is (width, height, bits, seed) for a DIB,
    or (256, 256, 'png', seed); a cursor's add the hot spot (x, y)."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for image in images:
        width, height, bits, seed = image[:4]
        data = png(width, height, seed) if bits == "png" else dib(width, height, bits, seed, True)
        depth = 32 if bits == "png" else bits
        if cursor:
            planes, depth = image[4]  # a cursor's entry holds the hot spot there
        else:
            planes = 1
        entries.append(struct.pack("<BBBBHHII", width % 256, height % 256,
                                   (1 << bits) % 256 if bits != "png" and bits < 8 else 0, 0,
                                   planes, depth, len(data), offset))
        blobs.append(data)
        offset += len(data)
    return (struct.pack("<HHH", 0, 2 if cursor else 1, len(images)) + b"".join(entries)
            + b"".join(blobs))


def bmp_file(width, height, bits, seed):
    body = dib(width, height, bits, seed, False)
    colours = 4 * (1 << bits) if bits <= 8 else 0
    return struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, 14 + 40 + colours) + body


def ppm(width, height, seed):
    pixels = b"".join(bytes(colour(x, y, seed)) for y in range(height) for x in range(width))
    return b"P6 %d %d 255\n" % (width, height) + pixels


def by_convert(ppm_frames, args, suffix):
    """Encodes the frames with ImageMagick, without any dated chunk or comment."""
    with tempfile.TemporaryDirectory() as tmp:
        names = []
        for i, frame in enumerate(ppm_frames):
            names.append(os.path.join(tmp, "%d.ppm" % i))
            with open(names[-1], "wb") as f:
                f.write(frame)
        out = os.path.join(tmp, "out." + suffix)
        subprocess.run(["convert"] + args + names + ["-strip", out], check=True)
        with open(out, "rb") as f:
            return f.read()


def write(folder, name, data):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    with open(os.path.join(HERE, folder, name), "wb") as f:
        f.write(data)


# What resources.rc builds in: seeds 1 to 29.
write("pictures", "app.ico", icon_file([(16, 16, 4, 1), (32, 32, 8, 2), (48, 48, 32, 3),
                                         (256, 256, "png", 4)]))
write("pictures", "small.ico", icon_file([(24, 24, 24, 5)]))
write("pictures", "arrow.cur", icon_file([(32, 32, 1, 6, (5, 9))], cursor=True))
write("pictures", "busy.cur", icon_file([(16, 16, 8, 7, (3, 12)), (32, 32, 32, 8, (20, 7))],
                                        cursor=True))
for bits, (w, h), seed in ((1, (13, 9), 9), (4, (11, 7), 10), (8, (17, 10), 11),
                           (24, (15, 6), 12), (32, (9, 5), 13)):
    write("pictures", "bits%d.bmp" % bits, bmp_file(w, h, bits, seed))
# The same name as bits24.bmp's bitmap, in another language.
write("pictures", "bits24_german.bmp", bmp_file(15, 6, 24, 18))
write("pictures", "logo.png", png(20, 12, 14))
write("pictures", "photo.jpg", by_convert([ppm(24, 16, 15)], ["-quality", "90"], "jpg"))
write("pictures", "spin.gif", by_convert([ppm(10, 8, 16), ppm(10, 8, 17)],
                                         ["-delay", "20", "-loop", "0"], "gif"))

# What the replacement checks put in: seeds 30 on. Named by what each is, since a check
# picks the one whose size fits its case.
write("replace", "icon_16_4bit.ico", icon_file([(16, 16, 4, 30)]))
write("replace", "icon_24_24bit.ico", icon_file([(24, 24, 24, 31)]))
write("replace", "icon_32_8bit.ico", icon_file([(32, 32, 8, 32)]))
write("replace", "icon_64_32bit.ico", icon_file([(64, 64, 32, 33)]))
write("replace", "icon_three.ico", icon_file([(16, 16, 8, 34), (32, 32, 32, 35),
                                              (48, 48, 4, 36)]))
write("replace", "icon_with_png.ico", icon_file([(32, 32, 4, 37), (256, 256, "png", 38)]))
write("replace", "cursor_32_1bit.cur", icon_file([(32, 32, 1, 39, (27, 2))], cursor=True))
write("replace", "bits8.bmp", bmp_file(17, 10, 8, 40))
write("replace", "bits24_large.bmp", bmp_file(41, 23, 24, 41))
# Opaque: a bitmap it replaces may be stored without alpha.
write("replace", "picture.png", png(21, 13, 42, opaque=True))
