#!/usr/bin/python3
"""kerbilo-cli's structure scan (--deep) on the programs pe_build.sh makes, against what the
peer tools read from the same programs: wrestool for the resources, ImageMagick for their
pixels, pefile for the headers.

Usage: pe_deep.py KERBILO_CLI FOLDER CHECK [ARGUMENT]
  export FILE     every picture found in FILE's program is exported as wrestool extracts it,
                  pixel for pixel, and the set found is the set the program holds
  replace CASE    one replacement of CASES below: the program still loads, the new picture is
                  in, every other resource and every byte outside the resources is kept
  plain           without --deep, list and inspect print the first rows of --deep's output
  config-key      "结构扫描=是" in the kinds file scans as --deep does
"""

import json
import os
import subprocess
import struct
import sys

import pe_common as pe

REPLACEMENTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "pe",
                            "replace")

# Each case: the file, the resource replaced (its source, without pe@), the new picture from
# tests/data/pe/replace, and whether it must be written in place (it fits where the old one
# lies). w64.exe's resource section is followed by another, w32.exe's is the last, so what
# does not fit goes to a new section in one and grows the last in the other.
CASES = {
    "icon-smaller": ("w64.exe", "ICON/3/1033", "icon_32_8bit.ico", True),
    "icon-same-size": ("w64.exe", "ICON/2/1033", "icon_32_8bit.ico", True),
    "icon-larger": ("w64.exe", "ICON/1/1033", "icon_64_32bit.ico", False),
    "icon-larger-last-section": ("w32.exe", "ICON/1/1033", "icon_64_32bit.ico", False),
    "group-smaller": ("w64.exe", "GROUP_ICON/SMALL/1033", "icon_16_4bit.ico", True),
    "group-same-size": ("w32.exe", "GROUP_ICON/SMALL/1033", "icon_24_24bit.ico", True),
    "group-larger": ("w32.exe", "GROUP_ICON/SMALL/1033", "icon_64_32bit.ico", False),
    "group-more-images": ("w64.exe", "GROUP_ICON/SMALL/1033", "icon_three.ico", False),
    "group-fewer-images-with-png": ("w64.exe", "GROUP_ICON/1/1033", "icon_with_png.ico", False),
    "cursor-group": ("w64.exe", "GROUP_CURSOR/1/1033", "cursor_32_1bit.cur", True),
    "cursor-image": ("w32.exe", "CURSOR/3/1033", "cursor_32_1bit.cur", True),
    "bitmap-same-size": ("w64.exe", "BITMAP/8/1033", "bits8.bmp", True),
    "bitmap-larger": ("w32.exe", "BITMAP/1/1033", "bits24_large.bmp", False),
    "bitmap-from-png": ("w64.exe", "BITMAP/24/1031", "picture.png", False),
    "rcdata-png": ("w64.exe", "RCDATA/LOGO/1033", "picture.png", True),
    "embedded-in-place": ("embedded.bin", "GROUP_CURSOR/1/1033", "cursor_32_1bit.cur", True),
    "embedded-larger": ("embedded.bin", "ICON/1/1033", "icon_64_32bit.ico", False),
    "signed-in-place": ("signed.exe", "ICON/2/1033", "icon_32_8bit.ico", True),
    "signed-larger": ("signed.exe", "ICON/1/1033", "icon_64_32bit.ico", False),
}

PICTURE_MAGIC = (b"\x89PNG\r\n\x1a\n", b"\xff\xd8\xff", b"GIF87a", b"GIF89a", b"BM")
GROUP_OF = {3: 14, 1: 12}  # an image's group type
IMAGE_OF = {14: 3, 12: 1}  # a group's image type


