#!/usr/bin/python3
"""The archives and streams zip_build.py makes, before kerbilo-cli reads them: that they are
what the checks take them for, as zipfile, unzip and zlib see them. Without this a check of
kerbilo-cli could pass on a fixture that lacks what it means to test (an archive without
data descriptors, a bomb that is no bomb).

Usage: zip_peers.py FOLDER
"""

import io
import os
import struct
import sys
import zipfile
import zlib

import pe_common as pe
import zip_common as zc

BOMBS = ("overlap.zip", "zeros.gz")  # what no peer should be asked to read whole


def check_pictures(name, data, facts, failures):
    """Every picture put in is where its source says, as the peers read it."""
    for p in facts["pictures"]:
        want = zc.picture(p["picture"])
        got = zc.peer_content(data, p["source"])
        if failures.check(isinstance(got, bytes), "%s: %s" % (name, p["source"]), got):
            failures.check(got == want, "%s: %s is not %s as the peers read it"
                           % (name, p["source"], p["picture"]))


def check_archives(name, path, data, facts, failures):
    """Both peers find each ZIP sound, and its local headers agree with its directory."""
    for c in facts["containers"]:
        if c["kind"] != "zip":
            continue
        whole = data[:c["offset"] + c["length"]]
        failures.equal(zc.local_problems(whole), [], name + ": local headers against the "
                       "central directory")
        failures.equal(zc.zipfile_test(path), None, name + ": python3 -m zipfile -t")
        failures.equal(zc.unzip_test(path), None, name + ": unzip -t")
        if zc.prefixed_by_unzip(path):
            part = os.path.join(pe.scratch("kerbilo-zip-peers-"), "part.zip")
            pe.write(part, data[c["offset"]:c["offset"] + c["length"]])
            failures.equal(zc.unzip_test(part), None, name + ": unzip -t of the archive alone")


def local_extras(data):
    """The tags of each local header's extra fields, by entry name."""
    records, _ = zc.central_records(data)
    out = {}
    for r in records:
        nlen, xlen = struct.unpack_from("<HH", data, r.local + 26)
        extra, tags, at = data[r.local + 30 + nlen:r.local + 30 + nlen + xlen], [], 0
        while at + 4 <= len(extra):
            tag, size = struct.unpack_from("<HH", extra, at)
            tags.append(tag)
            at += 4 + size
        out[r.name] = tags
    return out


