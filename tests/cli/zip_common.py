"""What the checks on archives and compressed streams share: the fixtures' layout as
zip_build.py records it, the sources kerbilo-cli writes for what it finds inside them,
the ZIP records read directly (for what zipfile and unzip let pass), and running
kerbilo-cli under a clock and a memory gauge.

Reading a fixture's contents is left to the peers (zipfile, zlib, unzip); the records read
here are only those the peers never look at, such as a local header's sizes.
"""

import io
import json
import os
import re
import struct
import subprocess
import time
import zipfile
import zlib

import pe_common as pe

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.normpath(os.path.join(HERE, "..", "data"))
RECOMMENDED = os.path.normpath(os.path.join(HERE, "..", "..", "docs", "kinds",
                                            "recommended.config"))
LAYOUT = "layout.json"

# The replacements zip_deep.py makes, each one ctest test: the file, its container (by its
# place in the layout), the picture replaced (its source after the container's zip: or
# zip:…: part; None for a bare stream), the new picture (relative to tests/data, of the same
# format, larger or smaller), and what must happen:
#   archive   the archive is written anew: sound, the entry holding the new picture, the
#             others as they were
#   in-place  the stream recompressed where it lies, the file as long as it was
#   no-room   the recompressed stream does not fit: exit 1, nothing written
CASES = {
    "stored": ("stored.zip", 0, "pics/rose_16.png", "pe/replace/picture.png", "archive"),
    "deflated": ("deflated.zip", 0, "pics/bits24.bmp", "pe/replace/bits24_large.bmp",
                 "archive"),
    "deflated-utf8-name": ("deflated.zip", 0, "图片/玫瑰.png", "inspect/rose_16.png",
                           "archive"),
    "data-descriptors": ("zip-cli.zip", 0, "pics/rose_progressive.jpg",
                         "inspect/rose_restart.jpg", "archive"),
    "zip64": ("zip64.zip", 0, "pics/bits8.bmp", "inspect/rose_rle.bmp", "archive"),
    "zip64-records": ("zip64-records.zip", 0, "pics/rose_16.png", "pe/pictures/logo.png",
                      "archive"),
    "after-random": ("after-random.bin", 0, "pics/photo.jpg", "inspect/rose_exif.jpg",
                     "archive"),
    "program-with-zip": ("program-with-zip.exe", 0, "pics/bits1.bmp", "inspect/rose_v5.bmp",
                         "archive"),
    "zip-in-zip": ("zip-in-zip.zip", 0, "outer/inner.zip>zip:pics/rose_16.png",
                   "pe/replace/picture.png", "archive"),
    "zip-in-stored-zip": ("zip-in-zip.zip", 0, "outer/stored-inner.zip>zip:pics/spin.gif",
                          "inspect/rose_anim.gif", "archive"),
    "zlib-in-place": ("zlib-in-random.bin", 0, None, "pe/replace/picture.png", "in-place"),
    "zlib-no-room": ("zlib-in-random.bin", 1, None, "pe/replace/bits24_large.bmp", "no-room"),
    "gzip-in-place": ("gzip-member.bin", 0, None, "pe/pictures/bits8.bmp", "in-place"),
}


def case_source(layout, case):
    """The source of the picture a case replaces."""
    name, index, rest, _, _ = CASES[case]
    container = layout[name]["containers"][index]
    prefix = container_prefix(container)
    return prefix + ":" + rest if container["kind"] == "zip" else prefix + "+0x0"

# ---- sources ----------------------------------------------------------------------------


def escape_name(raw):
    """An entry's name as a source writes it: UTF-8, with control bytes and NUL as \\xHH, so
    that no name can break a line of a manifest or a terminal."""
    text = raw.decode("utf-8", "surrogateescape")
    out = []
    for ch in text:
        code = ord(ch)
        if code < 0x20 or code == 0x7F:
            out.append("\\x%02X" % code)
        elif 0xDC80 <= code <= 0xDCFF:  # a byte that is no UTF-8
            out.append("\\x%02X" % (code - 0xDC00))
        else:
            out.append(ch)
    return "".join(out)


def normalise(source):
    """The source with \\xhh written in capitals, so that either case of escape compares."""
    return re.sub(r"\\x([0-9a-fA-F]{2})", lambda m: "\\x" + m.group(1).upper(), source)