class Peer:
    """One program as wrestool and ImageMagick see it, with what they extract cached."""

    def __init__(self, path, scratch):
        self.path, self.scratch = path, scratch
        self.listed = pe.wrestool_list(path)
        self._raw, self._frames = {}, {}

    def raw(self, res):
        if res not in self._raw:
            self._raw[res] = pe.wrestool_raw(self.path, res)
        return self._raw[res]

    def file(self, res):
        """wrestool's .ico, .cur or .bmp of a group or a bitmap."""
        folder = os.path.join(self.scratch, "peer-%x" % id(self))
        os.makedirs(folder, exist_ok=True)
        return pe.wrestool_file(self.path, res, folder)

    def frames(self, res):
        if res not in self._frames:
            self._frames[res] = pe.frames(self.file(res))
        return self._frames[res]

    def holder(self, image):
        """The group that holds an icon or cursor image, and the image's place in it."""
        for group in self.listed:
            if group.type == GROUP_OF[image.type] and group.language == image.language:
                _, entries = pe.group_entries(self.raw(group), group.type == 12)
                for i, e in enumerate(entries):
                    if e["id"] == image.name:
                        return group, i
        return None, None

    def members(self, group):
        _, entries = pe.group_entries(self.raw(group), group.type == 12)
        return {pe.Resource(IMAGE_OF[group.type], e["id"], group.language) for e in entries}

    def pictures(self):
        """What the structure scan must find: every icon, cursor and bitmap and their groups,
        and the other resources whose data is a picture file."""
        return [r for r in self.listed if r.type in pe.PICTURE_TYPES
                or self.raw(r).startswith(PICTURE_MAGIC)]


def same_pixels(failures, what, got, want):
    """got and want give lists of frames; a picture ImageMagick cannot read is a failure."""
    try:
        diff = pe.describe_difference(got(), want())
    except pe.Undecodable as e:
        diff = str(e)
    return failures.check(diff is None, what, diff)


def program_of(folder, name):
    """The program wrestool can read for a file, and where it lies in the file."""
    if name == "embedded.bin":
        return os.path.join(folder, "w64.exe"), pe.EMBEDDED_AT
    return os.path.join(folder, name), None


def deep_rows(cli, failures, path):
    rows = cli.rows(failures, "inspect", "--deep", path, "--json")
    if rows is None:
        return None
    failures.check(all("source" in r for r in rows), "inspect --deep rows without a source key")
    return rows


def found_resources(rows, at, failures):
    """The program resources among the rows, by Resource."""
    found = {}
    for row in rows:
        if not row.get("source"):
            continue
        parsed = pe.parse_source(row["source"])
        if not failures.check(parsed is not None, "a source not understood: %r" % row["source"]):
            continue
        where, res = parsed
        failures.equal(where, at, "where the program lies, for " + row["source"])
        failures.check(res not in found, "found twice: " + row["source"])
        found[res] = row
    return found


# ---- export ------------------------------------------------------------------------------

SUFFIXES = {14: "ico", 3: "ico", 12: "cur", 1: "cur", 2: "bmp"}
DATA_SUFFIXES = {b"\x89PNG": "png", b"\xff\xd8\xff": "jpg", b"GIF8": "gif", b"BM": "bmp"}


