#!/usr/bin/env python3
"""Small helpers for driving Kerbilo under Xvfb, standard library only.

  x11_tool.py make-file OUT          a file with random bytes around two PNG pictures
  x11_tool.py picture OUT W H RRGGBB a PNG of one colour
  x11_tool.py clear-file OUT         a file holding a fully transparent PNG among filler
  x11_tool.py many-file OUT N        N green 40x40 pictures, then ten red ones
  x11_tool.py png OUT.xwd OUT.png [X Y W H]   an xwd dump (24 or 32 bits) as PNG, cropped
  x11_tool.py red OUT.xwd X Y W H    how many pure-red pixels the rectangle holds
  x11_tool.py count OUT.xwd X Y W H RRGGBB   how many pixels of about that colour it holds
"""
import os
import random
import struct
import sys
import zlib


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(width, height, pixel):
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def make_file(out):
    rnd = random.Random(4242)
    red = png(96, 96, lambda x, y: (255, 0, 0))
    # A picture worth showing in a screenshot: a smooth colour field with a sun.
    def scene(x, y):
        if (x - 150) ** 2 + (y - 70) ** 2 < 30 ** 2:
            return (250, 200, 40)
        if y > 130:
            return (40, 120 + y // 4, 60)
        return (90 + y // 2, 150 + y // 3, 235)
    pretty = png(240, 180, scene)
    # Random filler never holds a PNG head, so exactly these two are found.
    filler = lambda n: bytes(b for b in rnd.randbytes(n) if b != 0x89)
    with open(out, "wb") as f:
        f.write(b"MZ" + filler(4000) + red + filler(3000) + pretty + filler(2000))


def clear_file(out):
    rows = b"".join(b"\0" + bytes(4 * 64) for _ in range(64))
    clear = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 64, 64, 8, 6, 0, 0, 0))
             + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    with open(out, "wb") as f:
        f.write(b"lead" + clear + b"tail")


def many_file(out, n):
    green = png(40, 40, lambda x, y: (0, 160, 0))
    red = png(40, 40, lambda x, y: (255, 0, 0))
    with open(out, "wb") as f:
        f.write(b"lead" + b"".join(green + b"--" for _ in range(n)) + b"".join(red + b"--" for _ in range(10)))


def read_xwd(path):
    d = open(path, "rb").read()
    h = struct.unpack(">25I", d[:100])
    header, width, height, bpp, bpl, ncolors = h[0], h[4], h[5], h[11], h[12], h[19]
    return width, height, bpp // 8, bpl, d[header + ncolors * 12:]


def pixels(path, x, y, w, h):
    width, height, n, bpl, px = read_xwd(path)
    x, y = max(0, x), max(0, y)
    w, h = min(w, width - x), min(h, height - y)
    for row in range(y, y + h):
        line = px[row * bpl:(row + 1) * bpl]
        yield [(line[i * n + 2], line[i * n + 1], line[i * n]) for i in range(x, x + w)]


def to_png(src, out, box):
    rows = list(pixels(src, *box))
    data = b"".join(b"\0" + b"".join(bytes(p) for p in r) for r in rows)
    w, h = len(rows[0]), len(rows)
    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(data, 9)) + chunk(b"IEND", b""))


def main(argv):
    if argv[1] == "make-file":
        make_file(argv[2])
    elif argv[1] == "many-file":
        many_file(argv[2], int(argv[3]))
    elif argv[1] == "clear-file":
        clear_file(argv[2])
    elif argv[1] == "picture":
        colour = bytes.fromhex(argv[5])
        with open(argv[2], "wb") as f:
            f.write(png(int(argv[3]), int(argv[4]), lambda x, y: colour))
    elif argv[1] == "png":
        width, height = read_xwd(argv[2])[:2]
        box = [int(v) for v in argv[4:8]] if len(argv) >= 8 else [0, 0, width, height]
        to_png(argv[2], argv[3], box)
    elif argv[1] == "red":
        box = [int(v) for v in argv[3:7]]
        print(sum(1 for r in pixels(argv[2], *box) for p in r if p[0] > 240 and p[1] < 20 and p[2] < 20))
    elif argv[1] == "count":
        box = [int(v) for v in argv[3:7]]
        want = bytes.fromhex(argv[7])
        near = lambda p: all(abs(a - b) <= 20 for a, b in zip(p, want))
        print(sum(1 for r in pixels(argv[2], *box) for p in r if near(p)))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
