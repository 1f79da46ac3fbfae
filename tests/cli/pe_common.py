"""What the checks on Windows programs share: the layout of the programs pe_build.sh makes,
reading them with the peer tools (wrestool for resources, ImageMagick for pixels, pefile for
headers), running a private copy of kerbilo-cli, and reporting failures.

The peers are the reference: a check passes when kerbilo-cli agrees with them, never by
comparing kerbilo-cli with itself.
"""

import atexit
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77  # ctest's SKIP_RETURN_CODE for these tests

# embedded.bin: FILLER_BEFORE bytes, w64.exe, FILLER_AFTER bytes. The program starts at an odd
# offset, as an appended payload does, so that no alignment is taken for granted.
FILLER_BEFORE = 5003
FILLER_AFTER = 3001
EMBEDDED_AT = FILLER_BEFORE

# The standard types kerbilo-cli names in a source; other numbers are written in decimal.
TYPE_NAMES = {1: "CURSOR", 2: "BITMAP", 3: "ICON", 10: "RCDATA", 12: "GROUP_CURSOR",
              14: "GROUP_ICON"}
PICTURE_TYPES = (1, 2, 3, 12, 14)  # pictures that only a program's structures lead to
CERTIFICATE_ENTRY = 4  # data directory entry of the certificate table
RESOURCE_ENTRY = 2


def skip(why):
    print("skipped: " + why)
    sys.exit(SKIP)


def filler(label, n):
    """Fixed bytes that look random: SHA-256 of label and counter."""
    data = bytearray()
    i = 0
    while len(data) < n:
        data += hashlib.sha256(b"%s:%d" % (label.encode(), i)).digest()
        i += 1
    return bytes(data[:n])


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def need_pefile():
    try:
        import pefile  # noqa: F401  (only whether it is there)
    except ImportError:
        skip("this Python (%s) has no pefile module" % sys.executable)


def need_tools(*names):
    missing = [n for n in names if shutil.which(n) is None]
    if missing:
        skip("missing " + ", ".join(missing))


def need_programs(folder):
    """The outputs of pe_build.sh; it skips, and so do these checks, without MinGW."""
    for name in ("w64.exe", "w32.exe", "embedded.bin", "signed.exe"):
        if not os.path.isfile(os.path.join(folder, name)):
            skip("%s was not built (no MinGW tools?)" % name)


class Failures:
    """Collects what differs, so that one run tells every fault, and prints the verdict."""

    def __init__(self):
        self.count = 0

    def fail(self, what, *details):
        self.count += 1
        print("FAIL: " + what)
        for d in details:
            print("      " + str(d))

    def check(self, ok, what, *details):
        if not ok:
            self.fail(what, *details)
        return ok

    def equal(self, got, expected, what):
        return self.check(got == expected, what, "got:      %r" % (got,),
                          "expected: %r" % (expected,))

    def finish(self, summary):
        if self.count:
            print("%d failure(s)" % self.count)
            sys.exit(1)
        print("ok: " + summary)
        sys.exit(0)


# ---- resources as wrestool sees them -----------------------------------------------------

class Resource:
    """One leaf of a program's resource directory: type, name and language, each a number or
    (type and name) a text."""

    def __init__(self, type_, name, language, size=None):
        self.type, self.name, self.language, self.size = type_, name, language, size

    def key(self):
        return (str(self.type), str(self.name), self.language)

    def __eq__(self, other):
        return self.key() == other.key()

    def __hash__(self):
        return hash(self.key())

    def __repr__(self):
        return self.source()

    def source(self, at=None):
        """How kerbilo-cli names it: pe:TYPE/NAME/LANGUAGE, pe@OFFSET: inside other bytes."""
        type_ = TYPE_NAMES.get(self.type, str(self.type))
        where = "pe" if at is None else "pe@0x%X" % at
        return "%s:%s/%s/%d" % (where, type_, self.name, self.language)

    def options(self):
        return ["--type=%s" % self.type, "--name=%s" % self.name,
                "--language=%d" % self.language]


_LINE = re.compile(r"--type=('?)([^' ]+)\1 --name=('?)([^' ]+)\3 --language=(\d+)"
                   r" \[.*size=(\d+)\]")


def wrestool_list(path):
    """Every resource `wrestool -l` lists, in its order."""
    out = subprocess.run(["wrestool", "-l", path], capture_output=True, check=True).stdout
    found = []
    for line in out.decode().splitlines():
        m = _LINE.match(line)
        if not m:
            raise RuntimeError("wrestool -l printed a line not understood: " + line)
        type_ = m.group(2) if m.group(1) else int(m.group(2))
        name = m.group(4) if m.group(3) else int(m.group(4))
        found.append(Resource(type_, name, int(m.group(5)), int(m.group(6))))
    return found