def compare_export(peer, res, data, exported, failures):
    """A file kerbilo-cli exported for res against what the peers read from the program."""
    what = res.source() + " exported as " + os.path.basename(exported)
    if res.type in (12, 14):
        same_pixels(failures, what + ": pixels differ from wrestool's",
                    lambda: pe.frames(exported), lambda: peer.frames(res))
        if res.type == 12:
            want = [i["hotspot"] for i in pe.icon_file_images(pe.read(peer.file(res)))[1]]
            got = [i["hotspot"] for i in pe.icon_file_images(data)[1]]
            failures.equal(got, want, what + ": hot spots")
    elif res.type in (1, 3):
        group, index = peer.holder(res)
        stored = peer.raw(res)
        kind, images = pe.icon_file_images(data)
        if not failures.equal((kind, len(images)), (2 if res.type == 1 else 1, 1),
                              what + ": file type and number of images"):
            return
        if res.type == 1:
            failures.equal(images[0]["hotspot"], struct.unpack_from("<HH", stored),
                           what + ": hot spot")
            stored = stored[4:]
        failures.check(images[0]["data"] == stored,
                       what + ": the image is not the bytes the program stores")
        same_pixels(failures, what + ": pixels differ from image %d of wrestool's %s"
                    % (index, group.source()), lambda: pe.frames(exported),
                    lambda: peer.frames(group)[index:index + 1])
    elif res.type == 2:
        failures.check(data[:2] == b"BM" and struct.unpack_from("<I", data, 2)[0] == len(data)
                       and data[14:] == peer.raw(res),
                       what + ": not a file header and the stored bitmap")
        same_pixels(failures, what + ": pixels differ from wrestool's",
                    lambda: pe.frames(exported), lambda: peer.frames(res))
    else:
        failures.check(data == peer.raw(res), what + ": not the bytes the program stores")


def check_export(cli, folder, name, failures):
    path = os.path.join(folder, name)
    program, at = program_of(folder, name)
    scratch = pe.scratch("kerbilo-pe-export-")
    peer = Peer(program, scratch)
    data = pe.read(path)
    rows = deep_rows(cli, failures, path)
    if rows is None:
        return
    found = found_resources(rows, at, failures)

    # The set found is the set of pictures the program holds, nothing more.
    want = peer.pictures()
    failures.equal(sorted(map(str, set(found) - set(want))), [],
                   name + ": found, but no picture of the program")
    failures.equal(sorted(map(str, set(want) - set(found))), [],
                   name + ": pictures of the program not found")

    # offset is where the resource's stored data lies in the file; length, as for every
    # resource, is the length of its data: the file it exports as (checked below).
    for res, row in found.items():
        raw = peer.raw(res)
        stored = data[row["offset"]:row["offset"] + len(raw)]
        failures.check(stored == raw, "%s: offset %s is not where its data lies"
                       % (row["source"], row["offset"]))

    out = os.path.join(scratch, "out")
    rc, _, err = cli.run("export", path, "--deep", "--out", out)
    if not failures.check(rc == 0, "export --deep exited %d" % rc, err.strip()):
        return
    manifest = os.path.join(out, name, "manifest.tsv")
    if not failures.check(os.path.isfile(manifest), "no " + manifest):
        return
    header, entries = pe.read_tsv(pe.read(manifest).decode("utf-8"))
    failures.check({"number", "kind", "label", "path", "source"} <= set(header),
                   "manifest.tsv's columns", header)
    by_number = {e.get("number"): e for e in entries}
    for res, row in found.items():
        entry = by_number.get(str(row["number"]))
        if not failures.check(entry is not None, "%s (number %s) has no manifest row"
                              % (row["source"], row["number"])):
            continue
        failures.equal(entry.get("source"), row["source"], "manifest source of number %s"
                       % row["number"])
        exported = os.path.join(os.path.dirname(manifest), entry.get("path", ""))
        if not failures.check(os.path.isfile(exported), "%s: no file %s" % (row["source"],
                                                                           exported)):
            continue
        exported_data = pe.read(exported)
        failures.equal(len(exported_data), row["length"], row["source"] + ": length")
        suffix = SUFFIXES.get(res.type) or next(
            (s for magic, s in DATA_SUFFIXES.items() if peer.raw(res).startswith(magic)), "?")
        failures.equal(os.path.splitext(exported)[1].lower(), "." + suffix,
                       row["source"] + ": suffix")
        compare_export(peer, res, exported_data, exported, failures)

    # One resource alone is written as export-all writes it.
    for res, row in found.items():
        if res.type in (1, 2, 14) or isinstance(res.name, str):
            one = os.path.join(scratch, "one-%s" % row["number"])
            rc, _, err = cli.run("export", path, "--deep", "--resource", row["number"], "-o", one)
            whole = os.path.join(os.path.dirname(manifest),
                                 by_number.get(str(row["number"]), {}).get("path", ""))
            failures.check(rc == 0 and os.path.isfile(one) and os.path.isfile(whole)
                           and pe.read(one) == pe.read(whole),
                "export --resource %s (%s) differs from export-all's file" % (row["number"],
                                                                               row["source"]),
                err.strip())


