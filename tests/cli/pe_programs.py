#!/usr/bin/python3
"""The test programs themselves, before kerbilo-cli reads them: that they are what the
structure scan's checks take them for, as the peer tools see them. Without this a check
against kerbilo-cli could pass on programs that lack what it means to test.

Usage: pe_programs.py derive|layout|resources|embedded|signed FOLDER
  derive     writes embedded.bin and signed.exe from w64.exe (pe_build.sh runs it)
  layout     both programs' headers: machine, format, where the resource section lies
  resources  what windres stored, against the source pictures, and at which depth
  embedded   embedded.bin holds w64.exe between its fillers
  signed     signed.exe is w64.exe with a certificate table and a valid checksum
"""

import os
import struct
import sys

import pe_common as pe

SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "pe",
                       "pictures")

# WIN_CERTIFICATE: its length, revision 2.0, PKCS#7 signed data; then bytes that are no
# real signature, padded so that the table ends on 8 bytes.
CERTIFICATE_BODY = b"\x30\x82\x01\x00" + pe.filler("certificate", 252)


def certificate():
    blob = struct.pack("<IHH", 8 + len(CERTIFICATE_BODY), 0x0200, 0x0002) + CERTIFICATE_BODY
    return blob + bytes(-len(blob) % 8)


def derive(folder):
    program = pe.read(os.path.join(folder, "w64.exe"))
    pe.write(os.path.join(folder, "embedded.bin"),
             pe.filler("before", pe.FILLER_BEFORE) + program + pe.filler("after", pe.FILLER_AFTER))

    # The table starts on 8 bytes after the image, as a signing tool puts it.
    signed = bytearray(program + bytes(-len(program) % 8))
    at = len(signed)
    signed += certificate()
    image = pe.load_pe(signed)
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[pe.CERTIFICATE_ENTRY].get_file_offset()
    struct.pack_into("<II", signed, entry, at, len(signed) - at)
    checksum = pe.load_pe(signed).generate_checksum()
    struct.pack_into("<I", signed, pe.checksum_field(image), checksum)
    pe.write(os.path.join(folder, "signed.exe"), signed)


def layout(folder, failures):
    for name, magic, machine, rsrc_last in (("w64.exe", 0x20B, 0x8664, False),
                                            ("w32.exe", 0x10B, 0x14C, True)):
        data = pe.read(os.path.join(folder, name))
        image = pe.load_pe(data)
        failures.equal(image.get_warnings(), [], name + ": pefile's warnings")
        failures.equal((image.OPTIONAL_HEADER.Magic, image.FILE_HEADER.Machine), (magic, machine),
                       name + ": optional header magic and machine")
        # The linker sets the checksum: a replacement must set it again.
        failures.check(image.OPTIONAL_HEADER.CheckSum != 0 and image.verify_checksum(),
                       name + ": the linker's checksum is set and right")
        sections = pe.resource_sections(image)
        failures.equal([s.Name.rstrip(b"\0") for s in sections], [b".rsrc"],
                       name + ": the sections the resources lie in")
        failures.equal(sections[-1] is image.sections[-1], rsrc_last,
                       name + ": the resource section is the last")
        failures.equal(pe.extent(image, len(data)), len(data), name + ": no overlay")
        failures.equal(image.FILE_HEADER.TimeDateStamp, 0, name + ": no time stamp")


# What resources.rc declares, as windres stores it, in the directory's order (named types
# first; in a type, names before numbers). windres numbers the images of every ICON file
# 1, 2, ... across all files in order, and those of CURSOR files the same way.
# Each: type, name, language, the source (a file, a file's image i, or bytes), its depth.
EXPECTED = [
    ("MYTYPE", 1, 1033, "spin.gif", None),
    (1, 1, 1033, ("arrow.cur", 0), 1),
    (1, 2, 1033, ("busy.cur", 0), 8),
    (1, 3, 1033, ("busy.cur", 1), 32),
    (2, 1, 1033, "bits1.bmp", 1),
    (2, 4, 1033, "bits4.bmp", 4),
    (2, 8, 1033, "bits8.bmp", 8),
    (2, 24, 1031, "bits24_german.bmp", 24),
    (2, 24, 1033, "bits24.bmp", 24),
    (2, 32, 1033, "bits32.bmp", 32),
    (3, 1, 1033, ("app.ico", 0), 4),
    (3, 2, 1033, ("app.ico", 1), 8),
    (3, 3, 1033, ("app.ico", 2), 32),
    (3, 4, 1033, ("app.ico", 3), "png"),
    (3, 5, 1033, ("small.ico", 0), 24),
    (10, "LOGO", 1033, "logo.png", None),
    (10, 9, 1033, "photo.jpg", None),
    (10, 10, 1033, b"not a picture\0", None),
    (12, "BUSY", 1033, "busy.cur", None),
    (12, 1, 1033, "arrow.cur", None),
    (14, "SMALL", 1033, "small.ico", None),
    (14, 1, 1033, "app.ico", None),
    (16, 1, 1033, None, None),  # the version block
    (300, 3, 1033, "photo.jpg", None),
]