def wrestool_raw(path, res):
    """The resource's data as stored."""
    return subprocess.run(["wrestool", "-x", "--raw"] + res.options() + [path],
                          capture_output=True, check=True).stdout


def wrestool_file(path, res, folder):
    """The resource as wrestool writes it as a file (.ico, .cur, .bmp): icon and cursor
    groups and bitmaps only. Returns the file's path."""
    suffix = {2: ".bmp", 12: ".cur", 14: ".ico"}[res.type]
    out = os.path.join(folder, "wrestool-%s-%s-%d%s" % (res.type, res.name, res.language,
                                                        suffix))
    data = subprocess.run(["wrestool", "-x"] + res.options() + [path], capture_output=True,
                          check=True).stdout
    if not data:
        raise RuntimeError("wrestool extracted nothing for %s of %s" % (res.source(), path))
    write(out, data)
    return out


def group_entries(raw, cursor):
    """The entries of an icon or cursor group as stored (GRPICONDIR): a dict each."""
    _, kind, count = struct.unpack_from("<HHH", raw, 0)
    entries = []
    for i in range(count):
        if cursor:
            width, height, planes, bits, size, id_ = struct.unpack_from("<HHHHIH", raw,
                                                                        6 + 14 * i)
            colours = 0
        else:
            width, height, colours, _, planes, bits, size, id_ = struct.unpack_from(
                "<BBBBHHIH", raw, 6 + 14 * i)
        entries.append(dict(width=width, height=height, colours=colours, planes=planes,
                            bits=bits, size=size, id=id_))
    return kind, entries


def image_size(data):
    """Width and height of an icon or cursor image as stored: a PNG, or a DIB whose height
    counts the mask too."""
    if data.startswith(b"\x89PNG"):
        return struct.unpack_from(">II", data, 16)
    width, height = struct.unpack_from("<ii", data, 4)
    return width, abs(height) // 2


def icon_file_images(data):
    """The directory entries and image data of an .ico or .cur file."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    images = []
    for i in range(count):
        width, height, colours, _, a, b, size, offset = struct.unpack_from("<BBBBHHII", data,
                                                                           6 + 16 * i)
        images.append(dict(width=width, height=height, colours=colours, hotspot=(a, b),
                           data=data[offset:offset + size]))
    return kind, images


# ---- pixels as ImageMagick decodes them --------------------------------------------------

class Undecodable(Exception):
    """ImageMagick cannot read a picture."""


def frames(path):
    """Every image of the picture at path (each frame of an .ico or .cur) as (width, height,
    RGBA bytes)."""
    sizes = subprocess.run(["identify", "-format", "%w %h\n", path], capture_output=True)
    pixels = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True)
    if sizes.returncode or pixels.returncode:
        raise Undecodable("ImageMagick cannot read %s: %s" % (
            path, (sizes.stderr or pixels.stderr).decode(errors="replace").strip()))
    out, at = [], 0
    sizes = sizes.stdout.decode().split()
    for w, h in zip(sizes[::2], sizes[1::2]):
        w, h = int(w), int(h)
        out.append((w, h, pixels.stdout[at:at + 4 * w * h]))
        at += 4 * w * h
    if at != len(pixels.stdout):
        raise Undecodable("ImageMagick gave %d bytes of pixels for %s, expected %d"
                          % (len(pixels.stdout), path, at))
    return out


def describe_difference(a, b):
    """Where two frame lists first differ, in words."""
    if len(a) != len(b):
        return "%d images against %d" % (len(a), len(b))
    for i, ((wa, ha, pa), (wb, hb, pb)) in enumerate(zip(a, b)):
        if (wa, ha) != (wb, hb):
            return "image %d is %dx%d against %dx%d" % (i, wa, ha, wb, hb)
        if pa != pb:
            n = sum(1 for j in range(0, len(pa), 4) if pa[j:j + 4] != pb[j:j + 4])
            first = next(j for j in range(0, len(pa), 4) if pa[j:j + 4] != pb[j:j + 4]) // 4
            return ("image %d (%dx%d): %d pixels differ, first at x=%d y=%d: RGBA %s against %s"
                    % (i, wa, ha, n, first % wa, first // wa, pa[4 * first:4 * first + 4].hex(),
                       pb[4 * first:4 * first + 4].hex()))
    return None


# ---- headers as pefile reads them --------------------------------------------------------

def load_pe(data):
    import pefile  # here, so that a Python without it can still say the test is skipped
    return pefile.PE(data=bytes(data))


def resource_leaves(pe):
    """Every (type, name, language) leaf pefile reads, with its data's RVA and size."""
    leaves = []
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for t in directory.entries if directory else []:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                leaves.append((lang.data.struct.OffsetToData, lang.data.struct.Size))
    return leaves