# ---- replace -----------------------------------------------------------------------------

def affected_by(before, res, after):
    """The resources a replacement of res may change: res, and for an image its group, for a
    group its images before and after."""
    touched = {res}
    if res.type in GROUP_OF:
        group, _ = before.holder(res)
        touched |= {group} if group else set()
    if res.type in IMAGE_OF:
        touched |= before.members(res)
        if res in after.listed:
            touched |= after.members(res)
    return touched


def check_groups(peer, what, failures):
    """Every group entry of the result describes the image it names, as a loader reads it."""
    listed = set(peer.listed)
    for group in peer.listed:
        if group.type not in IMAGE_OF:
            continue
        _, entries = pe.group_entries(peer.raw(group), group.type == 12)
        for e in entries:
            image = pe.Resource(IMAGE_OF[group.type], e["id"], group.language)
            if not failures.check(image in listed, "%s: %s names %s, which is not there"
                                  % (what, group.source(), image.source())):
                continue
            stored = peer.raw(image)
            failures.equal(e["size"], len(stored), "%s: %s's size of %s" % (
                what, group.source(), image.source()))
            width, height = pe.image_size(stored[4:] if group.type == 12 else stored)
            if group.type == 14:
                got_ok = (e["width"] or 256, e["height"] or 256) == (width, height)
            else:  # a cursor group's height counts the mask, as windres writes it, or not
                got_ok = e["width"] == width and e["height"] in (height, 2 * height)
            failures.check(got_ok, "%s: %s's entry for %s says %dx%d, the image is %dx%d" % (
                what, group.source(), image.source(), e["width"], e["height"], width, height))


def check_new_picture(before, after, res, new_path, failures):
    """wrestool extracts the new picture where res was."""
    what = res.source() + " after the replacement"
    new = pe.read(new_path)
    if res.type in IMAGE_OF:
        same_pixels(failures, what + ": pixels differ from the new file's",
                    lambda: after.frames(res), lambda: pe.frames(new_path))
        if res.type == 12:
            failures.equal([i["hotspot"] for i in pe.icon_file_images(pe.read(after.file(res)))[1]],
                           [i["hotspot"] for i in pe.icon_file_images(new)[1]],
                           what + ": hot spots")
    elif res.type in GROUP_OF:
        group, index = after.holder(res)
        if not failures.check(group is not None, what + ": no group holds it"):
            return
        same_pixels(failures, what + ": pixels differ from the new file's",
                    lambda: after.frames(group)[index:index + 1], lambda: pe.frames(new_path))
        others = lambda peer: peer.frames(group)[:index] + peer.frames(group)[index + 1:]
        same_pixels(failures, what + ": the group's other images changed",
                    lambda: others(after), lambda: others(before))
        if res.type == 1:
            failures.equal(struct.unpack_from("<HH", after.raw(res)),
                           pe.icon_file_images(new)[1][0]["hotspot"], what + ": hot spot")
    elif res.type == 2:
        same_pixels(failures, what + ": pixels differ from the new file's",
                    lambda: after.frames(res), lambda: pe.frames(new_path))
    else:
        failures.check(after.raw(res) == new, what + ": not the new file's bytes")