def depth(stored):
    """The bits per pixel of a DIB as stored, or 'png'."""
    if stored.startswith(b"\x89PNG"):
        return "png"
    return struct.unpack_from("<H", stored, 14)[0]


def resources(folder, failures):
    scratch = pe.scratch("kerbilo-pe-programs-")
    for name in ("w64.exe", "w32.exe"):
        path = os.path.join(folder, name)
        listed = pe.wrestool_list(path)
        expected = [pe.Resource(t, n, lang) for t, n, lang, _, _ in EXPECTED]
        if not failures.equal(listed, expected, name + ": what wrestool -l lists"):
            continue
        for type_, res_name, language, source, bits in EXPECTED:
            res = pe.Resource(type_, res_name, language)
            what = "%s: %s" % (name, res.source())
            stored = pe.wrestool_raw(path, res)
            if isinstance(source, bytes):
                failures.equal(stored, source, what + ": stored bytes")
            elif isinstance(source, tuple):  # one image of an .ico or .cur file
                _, images = pe.icon_file_images(pe.read(os.path.join(SOURCES, source[0])))
                image = images[source[1]]
                if type_ == 1:  # a cursor's image starts with its hot spot
                    failures.equal(stored[:4], struct.pack("<HH", *image["hotspot"]),
                                   what + ": hot spot")
                    stored = stored[4:]
                failures.check(stored == image["data"], what + ": stored image differs from "
                               "image %d of %s" % (source[1], source[0]))
                failures.equal(depth(stored), bits, what + ": bits per pixel")
            elif type_ in (12, 14):  # a group, which wrestool makes a file of again
                got = pe.frames(pe.wrestool_file(path, res, scratch))
                want = pe.frames(os.path.join(SOURCES, source))
                diff = pe.describe_difference(got, want)
                failures.check(diff is None, what + ": wrestool's file against " + source, diff)
            elif type_ == 2:  # a bitmap is its file without the file header
                whole = pe.read(os.path.join(SOURCES, source))
                failures.check(stored == whole[14:], what + ": stored bitmap differs from "
                               + source)
                failures.equal(depth(stored), bits, what + ": bits per pixel")
            elif source:
                failures.check(stored == pe.read(os.path.join(SOURCES, source)),
                               what + ": stored bytes differ from " + source)


def embedded(folder, failures):
    data = pe.read(os.path.join(folder, "embedded.bin"))
    program = pe.read(os.path.join(folder, "w64.exe"))
    failures.check(data == pe.filler("before", pe.FILLER_BEFORE) + program
                   + pe.filler("after", pe.FILLER_AFTER),
                   "embedded.bin is not filler, w64.exe at %d, filler" % pe.EMBEDDED_AT)
    # Only the program's own "MZ" may start an image: a stray one in the filler could be
    # a second program for a scan that tries every "MZ".
    stray = [i for i in range(len(data) - 1) if data[i:i + 2] == b"MZ"
             and not pe.EMBEDDED_AT <= i < pe.EMBEDDED_AT + len(program)]
    for i in stray:
        lfanew = struct.unpack_from("<I", data, i + 60)[0] if i + 64 <= len(data) else None
        failures.check(lfanew is None or data[i + lfanew:i + lfanew + 4] != b"PE\0\0",
                       "the filler holds an image header at %d" % i)


def signed(folder, failures):
    data = pe.read(os.path.join(folder, "signed.exe"))
    program = pe.read(os.path.join(folder, "w64.exe"))
    image = pe.load_pe(data)
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[pe.CERTIFICATE_ENTRY]
    at, size = entry.VirtualAddress, entry.Size
    failures.equal((at, size), (len(program), len(certificate())),
                   "signed.exe: the certificate table's offset and size")
    failures.check(at % 8 == 0 and size % 8 == 0 and at + size == len(data),
                   "signed.exe: the table is 8-aligned and ends the file")
    failures.equal(struct.unpack_from("<IHH", data, at), (8 + len(CERTIFICATE_BODY), 0x200, 2),
                   "signed.exe: WIN_CERTIFICATE length, revision, type")
    failures.check(image.verify_checksum(), "signed.exe: the checksum is wrong")
    # Nothing else differs from w64.exe.
    allowed = set(range(pe.checksum_field(image), pe.checksum_field(image) + 4))
    allowed |= set(range(entry.get_file_offset(), entry.get_file_offset() + 8))
    differ = [i for i in range(len(program)) if program[i] != data[i] and i not in allowed]
    failures.equal(differ[:10], [], "signed.exe: bytes that differ from w64.exe")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    command, folder = sys.argv[1:]
    pe.need_pefile()
    if command == "derive":
        derive(folder)
        return
    pe.need_programs(folder)
    if command == "resources":
        pe.need_tools("wrestool", "convert", "identify")
    failures = pe.Failures()
    {"layout": layout, "resources": resources, "embedded": embedded,
     "signed": signed}[command](folder, failures)
    failures.finish(command)


if __name__ == "__main__":
    main()