def resource_sections(pe):
    """The sections that the resource directory or any resource's data lies in."""
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[RESOURCE_ENTRY]
    ranges = resource_leaves(pe) + ([(entry.VirtualAddress, entry.Size)]
                                    if entry.VirtualAddress else [])
    found = []
    for s in pe.sections:
        start, end = s.VirtualAddress, s.VirtualAddress + max(s.Misc_VirtualSize,
                                                              s.SizeOfRawData)
        if any(start <= rva < end for rva, _ in ranges):
            found.append(s)
    return found


def extent(pe, size):
    """Where the headers and every section's raw data end: the overlay starts there."""
    end = pe.OPTIONAL_HEADER.SizeOfHeaders
    for s in pe.sections:
        if s.SizeOfRawData:
            end = max(end, s.PointerToRawData + s.SizeOfRawData)
    return min(end, size)


def checksum_field(pe):
    return pe.OPTIONAL_HEADER.get_file_offset() + 64


# ---- kerbilo-cli, run from a copy of its own ---------------------------------------------

class Cli:
    """A copy of kerbilo-cli in a scratch folder: the program keeps resource.config and
    Resource.ini beside itself, and must never write beside the binary under test, nor in
    the user's home."""

    def __init__(self, binary, scratch):
        self.folder = os.path.join(scratch, "bin")
        os.makedirs(self.folder, exist_ok=True)
        self.path = os.path.join(self.folder, "kerbilo-cli")
        shutil.copy(binary, self.path)
        os.chmod(self.path, 0o755)
        home = os.path.join(scratch, "home")
        os.makedirs(home, exist_ok=True)
        self.env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                        LANG="C.UTF-8", LC_ALL="C.UTF-8")

    def run(self, *args):
        """Runs it; returns (exit code, stdout, stderr), the texts decoded."""
        p = subprocess.run([self.path] + [str(a) for a in args], capture_output=True,
                           env=self.env, stdin=subprocess.DEVNULL, timeout=120)
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode(
            "utf-8", "replace")

    def rows(self, failures, *args):
        """The JSON array `inspect ... --json` prints, or None (a failure) when it fails."""
        rc, out, err = self.run(*args)
        if not failures.check(rc == 0, "kerbilo-cli %s exited %d" % (" ".join(map(str, args)),
                                                                     rc), err.strip()):
            return None
        try:
            return json.loads(out)
        except ValueError as e:
            failures.fail("kerbilo-cli %s printed no JSON array: %s" % (" ".join(map(str, args)),
                                                                       e), out[:400])
            return None


_TSV_ESCAPES = {"t": "\t", "r": "\r", "n": "\n", "\\": "\\"}


def tsv_field(text):
    """A field as kerbilo-cli writes it in TSV, its \\t, \\r, \\n and \\\\ undone."""
    return re.sub(r"\\([trn\\])", lambda m: _TSV_ESCAPES[m.group(1)], text)


def read_tsv(text):
    """A header line and rows, as dicts by column name, fields unescaped."""
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if not lines:
        return [], []
    header = lines[0].split("\t")
    return header, [dict(zip(header, map(tsv_field, line.split("\t")))) for line in lines[1:]]


_SOURCE = re.compile(r"^pe(?:@0x([0-9A-F]+))?:([^/]+)/([^/]+)/(\d+)$")


def parse_source(text):
    """(offset of the program or None, Resource) for a source like pe@0x138B:ICON/1/1033; None
    when it is no program's resource."""
    m = _SOURCE.match(text or "")
    if not m:
        return None
    numbers = {v: k for k, v in TYPE_NAMES.items()}
    type_ = m.group(2)
    type_ = numbers.get(type_, int(type_) if type_.isdigit() else type_)
    name = int(m.group(3)) if m.group(3).isdigit() else m.group(3)
    return (int(m.group(1), 16) if m.group(1) else None), Resource(type_, name, int(m.group(4)))


def scratch(prefix):
    """A scratch folder removed when the process ends."""
    folder = tempfile.mkdtemp(prefix=prefix, dir=os.environ.get("TMPDIR", "/tmp"))
    atexit.register(shutil.rmtree, folder, True)
    return folder
