#!/usr/bin/python3
"""Builds the archives and compressed streams that the structure scan's checks read, from
the pictures in tests/data, into OUT, and records in OUT/layout.json where each container
lies and which picture went where (the source kerbilo-cli must give it):

  stored.zip            zipfile, every entry stored
  deflated.zip          zipfile, deflated; a folder entry, a text, a UTF-8 name, one picture
                        under two names
  zip-cli.zip           the zip tool writing to a pipe: every entry with a data descriptor
  zip64.zip             zipfile with force_zip64: ZIP64 extra fields in the local headers
  zip64-records.zip     ZIP64 throughout: extra fields in the central directory too, the
                        ZIP64 end record and its locator
  after-random.bin      50,000 fixed pseudo-random bytes, then deflated.zip, its offsets
                        counting from its own start
  program-with-zip.exe  w64.exe (else filler), then a ZIP whose offsets `zip -A` adjusted
                        to count from the file's start: a self-extractor
  program-in-zip.zip    w64.exe as an entry (only when PROGRAMS holds it)
  zip-in-zip.zip        ZIPs as entries, one deflated and one stored, and a picture beside
  zlib-in-random.bin    filler, a zlib stream of stored blocks (room to spare), filler, a
                        zlib stream at level 9 (none), filler
  gzip-member.bin       filler, a gzip member with a file name in its header, filler
  traversal.zip         entries named ../../escape.png, /abs/escape.png, a<NUL>b.png,
                        C:\\x\\y.png and one with a line break, tab and DEL
  recursive.zip         ten levels, each a picture and two copies of the next level
  overlap.zip           10,000 central directory records sharing one local header, whose
                        stream inflates to 64 MiB of zeros: 640 GiB claimed from 65 KB
  zeros.gz              10 GiB of zeros in about 10 MB

Everything is made afresh each run with fixed dates, so the same tools give the same bytes.
Exits 77 (skipped) when the zip tool is missing.
Usage: zip_build.py DATA OUT [PROGRAMS]
"""

import gzip
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

import pe_common as pe
import zip_common as zc

DATE = (2026, 1, 2, 3, 4, 6)
DOS_TIME, DOS_DATE = 3 << 11 | 4 << 5 | 3, (2026 - 1980) << 9 | 1 << 5 | 2

PREFIX_BEFORE_ZIP = 50000  # after-random.bin
RECURSION_LEVELS = 10
OVERLAP_RECORDS = 10000
OVERLAP_KERNEL = 64 << 20
ZEROS_TOTAL = 10 << 30
ZEROS_SEGMENT = 64 << 20


class Layout:
    def __init__(self, data_folder, out):
        self.data_folder, self.out, self.files = data_folder, out, {}

    def picture(self, relative):
        return pe.read(os.path.join(self.data_folder, relative))

    def add(self, name, data, containers, pictures, **facts):
        """containers: (kind, offset, length); pictures: (source, picture, depth)."""
        pe.write(os.path.join(self.out, name), data)
        self.files[name] = dict(
            containers=[dict(kind=k, offset=o, length=n) for k, o, n in containers],
            pictures=[dict(source=s, picture=p, depth=d) for s, p, d in pictures], **facts)

    def save(self):
        with open(os.path.join(self.out, zc.LAYOUT), "w", encoding="utf-8") as f:
            json.dump(self.files, f, indent=1, ensure_ascii=False)


# ---- writing ZIP archives ---------------------------------------------------------------