def check_particulars(folder, layout, failures):
    """What each fixture is made to hold, beyond sound archives and pictures in place."""
    def data(name):
        return pe.read(os.path.join(folder, name))

    records, _ = zc.central_records(data("zip-cli.zip"))
    failures.equal([r.name for r in records if not r.flags & 8], [],
                   "zip-cli.zip: entries without a data descriptor")

    failures.equal([n for n, tags in local_extras(data("zip64.zip")).items() if 1 not in tags],
                   [], "zip64.zip: local headers without a ZIP64 extra field")
    records64 = data("zip64-records.zip")
    failures.check(zc.END64 in records64 and zc.LOCATOR64 in records64,
                   "zip64-records.zip: no ZIP64 end record and locator")
    first = records64.find(zc.CENTRAL)
    failures.equal(struct.unpack_from("<II", records64, first + 20) + struct.unpack_from(
        "<I", records64, first + 42), (0xFFFFFFFF,) * 3, "zip64-records.zip: the first central "
        "record's sizes and offset, which its ZIP64 extra field holds")

    # The one archive's offsets count from its own start, the other's from the file's.
    after = os.path.join(folder, "after-random.bin")
    failures.check(zc.prefixed_by_unzip(after), "after-random.bin: unzip finds its offsets "
                   "adjusted; they were meant to count from the archive")
    sfx = os.path.join(folder, "program-with-zip.exe")
    failures.check(not zc.prefixed_by_unzip(sfx), "program-with-zip.exe: unzip finds bytes "
                   "before the archive that its offsets do not count: zip -A did not adjust")
    at = layout["program-with-zip.exe"]["containers"][0]["offset"]
    if layout["program-with-zip.exe"].get("program"):
        try:
            image = pe.load_pe(data("program-with-zip.exe"))
            failures.equal(pe.extent(image, at), at, "program-with-zip.exe: where the program "
                           "ends, against where the archive starts")
        except ImportError:
            print("note: no pefile here: program-with-zip.exe's program is not read")

    with zipfile.ZipFile(os.path.join(folder, "zip-in-zip.zip")) as outer:
        for entry in ("outer/inner.zip", "outer/stored-inner.zip"):
            with zipfile.ZipFile(io.BytesIO(outer.read(entry))) as inner:
                failures.equal(inner.testzip(), None, "zip-in-zip.zip: %s is sound" % entry)
        failures.equal(outer.getinfo("outer/stored-inner.zip").compress_type, zipfile.ZIP_STORED,
                       "zip-in-zip.zip: the stored inner archive's method")

    # The streams are whole, and one of them leaves no room to grow.
    blob = data("zlib-in-random.bin")
    for c in layout["zlib-in-random.bin"]["containers"]:
        _, used, ended = zc.inflate(blob[c["offset"]:], 15)
        failures.check(ended and used == c["length"], "zlib-in-random.bin: the stream at 0x%X "
                       "is not whole: %d bytes used, %d written" % (c["offset"], used,
                                                                    c["length"]))
    blob = data("gzip-member.bin")
    c = layout["gzip-member.bin"]["containers"][0]
    failures.check(blob[c["offset"] + 3] & 8, "gzip-member.bin: no file name in the header")
    _, used, ended = zc.inflate(blob[c["offset"]:], 31)
    failures.check(ended and used == c["length"], "gzip-member.bin: the member is not whole")

    with zipfile.ZipFile(os.path.join(folder, "traversal.zip")) as archive:
        names = [zc.raw_name(i) for i in archive.infolist()]
    failures.equal(names, [b"../../escape.png", b"/abs/escape.png", b"a\x00b.png",
                           b"C:\\x\\y.png", b"line\nbreak\ttab\x7f.gif"],
                   "traversal.zip: the names as stored")

    depth, level = 0, data("recursive.zip")
    while level is not None:
        depth += 1
        with zipfile.ZipFile(io.BytesIO(level)) as archive:
            names = archive.namelist()
            copies = [archive.read(n) for n in names if n.endswith(".zip")]
        failures.check(len(copies) in (0, 2) and len(set(copies)) <= 1,
                       "recursive.zip: level %d holds %r" % (depth, names))
        level = copies[0] if copies else None
    failures.equal(depth, 10, "recursive.zip: levels")

    bomb = data("overlap.zip")
    records, _ = zc.central_records(bomb)
    failures.check(len(records) == 10000 and {r.local for r in records} == {0},
                   "overlap.zip: not 10,000 records of one local header")
    nlen = struct.unpack_from("<H", bomb, 26)[0]
    d = zlib.decompressobj(-15)
    kernel = d.decompress(bomb[30 + nlen:])
    ended = d.eof
    failures.check(ended and kernel == bytes(records[0].size)
                   and zlib.crc32(kernel) == records[0].crc,
                   "overlap.zip: the shared stream is not %d zeros with its CRC" % records[0].size)
    failures.check(sum(r.size for r in records) >= 600 << 30, "overlap.zip claims less than "
                   "600 GiB")

    zeros = data("zeros.gz")
    d = zlib.decompressobj(31)
    start = d.decompress(zeros[:1 << 20], 1 << 24)
    failures.check(len(start) == 1 << 24 and start == bytes(1 << 24),
                   "zeros.gz does not start with 16 MiB of zeros")
    crc, size = struct.unpack_from("<II", zeros, len(zeros) - 8)
    failures.equal(size, (10 << 30) & 0xFFFFFFFF, "zeros.gz: the size in its trailer")
    failures.check(8 << 20 < len(zeros) < 12 << 20, "zeros.gz is %d bytes" % len(zeros))


def check_cases(layout, failures):
    """Each replacement of zip_deep.py replaces a picture put in with another of its format,
    and a stream meant to take the new picture in place has room for it however it is
    compressed (stored, even), one meant to have none has none at zlib's best."""
    for case, (name, index, _, new_name, mode) in zc.CASES.items():
        source = zc.case_source(layout, case)
        put = [p for p in layout[name]["pictures"] if p["source"] == source]
        if not failures.check(len(put) == 1, "case %s: %s is no picture put in %s"
                              % (case, source, name)):
            continue
        old, new = zc.picture(put[0]["picture"]), zc.picture(new_name)
        failures.check(old != new and old[:2] == new[:2], "case %s: %s is the same picture as "
                       "%s, or of another format" % (case, new_name, put[0]["picture"]))
        if mode == "archive":
            continue
        container = layout[name]["containers"][index]
        framing = 6 if container["kind"] == "zlib" else 8 + 10 + len(b"rose.bmp\0")
        worst = len(zlib.compress(new, 0)) - 6 + framing
        best = len(zlib.compress(new, 9)) - 6 + framing
        if mode == "in-place":
            failures.check(worst <= container["length"], "case %s: %d bytes stored do not fit "
                           "in the %d of the stream" % (case, worst, container["length"]))
        else:
            failures.check(best > container["length"], "case %s: %d bytes at level 9 fit in "
                           "the %d of the stream" % (case, best, container["length"]))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    pe.need_tools("unzip")
    layout = zc.load_layout(folder)
    failures = pe.Failures()
    for name, facts in layout.items():
        path = os.path.join(folder, name)
        data = pe.read(path)
        check_pictures(name, data, facts, failures)
        if name not in BOMBS:
            check_archives(name, path, data, facts, failures)
    check_particulars(folder, layout, failures)
    check_cases(layout, failures)
    failures.finish("%d files as the peers read them" % len(layout))


if __name__ == "__main__":
    main()