def zip_source(offset, name, inner=0):
    """A picture in the ZIP entry `name` (bytes) of an archive starting at offset."""
    where = "zip" if offset == 0 else "zip@0x%X" % offset
    return "%s:%s%s" % (where, escape_name(name), "+0x%X" % inner if inner else "")


def stream_source(kind, offset, inner=0):
    """A picture in a gzip member or zlib stream starting at offset: always with +0xI."""
    return "%s@0x%X+0x%X" % (kind, offset, inner)


def in_container(source):
    return bool(source) and source.split(">")[0].split(":")[0].split("@")[0] in ("zip", "gzip",
                                                                               "zlib")


def nested(prefix, row):
    """The source of a row kerbilo-cli found in an entry's content scanned alone, as it must
    read when that content lies in the container named by prefix (zip:NAME, zip@0xA:NAME,
    gzip@0xS, zlib@0xS)."""
    inner = row.get("source") or ""
    if inner:
        return prefix + ">" + inner
    if prefix.startswith(("gzip@", "zlib@")):
        return "%s+0x%X" % (prefix, row["offset"])
    return prefix + ("+0x%X" % row["offset"] if row["offset"] else "")


_LINK = re.compile(r"^(?:(zip)(?:@0x([0-9A-F]+))?:(.*?)(?:\+0x([0-9A-F]+))?"
                   r"|(gzip|zlib)@0x([0-9A-F]+)\+0x([0-9A-F]+))$", re.S)


def links(source):
    """A container source's links, outermost first: (kind, offset, escaped name or None,
    offset inside the content). None when some link is not understood (a program's pe:
    link ends the chain and is returned as it is, kind "pe")."""
    out = []
    parts = source.split(">")
    for i, part in enumerate(parts):
        if part.startswith("pe") and i > 0:
            out.append(("pe", 0, ">".join(parts[i:]), 0))
            return out
        m = _LINK.match(part)
        if not m:
            return None
        if m.group(1):
            out.append(("zip", int(m.group(2) or "0", 16), m.group(3), int(m.group(4) or "0",
                                                                            16)))
        else:
            out.append((m.group(5), int(m.group(6), 16), None, int(m.group(7), 16)))
    return out


def raw_name(info):
    """An entry's name as stored, from zipfile's reading of it (which cuts it at a NUL)."""
    return info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")


def peer_content(data, source):
    """What the peers read at a container source: the content of its innermost entry or
    stream from the picture's offset on, or an error text. zipfile opens each archive and
    reads each entry, zlib inflates each stream."""
    chain = links(source)
    if not chain:
        return "a source not understood: %r" % source
    for kind, offset, name, inner in chain:
        if kind == "pe":
            return "a program's resource (%s), which no peer here reads" % name
        if kind == "zip":
            try:
                with zipfile.ZipFile(io.BytesIO(data[offset:])) as archive:
                    info = [i for i in archive.infolist()
                            if normalise(escape_name(raw_name(i))) == normalise(name)]
                    if len(info) != 1:
                        return "zipfile finds %d entries named %r at 0x%X" % (len(info), name,
                                                                              offset)
                    data = archive.read(info[0])
            except (zipfile.BadZipFile, OSError, ValueError) as e:
                return "zipfile cannot read the archive at 0x%X: %s" % (offset, e)
        else:
            content, _, ended = inflate(data[offset:], 31 if kind == "gzip" else 15)
            if not ended:
                return "zlib finds no whole %s stream at 0x%X" % (kind, offset)
            data = content
        data = data[inner:]
    return data


# What a row in a container must share with the same picture found in a file of its own.
SAME_IN_CONTAINER = ("length", "sha256", "format", "width", "height", "frames", "verdict")


# ---- the fixtures -----------------------------------------------------------------------

def load_layout(folder):
    """What zip_build.py put where: by file name, its containers (kind, offset, length) and
    the pictures put in them (source, picture relative to tests/data)."""
    path = os.path.join(folder, LAYOUT)
    if not os.path.isfile(path):
        pe.skip("%s was not written: Zip.Archives.Build has not run" % path)
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def picture(relative):
    return pe.read(os.path.join(DATA, relative))


def container_prefix(container):
    """A container of the layout as a source starts: zip[@0xA] or gzip@0xS, zlib@0xS."""
    if container["kind"] == "zip":
        return "zip" if container["offset"] == 0 else "zip@0x%X" % container["offset"]
    return "%s@0x%X" % (container["kind"], container["offset"])