def header_fields(image):
    """The file offsets of the header fields a rebuilt resource section may change."""
    oh = image.OPTIONAL_HEADER
    fields = {pe.checksum_field(image) + i for i in range(4)}
    for name in ("SizeOfImage", "SizeOfInitializedData"):
        at = oh.get_field_absolute_offset(name)
        fields |= set(range(at, at + 4))
    at = image.FILE_HEADER.get_field_absolute_offset("NumberOfSections")
    fields |= {at, at + 1}
    for entry in (pe.RESOURCE_ENTRY, pe.CERTIFICATE_ENTRY):
        at = oh.DATA_DIRECTORY[entry].get_file_offset()
        fields |= set(range(at, at + 8))
    table = image.sections[0].get_file_offset()
    fields |= set(range(table, table + 40 * (len(image.sections) + 1)))
    return fields


def section_facts(s):
    return (s.Name, s.VirtualAddress, s.Misc_VirtualSize, s.PointerToRawData, s.SizeOfRawData,
            s.Characteristics)


def check_layout(old_data, new_data, in_place, signed, tail, failures):
    """What must stay of the program around its resources. tail: the bytes after a program
    inside other bytes, which its checksum may count as its own."""
    old, new = pe.load_pe(old_data), pe.load_pe(new_data)
    failures.check(hasattr(new, "DIRECTORY_ENTRY_RESOURCE"), "pefile reads no resource directory")
    failures.equal(new.get_warnings(), old.get_warnings(), "pefile's warnings")
    if old.OPTIONAL_HEADER.CheckSum:
        failures.check(new.OPTIONAL_HEADER.CheckSum != 0 and (
            new.verify_checksum() or tail and pe.load_pe(new_data + tail).verify_checksum()),
            "the checksum is not set again: %08X" % new.OPTIONAL_HEADER.CheckSum)
    resources = [section_facts(s) for s in pe.resource_sections(old)]
    spans = [(s.PointerToRawData, s.PointerToRawData + s.SizeOfRawData)
             for s in pe.resource_sections(old)]
    old_end, new_end = pe.extent(old, len(old_data)), pe.extent(new, len(new_data))

    if in_place:
        # The same bytes outside the resource section, but for the checksum (and the
        # certificate table's entry, for a signed program: its signature is gone).
        allowed = set(range(pe.checksum_field(old), pe.checksum_field(old) + 4))
        if signed:
            at = old.OPTIONAL_HEADER.DATA_DIRECTORY[pe.CERTIFICATE_ENTRY].get_file_offset()
            allowed |= set(range(at, at + 8))
        end = old_end if signed else len(old_data)
        failures.check(len(new_data) >= end, "written in place, yet shorter: %d bytes, was %d"
                       % (len(new_data), len(old_data)))
        failures.check(signed or len(new_data) == len(old_data),
                       "written in place, yet %d bytes long, was %d" % (len(new_data),
                                                                       len(old_data)))
        differ = [i for i in range(min(end, len(new_data))) if old_data[i] != new_data[i]
                  and i not in allowed and not any(a <= i < b for a, b in spans)]
        failures.equal(["%X" % i for i in differ[:8]], [],
                       "bytes outside the resource section that changed (hexadecimal offsets)")
        return

    # Rebuilt: the headers but for the fields that describe sections and their sizes.
    fields = header_fields(old)
    size = old.OPTIONAL_HEADER.SizeOfHeaders
    differ = [i for i in range(size) if old_data[i] != new_data[i] and i not in fields]
    failures.equal(["%X" % i for i in differ[:8]], [], "header bytes that changed")
    count_old, count_new = len(old.sections), len(new.sections)
    failures.check(count_new in (count_old, count_old + 1),
                   "%d sections, was %d" % (count_new, count_old))
    for i, s in enumerate(old.sections):
        if section_facts(s) in resources or i >= count_new:
            continue
        t = new.sections[i]
        failures.equal(section_facts(t), section_facts(s), "section %d's header" % i)
        start, end = s.PointerToRawData, s.PointerToRawData + s.SizeOfRawData
        failures.check(old_data[start:end] == new_data[start:end],
                       "section %d (%s) has other bytes" % (i, s.Name))
    for i, (a, b) in enumerate(zip(old.OPTIONAL_HEADER.DATA_DIRECTORY,
                                   new.OPTIONAL_HEADER.DATA_DIRECTORY)):
        if i in (pe.RESOURCE_ENTRY, pe.CERTIFICATE_ENTRY):
            continue
        failures.equal((b.VirtualAddress, b.Size), (a.VirtualAddress, a.Size),
                       "data directory entry %d" % i)
    align = new.OPTIONAL_HEADER.SectionAlignment
    last = max(s.VirtualAddress + s.Misc_VirtualSize for s in new.sections)
    failures.equal(new.OPTIONAL_HEADER.SizeOfImage, (last + align - 1) // align * align,
                   "SizeOfImage")
    entry = new.OPTIONAL_HEADER.DATA_DIRECTORY[pe.RESOURCE_ENTRY]
    failures.check(any(s.VirtualAddress <= entry.VirtualAddress and entry.VirtualAddress
                       + entry.Size <= s.VirtualAddress + s.SizeOfRawData for s in new.sections),
                   "no section's raw data holds the resource directory")
    # The loader maps the sections one after the other, each where the last one ends.
    starts = [s.VirtualAddress for s in new.sections]
    ends = [(s.VirtualAddress + max(s.Misc_VirtualSize, 1) + align - 1) // align * align
            for s in new.sections]
    failures.equal(starts[1:], ends[:-1], "where the sections start in memory, against where "
                   "the ones before them end")
    file_align = new.OPTIONAL_HEADER.FileAlignment
    failures.equal([s.PointerToRawData % file_align for s in new.sections],
                   [0] * len(new.sections), "section offsets in the file, modulo FileAlignment")
    ranges = sorted((s.PointerToRawData, s.PointerToRawData + s.SizeOfRawData)
                    for s in new.sections if s.SizeOfRawData)
    failures.check(all(a[1] <= b[0] for a, b in zip(ranges, ranges[1:])),
                   "sections overlap in the file", ranges)
    if not signed:
        failures.check(new_data[new_end:] == old_data[old_end:],
                       "the overlay is not kept after the sections: %d bytes from %d, was %d "
                       "from %d" % (len(new_data) - new_end, new_end, len(old_data) - old_end,
                                    old_end))