def with_zipfile(entries, method, level=None, force_zip64=False):
    """An archive zipfile writes. entries: (name, content bytes or None for a folder[,
    method when not the archive's])."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, content, *own in entries:
            info = zipfile.ZipInfo(name, DATE)
            if content is None:
                info.external_attr = 0o40755 << 16 | 0x10
                archive.writestr(info, b"")
                continue
            info.compress_type = own[0] if own else method
            info.external_attr = 0o644 << 16
            if level is not None:
                info._compresslevel = level  # what ZipInfo.compress_level sets from 3.12
            with archive.open(info, "w", force_zip64=force_zip64) as f:
                f.write(content)
    return buffer.getvalue()


def deflate(content, level=9):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(content) + c.flush()


def by_hand(entries, zip64=False):
    """An archive written record by record, for what zipfile will not write: names as given
    bytes (NUL and all), and ZIP64 records throughout. entries: (name bytes, content,
    method)."""
    local, central = bytearray(), bytearray()
    for name, content, method in entries:
        stored = deflate(content) if method == 8 else content
        crc, offset = zlib.crc32(content), len(local)
        flags = 0x800 if any(b >= 0x80 for b in name) else 0
        if zip64:
            local_extra = struct.pack("<HHQQ", 1, 16, len(content), len(stored))
            central_extra = struct.pack("<HHQQQ", 1, 24, len(content), len(stored), offset)
            sizes = (0xFFFFFFFF, 0xFFFFFFFF)
            version, at = 45, 0xFFFFFFFF
        else:
            local_extra = central_extra = b""
            sizes = (len(stored), len(content))
            version, at = 20, offset
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, version, flags, method, DOS_TIME,
                             DOS_DATE, crc, *sizes, len(name), len(local_extra))
        local += name + local_extra + stored
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 3 << 8 | version, version,
                               flags, method, DOS_TIME, DOS_DATE, crc, *sizes, len(name),
                               len(central_extra), 0, 0, 0, 0o644 << 16, at)
        central += name + central_extra
    directory_at, count = len(local), len(entries)
    tail = bytearray()
    if zip64:
        end64_at = directory_at + len(central)
        tail += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 3 << 8 | 45, 45, 0, 0, count, count,
                            len(central), directory_at)
        tail += struct.pack("<IIQI", 0x07064B50, 0, end64_at, 1)
        tail += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF,
                            0xFFFFFFFF, 0)
    else:
        tail += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central),
                            directory_at, 0)
    return bytes(local + central + tail)


def overlap_bomb():
    """One local header and one deflated stream of zeros, and many central directory
    records, each naming another file and all pointing at that one header: reading every
    entry inflates the stream again each time."""
    kernel = deflate(bytes(OVERLAP_KERNEL))
    crc = zlib.crc32(bytes(OVERLAP_KERNEL))
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, DOS_TIME, DOS_DATE, crc,
                        len(kernel), OVERLAP_KERNEL, 1, 0) + b"0" + kernel
    central = bytearray()
    for i in range(OVERLAP_RECORDS):
        name = b"%05d" % i
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 3 << 8 | 20, 20, 0, 8,
                               DOS_TIME, DOS_DATE, crc, len(kernel), OVERLAP_KERNEL, len(name),
                               0, 0, 0, 0, 0o644 << 16, 0) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, OVERLAP_RECORDS, OVERLAP_RECORDS,
                      len(central), len(local), 0)
    return local + bytes(central) + end


def with_zip_tool(entries, scratch):
    """An archive the zip tool streams to a pipe, where it cannot seek back to a local header
    and writes each entry's CRC and sizes in a data descriptor after its data."""
    folder = tempfile.mkdtemp(dir=scratch)
    for name, content in entries:
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        pe.write(os.path.join(folder, name), content)
        os.utime(os.path.join(folder, name), (1767323046, 1767323046))
    zip_ = subprocess.Popen(["zip", "-q", "-X", "-9", "-", *[n for n, _ in entries]],
                            cwd=folder, stdout=subprocess.PIPE)
    data = zip_.stdout.read()
    if zip_.wait():
        raise RuntimeError("zip exited %d" % zip_.returncode)
    return data


def adjusted(prefix, archive, scratch):
    """prefix then archive, with `zip -A` making the archive's offsets count from the start
    of the file, as a self-extractor's are."""
    path = os.path.join(scratch, "sfx.exe")
    pe.write(path, prefix + archive)
    p = subprocess.run(["zip", "-A", path], capture_output=True)
    if p.returncode:
        raise RuntimeError("zip -A exited %d: %s" % (p.returncode, p.stderr.decode()))
    return pe.read(path)


# ---- streams ----------------------------------------------------------------------------