def without_key(config, key="结构扫描"):
    """The kinds file with no line for key in it."""
    key = key.encode("gbk") + b"="
    lines = config.replace(b"\r\n", b"\n").split(b"\n")
    return b"\r\n".join(line for line in lines if not line.startswith(key))


# ---- ZIP records read directly ----------------------------------------------------------

LOCAL, CENTRAL, END, END64, LOCATOR64, DESCRIPTOR = (
    b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06", b"PK\x06\x06", b"PK\x06\x07", b"PK\x07\x08")


class Record:
    """One entry as its central directory record and its local header say."""

    def __init__(self, **kw):
        self.__dict__.update(kw)


def _zip64_values(extra, wanted):
    """The ZIP64 extra field's values (tag 1), in the order of wanted: the fields whose
    32-bit value was 0xFFFFFFFF, as the format says."""
    at = 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        if tag == 1:
            body = extra[at + 4:at + 4 + size]
            values = list(struct.unpack_from("<%dQ" % (len(body) // 8), body))
            return [values.pop(0) if want and values else None for want in wanted]
        at += 4 + size
    return [None] * len(wanted)


def central_records(data):
    """The central directory of the last archive in data: its entries as Records, and where
    the archive's offsets count from (the bytes before it, when they were not adjusted)."""
    end = data.rfind(END, max(0, len(data) - 65557))
    if end < 0:
        raise ValueError("no end of central directory record")
    _, _, _, count, size, offset, _ = struct.unpack_from("<HHHHIIH", data, end + 4)
    directory_end = end
    if data[end - 20:end - 16] == LOCATOR64:
        at64 = struct.unpack_from("<Q", data, end - 20 + 8)[0]
        end64 = end - 20 - 56
        if data[end64:end64 + 4] != END64:
            raise ValueError("a ZIP64 locator without a ZIP64 end record before it")
        count, size, offset = struct.unpack_from("<QQQ", data, end64 + 32)
        directory_end = end64
        base = end64 - at64  # the locator's offset, like the others, may not be adjusted
    else:
        base = directory_end - size - offset
    records, at = [], base + offset
    for _ in range(count):
        if data[at:at + 4] != CENTRAL:
            raise ValueError("no central directory record at %d" % at)
        (_, _, flags, method, _, _, crc, csize, usize, nlen, xlen, clen, _, _, _,
         local) = struct.unpack_from("<HHHHHHIIIHHHHHII", data, at + 4)
        name = data[at + 46:at + 46 + nlen]
        extra = data[at + 46 + nlen:at + 46 + nlen + xlen]
        big = _zip64_values(extra, [usize == 0xFFFFFFFF, csize == 0xFFFFFFFF,
                                    local == 0xFFFFFFFF])
        records.append(Record(name=name, flags=flags, method=method, crc=crc,
                              compressed=big[1] if big[1] is not None else csize,
                              size=big[0] if big[0] is not None else usize,
                              local=base + (big[2] if big[2] is not None else local)))
        at += 46 + nlen + xlen + clen
    return records, base


def local_problems(data):
    """Where the local headers (and data descriptors) of the last archive in data disagree
    with its central directory: zipfile reads the central directory only, and a writer that
    updates one and not the other passes it."""
    problems = []
    try:
        records, _ = central_records(data)
    except (ValueError, struct.error) as e:
        return [str(e)]
    for r in records:
        what = escape_name(r.name)
        if data[r.local:r.local + 4] != LOCAL:
            problems.append("%s: no local header at %d" % (what, r.local))
            continue
        _, _, flags, method, _, _, crc, csize, usize, nlen, xlen = struct.unpack_from(
            "<IHHHHHIIIHH", data, r.local)
        name = data[r.local + 30:r.local + 30 + nlen]
        extra = data[r.local + 30 + nlen:r.local + 30 + nlen + xlen]
        if (name, flags, method) != (r.name, r.flags, r.method):
            problems.append("%s: the local header says %r, flags %X, method %d" % (
                what, name, flags, method))
        zip64 = _zip64_values(extra, [True, True])
        if zip64[0] is not None and usize == 0xFFFFFFFF:
            usize, csize = zip64
        data_at = r.local + 30 + nlen + xlen
        if flags & 8:
            after = data_at + r.compressed
            if data[after:after + 4] == DESCRIPTOR:
                after += 4
            wide = zip64[0] is not None
            crc, csize, usize = struct.unpack_from("<IQQ" if wide else "<III", data, after)
            where = "data descriptor"
        else:
            where = "local header"
        if (crc, csize, usize) != (r.crc, r.compressed, r.size):
            problems.append("%s: the %s says CRC %08X, %d bytes compressed, %d bytes; the "
                            "central directory %08X, %d, %d" % (what, where, crc, csize, usize,
                                                                 r.crc, r.compressed, r.size))
    return problems


# ---- the peers --------------------------------------------------------------------------

def unzip_test(path):
    """None when `unzip -t` finds the archive at path sound, else what it said. An archive
    after other bytes whose offsets count from its own start is sound too: unzip warns
    (exit 1) and reads it; the caller tests that archive's own bytes as well."""
    p = subprocess.run(["unzip", "-t", path], capture_output=True)
    out = (p.stdout + p.stderr).decode("utf-8", "replace")
    lines = [line for line in out.splitlines() if line.strip()]
    warned_prefix = any("extra bytes at beginning" in line for line in lines)
    if p.returncode == 0 or (p.returncode == 1 and warned_prefix and "No errors detected" in out):
        return None
    return "unzip -t exited %d: %s" % (p.returncode, " / ".join(lines[-6:]))


def prefixed_by_unzip(path):
    """Whether unzip finds bytes before the archive that its offsets do not count."""
    p = subprocess.run(["unzip", "-t", path], capture_output=True)
    return b"extra bytes at beginning" in p.stdout + p.stderr


def zipfile_test(path, python="/usr/bin/python3"):
    """None when `python3 -m zipfile -t` finds the archive sound, else what it said."""
    p = subprocess.run([python, "-m", "zipfile", "-t", path], capture_output=True)
    out = (p.stdout + p.stderr).decode("utf-8", "replace").strip()
    if p.returncode == 0 and "Done testing" in out and "The following enclosed file is " \
            "corrupted" not in out:
        return None
    return "python3 -m zipfile -t exited %d: %s" % (p.returncode, out[-400:])


def inflate(data, wbits):
    """The content of the zlib (15) or gzip (31) stream at the start of data, the stream's
    length, and whether it ended: zlib checks the trailer's checksum and size itself."""
    d = zlib.decompressobj(wbits)
    try:
        content = d.decompress(data)
    except zlib.error:  # damaged, or a checksum that disagrees
        return b"", 0, False
    return content, len(data) - len(d.unused_data), d.eof


# ---- kerbilo-cli under a clock ----------------------------------------------------------

class Measured:
    def __init__(self, **kw):
        self.__dict__.update(kw)


def run_measured(cli, args, deadline, cwd=None):
    """Runs kerbilo-cli with args, killed after deadline seconds. Returns its exit code (None
    when killed), wall time, peak resident memory in bytes, stdout and stderr. The memory
    is the kernel's own count for the child (wait4's ru_maxrss), not a sample."""
    scratch = pe.scratch("kerbilo-zip-run-")
    out_path, err_path = os.path.join(scratch, "out"), os.path.join(scratch, "err")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        start = time.monotonic()
        p = subprocess.Popen([cli.path] + [str(a) for a in args], stdout=out, stderr=err,
                             stdin=subprocess.DEVNULL, env=cli.env, cwd=cwd)
        killed = False
        while True:
            pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() - start > deadline:
                p.kill()
                killed = True
                pid, status, usage = os.wait4(p.pid, 0)
                break
            time.sleep(0.02)
        wall = time.monotonic() - start
        p.returncode = 0  # reaped here: keep Popen from waiting on it again
    code = None if killed else os.waitstatus_to_exitcode(status)
    return Measured(code=code, wall=wall, peak=usage.ru_maxrss * 1024,
                    out=pe.read(out_path).decode("utf-8", "replace"),
                    err=pe.read(err_path).decode("utf-8", "replace"))


def run_in(cli, cwd, *args):
    """kerbilo-cli run from the folder cwd; (exit code, stdout, stderr)."""
    p = subprocess.run([cli.path] + [str(a) for a in args], capture_output=True, env=cli.env,
                       stdin=subprocess.DEVNULL, cwd=cwd, timeout=120)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8",
                                                                              "replace")


def walk(folder):
    """Every file, folder and link under folder, as paths relative to it."""
    found = set()
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(root, name), folder))
    return found