def check_replace(cli, folder, case, failures):
    name, target, picture, in_place = CASES[case]
    path = os.path.join(folder, name)
    program, at = program_of(folder, name)
    scratch = pe.scratch("kerbilo-pe-replace-")
    before = Peer(program, scratch)
    rows = deep_rows(cli, failures, path)
    if rows is None:
        return
    source = ("pe" if at is None else "pe@0x%X" % at) + ":" + target
    number = next((r["number"] for r in rows if r.get("source") == source), None)
    if not failures.check(number is not None, "inspect --deep lists no " + source):
        return
    res = pe.parse_source(source)[1]
    new_path = os.path.join(REPLACEMENTS, picture)
    out = os.path.join(scratch, "replaced-" + name)
    rc, _, err = cli.run("replace", path, "--deep", "--resource", number, "--with", new_path,
                         "-o", out, "--yes")
    if not failures.check(rc == 0 and os.path.isfile(out), "replace exited %d" % rc, err.strip()):
        return
    old_data, new_data = pe.read(path), pe.read(out)
    signed = name == "signed.exe"

    tail = b""
    if at is not None:
        # The bytes around the program stay; those after it move when it grows.
        program_data = pe.read(program)
        tail = old_data[at + len(program_data):]
        failures.check(new_data[:at] == old_data[:at], "the bytes before the program changed")
        failures.check(new_data.endswith(tail), "the bytes after the program are not kept "
                       "at the end")
        old_data, new_data = program_data, new_data[at:len(new_data) - len(tail)]
    result = os.path.join(scratch, "result.exe")
    pe.write(result, new_data)
    try:
        after = Peer(result, scratch)
    except Exception as e:  # wrestool cannot read it at all
        failures.fail("wrestool -l cannot read the result", e)
        return
    if signed:
        image = pe.load_pe(new_data)
        entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[pe.CERTIFICATE_ENTRY]
        failures.equal((entry.VirtualAddress, entry.Size), (0, 0),
                       "the certificate table's entry after the replacement")
        failures.check(err.strip() != "", "nothing on stderr about the signature removed")

    check_layout(old_data, new_data, in_place, signed, tail, failures)
    touched = affected_by(before, res, after)
    failures.check(res in after.listed, "wrestool no longer lists " + res.source())
    failures.equal(sorted(map(str, set(before.listed) - touched - set(after.listed))), [],
                   "resources gone")
    failures.equal(sorted(map(str, set(after.listed) - touched - set(before.listed))), [],
                   "resources that appeared")
    for other in before.listed:
        if other not in touched and other in after.listed:
            failures.check(after.raw(other) == before.raw(other),
                           other.source() + " changed, which was not replaced")
    check_groups(after, "the result", failures)
    check_new_picture(before, after, res, new_path, failures)