def crc32_combine(crc1, crc2, length2):
    """The CRC-32 of A then B from theirs and B's length (zlib's crc32_combine, which
    Python's zlib module does not offer): CRC-32 is linear over GF(2), so appending length2
    bytes is a 32x32 bit matrix raised to that power by squaring."""
    def times(matrix, vector):
        total, i = 0, 0
        while vector:
            if vector & 1:
                total ^= matrix[i]
            vector >>= 1
            i += 1
        return total

    def square(matrix):
        return [times(matrix, matrix[n]) for n in range(32)]

    if length2 <= 0:
        return crc1
    odd = [0xEDB88320] + [1 << n for n in range(31)]  # one zero bit
    even = square(odd)  # two
    odd = square(even)  # four
    while True:
        even = square(odd)
        if length2 & 1:
            crc1 = times(even, crc1)
        length2 >>= 1
        if not length2:
            break
        odd = square(even)
        if length2 & 1:
            crc1 = times(odd, crc1)
        length2 >>= 1
        if not length2:
            break
    return crc1 ^ crc2


def gzip_of_zeros(total, segment):
    """A gzip member of `total` zero bytes, in seconds and one segment of memory: a segment
    of zeros is deflated once, ending with a full flush so that the compressor forgets it,
    and the same compressed bytes then stand for every later segment. An empty final block
    ends the stream; the trailer's CRC comes from combining the segments' CRCs."""
    assert total % segment == 0
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    body = c.compress(bytes(segment)) + c.flush(zlib.Z_FULL_FLUSH)
    one = zlib.crc32(bytes(segment))
    crc, done = 0, 0
    while done < total:
        crc = crc32_combine(crc, one, segment)
        done += segment
    header = b"\x1f\x8b\x08\x00" + bytes(4) + b"\x02\xff"
    return (header + body * (total // segment) + b"\x03\x00"
            + struct.pack("<II", crc, total & 0xFFFFFFFF))


def gzip_member(content, name):
    """A gzip member whose header carries a file name (FNAME), as gzip(1) writes one."""
    header = b"\x1f\x8b\x08\x08" + bytes(4) + b"\x02\x03" + name + b"\x00"
    return header + deflate(content) + struct.pack("<II", zlib.crc32(content), len(content))


# ---- the fixtures -----------------------------------------------------------------------

STORED = [("pics/rose_16.png", "inspect/rose_16.png"), ("pics/rose_anim.gif",
                                                          "inspect/rose_anim.gif"),
          ("pics/rose_exif.jpg", "inspect/rose_exif.jpg"), ("pics/rose.bmp", "inspect/rose.bmp")]
DEFLATED = [("pics/rose_palette.png", "inspect/rose_palette.png"),
            ("pics/spin.gif", "pe/pictures/spin.gif"), ("pics/photo.jpg", "pe/pictures/photo.jpg"),
            ("pics/bits24.bmp", "pe/pictures/bits24.bmp"),
            ("pics/rose_v5.bmp", "inspect/rose_v5.bmp"),
            ("图片/玫瑰.png", "pe/pictures/logo.png"),
            ("copies/rose_palette.png", "inspect/rose_palette.png")]
README = b"Pictures for the archive checks; this entry holds none.\n" * 8
ZIP_CLI = [("pics/rose_16.png", "inspect/rose_16.png"), ("pics/rose_rle.bmp",
                                                          "inspect/rose_rle.bmp"),
           ("pics/rose_progressive.jpg", "inspect/rose_progressive.jpg"),
           ("pics/bits4.bmp", "pe/pictures/bits4.bmp")]
ZIP64 = [("pics/rose_restart.jpg", "inspect/rose_restart.jpg"),
         ("pics/bits8.bmp", "pe/pictures/bits8.bmp"),
         ("pics/rose_text.png", "inspect/rose_text.png")]
ZIP64_RECORDS = [(b"pics/bits32.bmp", "pe/pictures/bits32.bmp", 8),
                 (b"pics/rose_16.png", "inspect/rose_16.png", 0),
                 (b"pics/spin.gif", "pe/pictures/spin.gif", 8)]
SELF_EXTRACTOR = [("pics/rose_idat.png", "inspect/rose_idat.png"),
                  ("pics/bits1.bmp", "pe/pictures/bits1.bmp"),
                  ("pics/rose_anim.gif", "inspect/rose_anim.gif")]
INNER = [("pics/rose_16.png", "inspect/rose_16.png"),
         ("pics/bits24_german.bmp", "pe/pictures/bits24_german.bmp")]
STORED_INNER = [("pics/spin.gif", "pe/pictures/spin.gif"), ("pics/photo.jpg",
                                                            "pe/pictures/photo.jpg")]
TRAVERSAL = [(b"../../escape.png", "pe/pictures/logo.png"),
             (b"/abs/escape.png", "inspect/rose_palette.png"),
             (b"a\x00b.png", "inspect/rose_16.png"),
             (b"C:\\x\\y.png", "inspect/rose_text.png"),
             (b"line\nbreak\ttab\x7f.gif", "pe/pictures/spin.gif")]
ZLIB_ROOMY = "inspect/rose_idat.png"  # in stored blocks: any smaller picture fits
ZLIB_TIGHT = "pe/pictures/bits24.bmp"  # at level 9: a photograph will not fit
GZIP = "inspect/rose.bmp"
RECURSIVE = "inspect/rose_palette.png"


def build(data_folder, out, programs, scratch):
    lay = Layout(data_folder, out)
    pic = lay.picture

    def entries_of(table):
        return [(name, pic(p)) for name, p in table]

    def sources(offset, table):
        return [(zc.zip_source(offset, n.encode() if isinstance(n, str) else n), p, 1)
                for n, p, *_ in table]

    stored = with_zipfile(entries_of(STORED), zipfile.ZIP_STORED)
    lay.add("stored.zip", stored, [("zip", 0, len(stored))], sources(0, STORED))

    deflated = with_zipfile([("pics/", None)] + entries_of(DEFLATED) + [("readme.txt", README)],
                            zipfile.ZIP_DEFLATED, level=9)
    lay.add("deflated.zip", deflated, [("zip", 0, len(deflated))], sources(0, DEFLATED))

    cli = with_zip_tool(entries_of(ZIP_CLI), scratch)
    lay.add("zip-cli.zip", cli, [("zip", 0, len(cli))], sources(0, ZIP_CLI))

    zip64 = with_zipfile(entries_of(ZIP64), zipfile.ZIP_DEFLATED, force_zip64=True)
    lay.add("zip64.zip", zip64, [("zip", 0, len(zip64))], sources(0, ZIP64))

    records = by_hand([(n, pic(p), m) for n, p, m in ZIP64_RECORDS], zip64=True)
    lay.add("zip64-records.zip", records, [("zip", 0, len(records))],
            sources(0, ZIP64_RECORDS))

    prefix = pe.filler("after-random", PREFIX_BEFORE_ZIP)
    lay.add("after-random.bin", prefix + deflated,
            [("zip", len(prefix), len(deflated))], sources(len(prefix), DEFLATED))

    program_path = os.path.join(programs, "w64.exe") if programs else ""
    program = pe.read(program_path) if os.path.isfile(program_path) else None
    prefix = program or pe.filler("no program", 40000)
    archive = with_zipfile(entries_of(SELF_EXTRACTOR), zipfile.ZIP_DEFLATED, level=9)
    sfx = adjusted(prefix, archive, scratch)
    lay.add("program-with-zip.exe", sfx, [("zip", len(prefix), len(sfx) - len(prefix))],
            sources(len(prefix), SELF_EXTRACTOR), program=program is not None)
    if program:
        app = with_zipfile([("app.exe", program), ("pics/logo.png", pic("pe/pictures/logo.png"))],
                           zipfile.ZIP_DEFLATED)
        lay.add("program-in-zip.zip", app, [("zip", 0, len(app))],
                sources(0, [("pics/logo.png", "pe/pictures/logo.png")]))

    inner = with_zipfile(entries_of(INNER), zipfile.ZIP_DEFLATED)
    stored_inner = with_zipfile(entries_of(STORED_INNER), zipfile.ZIP_STORED)
    # The stored inner archive is stored in the outer one too: its bytes lie in the file as
    # they are, and it must still be found once, as an entry.
    outer = with_zipfile([("outer/inner.zip", inner),
                          ("outer/stored-inner.zip", stored_inner, zipfile.ZIP_STORED),
                          ("top.gif", pic("inspect/rose_anim.gif"))], zipfile.ZIP_DEFLATED)
    nested_pictures = [("zip:outer/inner.zip>" + zc.zip_source(0, n.encode()), p, 2)
                       for n, p in INNER]
    nested_pictures += [("zip:outer/stored-inner.zip>" + zc.zip_source(0, n.encode()), p, 2)
                        for n, p in STORED_INNER]
    nested_pictures += [("zip:top.gif", "inspect/rose_anim.gif", 1)]
    lay.add("zip-in-zip.zip", outer, [("zip", 0, len(outer))], nested_pictures)

    before, between, after = (pe.filler("zlib before", 20000), pe.filler("zlib between", 10000),
                              pe.filler("zlib after", 10000))
    roomy = zlib.compress(pic(ZLIB_ROOMY), 0)
    tight = zlib.compress(pic(ZLIB_TIGHT), 9)
    second = len(before) + len(roomy) + len(between)
    lay.add("zlib-in-random.bin", before + roomy + between + tight + after,
            [("zlib", len(before), len(roomy)), ("zlib", second, len(tight))],
            [(zc.stream_source("zlib", len(before)), ZLIB_ROOMY, 1),
             (zc.stream_source("zlib", second), ZLIB_TIGHT, 1)])

    before = pe.filler("gzip before", 30000)
    member = gzip_member(pic(GZIP), b"rose.bmp")
    lay.add("gzip-member.bin", before + member + pe.filler("gzip after", 7000),
            [("gzip", len(before), len(member))],
            [(zc.stream_source("gzip", len(before)), GZIP, 1)])

    traversal = by_hand([(n, pic(p), 8) for n, p in TRAVERSAL])
    lay.add("traversal.zip", traversal, [("zip", 0, len(traversal))], sources(0, TRAVERSAL))

    # Level k holds level k's picture and two copies of level k+1: the deeper, the more
    # copies, all of them small because deflate refers the second copy back to the first.
    level, chains = None, []
    for k in range(RECURSION_LEVELS, 0, -1):
        entries = [("level%d.png" % k, pic(RECURSIVE))]
        if level is not None:
            entries += [("copy1.zip", level), ("copy2.zip", level)]
        level = with_zipfile(entries, zipfile.ZIP_DEFLATED)
    # Listed down to level 4, which a depth of 4 may or may not reach; what lies deeper is
    # never to be found.
    for k in range(1, 5):
        paths = [[]]
        for _ in range(k - 1):
            paths = [p + [c] for p in paths for c in ("copy1.zip", "copy2.zip")]
        chains += [("".join("zip:%s>" % c for c in p) + "zip:level%d.png" % k, RECURSIVE, k)
                   for p in paths]
    lay.add("recursive.zip", level, [("zip", 0, len(level))], chains)

    bomb = overlap_bomb()
    lay.add("overlap.zip", bomb, [("zip", 0, len(bomb))], [], claimed=OVERLAP_RECORDS
            * OVERLAP_KERNEL)

    zeros = gzip_of_zeros(ZEROS_TOTAL, ZEROS_SEGMENT)
    lay.add("zeros.gz", zeros, [("gzip", 0, len(zeros))], [], claimed=ZEROS_TOTAL)
    lay.save()


def self_test():
    """The two ways of writing that no peer made: checked on sizes that inflate in no
    time, against zlib and zipfile, so that a fault there is told here and not as a fault
    of kerbilo-cli."""
    for total, segment in ((3 << 16, 1 << 16), (5 * 1000, 1000)):
        content = gzip.decompress(gzip_of_zeros(total, segment))
        if content != bytes(total):
            raise RuntimeError("gzip_of_zeros(%d, %d) does not inflate to zeros" % (total,
                                                                                 segment))
    for a, b in ((b"abc", b"defg"), (b"", b"x"), (b"\x00" * 1000, b"zz" * 33333)):
        if crc32_combine(zlib.crc32(a), zlib.crc32(b), len(b)) != zlib.crc32(a + b):
            raise RuntimeError("crc32_combine disagrees with zlib.crc32")
    for zip64 in (False, True):
        data = by_hand([(b"a.txt", b"hello" * 50, 8), (b"b.txt", b"world", 0)], zip64)
        with zipfile.ZipFile(io.BytesIO(data)) as z:
            if z.testzip() is not None or z.read("a.txt") != b"hello" * 50:
                raise RuntimeError("zipfile cannot read what by_hand wrote")


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    data_folder, out = sys.argv[1], sys.argv[2]
    programs = sys.argv[3] if len(sys.argv) == 4 else None
    if shutil.which("zip") is None:
        pe.skip("the zip tool is not installed")
    self_test()
    # Nothing from an earlier build may stand in for a failed one.
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    scratch = pe.scratch("kerbilo-zip-build-")
    build(data_folder, out, programs, scratch)
    print("built: " + " ".join(sorted(os.listdir(out))))


if __name__ == "__main__":
    main()