# ---- without --deep ----------------------------------------------------------------------

def without_source(header, rows):
    keep = [c for c in header if c != "source"]
    return keep, [[r.get(c) for c in keep] for r in rows]


def check_plain(cli, folder, failures):
    for name in ("w64.exe", "w32.exe", "embedded.bin"):
        path = os.path.join(folder, name)
        outputs = {}
        for command in ("list", "inspect"):
            for form in ([], ["--json"]):
                for deep in ([], ["--deep"]):
                    rc, out, err = cli.run(command, path, *form, *deep)
                    what = "kerbilo-cli %s %s %s" % (command, name, " ".join(form + deep))
                    if failures.check(rc == 0, what + " exited %d" % rc, err.strip()):
                        outputs[command, bool(form), bool(deep)] = out
        for command in ("list", "inspect"):
            what = "%s %s" % (command, name)
            if (command, False, True) not in outputs or (command, False, False) not in outputs:
                continue
            header, plain = pe.read_tsv(outputs[command, False, False])
            deep_header, deep = pe.read_tsv(outputs[command, False, True])
            failures.check(len(plain) > 0, what + ": the kinds find nothing to compare")
            # The source column is inspect's, and only with --deep.
            failures.equal("source" in deep_header, command == "inspect",
                           what + " --deep: a source column")
            failures.equal(without_source(deep_header, deep)[0], header, what + ": columns")
            failures.equal(without_source(deep_header, deep)[1][:len(plain)],
                           without_source(header, plain)[1], what + ": the first rows of --deep")
            if command == "inspect":
                failures.equal([r["source"] for r in deep[:len(plain)]], [""] * len(plain),
                               what + " --deep: the kinds' rows' sources")
                failures.check(len(deep) > len(plain) and all(r["source"].startswith("pe")
                                                              for r in deep[len(plain):]),
                               what + " --deep: rows after the kinds' are the program's")
            failures.equal([r["number"] for r in deep],
                           [str(i) for i in range(1, len(deep) + 1)], what + " --deep: numbers")
            if (command, True, True) in outputs and (command, True, False) in outputs:
                plain_json = json.loads(outputs[command, True, False])
                deep_json = json.loads(outputs[command, True, True])
                failures.equal([{k: v for k, v in r.items() if k != "source"}
                                for r in deep_json[:len(plain_json)]], plain_json,
                               what + " --json: the first objects of --deep")


# ---- the kinds file's key ----------------------------------------------------------------

def with_key(config, value):
    """The kinds file with "结构扫描" set to value in its [Config] section."""
    key = "结构扫描".encode("gbk")
    lines = [line for line in config.replace(b"\r\n", b"\n").split(b"\n")
             if not line.startswith(key + b"=")]
    at = next(i for i, line in enumerate(lines) if line.strip() == b"[Config]") + 1
    lines.insert(at, key + b"=" + value.encode("gbk"))
    return b"\r\n".join(lines)


def check_config_key(cli, folder, failures):
    path = os.path.join(folder, "w64.exe")
    own = os.path.join(cli.folder, "resource.config")
    cli.run("list", "/dev/null")  # writes the built-in kinds beside the program
    if not failures.check(os.path.isfile(own), "the program wrote no resource.config"):
        return
    default = pe.read(own)
    _, deep, _ = cli.run("inspect", path, "--json", "--deep")
    _, plain, _ = cli.run("inspect", path, "--json")
    failures.check('"source":"pe' in deep.replace(" ", ""), "inspect --deep finds no resource "
                   "of the program")
    other = os.path.join(cli.folder, "other.config")
    pe.write(other, with_key(default, "是"))
    _, got, err = cli.run("inspect", path, "--json", "--config", other)
    failures.check(got == deep, "--config with 结构扫描=是 does not scan as --deep does",
                   err.strip())
    pe.write(own, with_key(default, "是"))
    _, got, err = cli.run("inspect", path, "--json")
    failures.check(got == deep, "resource.config with 结构扫描=是 does not scan as --deep does",
                   err.strip())
    pe.write(own, with_key(default, "否"))
    _, got, err = cli.run("inspect", path, "--json")
    failures.check(got == plain, "resource.config with 结构扫描=否 scans structures",
                   err.strip())


# ---- render ------------------------------------------------------------------------------

def check_render(cli, folder, failures):
    """render --deep draws a program's pictures as the pane would; without --deep their
    numbers are no resources."""
    path = os.path.join(folder, "w64.exe")
    rows = deep_rows(cli, failures, path)
    if rows is None:
        return
    picked = [r for r in rows if r.get("source", "").startswith("pe:GROUP_ICON/")
              or r.get("source", "").startswith("pe:BITMAP/")]
    failures.check(len(picked) >= 2, "no icon group or bitmap to render")
    scratch = pe.scratch("kerbilo-pe-render-")
    for row in picked:
        out = os.path.join(scratch, "%s.png" % row["number"])
        rc, _, err = cli.run("render", path, "--deep", "--resource", str(row["number"]),
                             "-o", out, "--background", "FFFFFF")
        if not failures.check(rc == 0 and os.path.isfile(out),
                              "render --deep of %s exited %d" % (row["source"], rc), err.strip()):
            continue
        drawn = subprocess.run(["convert", out, "-format", "%[fx:mean<1?1:0]", "info:"],
                               capture_output=True, text=True).stdout.strip()
        failures.equal(drawn, "1", "render --deep of %s: nothing but the background"
                       % row["source"])
    rc, _, _ = cli.run("render", path, "--resource", str(picked[-1]["number"]), "-o",
                       os.path.join(scratch, "plain.png"))
    failures.check(rc != 0, "render without --deep has a resource %s" % picked[-1]["number"])


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    binary, folder, check = sys.argv[1:4]
    argument = sys.argv[4] if len(sys.argv) == 5 else None
    pe.need_pefile()
    pe.need_tools("wrestool", "convert", "identify")
    pe.need_programs(folder)
    cli = pe.Cli(binary, pe.scratch("kerbilo-pe-cli-"))
    failures = pe.Failures()
    if check == "export":
        check_export(cli, folder, argument, failures)
    elif check == "replace":
        check_replace(cli, folder, argument, failures)
    elif check == "plain":
        check_plain(cli, folder, failures)
    elif check == "config-key":
        check_config_key(cli, folder, failures)
    elif check == "render":
        check_render(cli, folder, failures)
    else:
        sys.exit(__doc__)
    failures.finish(" ".join(filter(None, (check, argument))))


if __name__ == "__main__":
    main()
