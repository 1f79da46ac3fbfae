#!/usr/bin/python3
"""kerbilo-cli's structure scan inside archives and compressed streams, on the files
zip_build.py makes, against what the peers read from them: zipfile and unzip for the
archives, zlib for the streams, pefile for a program before an archive.

Usage: zip_deep.py KERBILO_CLI FOLDER CHECK [ARGUMENT]
  found FILE      every picture put in FILE is found once, under its source, its bytes as
                  put (inspect's sha256 and the exported file); every entry and stream is
                  scanned as the same bytes in a file of their own are
  replace CASE    one replacement of zip_common.CASES: the archive still sound to both
                  peers with only that entry changed, or the stream rewritten where it lies,
                  or refused with nothing written
  bomb FILE       recursive.zip, overlap.zip, zeros.gz: inspect ends in time and memory, exit
                  0, and says which limit stopped it
  traversal       export of traversal.zip writes inside its own folder only, and the
                  manifest shows the entries' names escaped
  unchanged FILE  without the structure scan, list, inspect and export print the first rows
                  of what they print with it, for the built-in kinds and for the
                  recommended kinds without the key
"""

import hashlib
import io
import json
import os
import re
import sys
import zipfile

import pe_common as pe
import zip_common as zc

REC = zc.RECOMMENDED
DEADLINE = 20.0  # seconds, wall
MEMORY = 512 << 20  # peak resident bytes
# The words that name the limits that can stop each bomb (stderr, in the C locale):
# nesting stops the recursion; the overlapping entries pass the total or the ratio (or are
# refused as overlapping); the zeros pass the stream's limit or the ratio.
LIMIT_WORDS = {
    "recursive.zip": ("depth", "nest", "level"),
    "overlap.zip": ("4 GiB", "ratio", "overlap", "total", "per file"),
    "zeros.gz": ("512 MiB", "ratio", "per stream"),
}
# Bombs are inflated to a limit on each run with the scan on: the check of unchanged output
# runs them through inspect --json alone.
HEAVY = ("overlap.zip", "zeros.gz")


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def inspect(cli, failures, path, *more):
    rows = cli.rows(failures, "inspect", path, "--json", "--config", REC, *more)
    if rows is not None:
        failures.equal([r.get("number") for r in rows], list(range(1, len(rows) + 1)),
                       os.path.basename(path) + ": numbers")
        failures.check(all("source" in r for r in rows), "rows without a source key")
    return rows


def by_source(rows, failures, what):
    """The container rows by source (escapes in capitals), each source once."""
    found = {}
    for r in rows:
        if zc.in_container(r.get("source")):
            key = zc.normalise(r["source"])
            failures.check(key not in found, "%s: found twice: %s" % (what, key))
            found[key] = r
    return found


def number_of(rows, source):
    key = zc.normalise(source)
    return next((r["number"] for r in rows if zc.normalise(r.get("source") or "") == key), None)


# ---- found ------------------------------------------------------------------------------

def contents(data, container):
    """(source prefix, content) of each entry of a container, as the peers read them."""
    prefix = zc.container_prefix(container)
    if container["kind"] != "zip":
        content, _, _ = zc.inflate(data[container["offset"]:],
                                   31 if container["kind"] == "gzip" else 15)
        return [(prefix, content)]
    with zipfile.ZipFile(io.BytesIO(data[container["offset"]:])) as archive:
        return [(prefix + ":" + zc.escape_name(zc.raw_name(i)), archive.read(i))
                for i in archive.infolist() if not i.is_dir()]


def expected_rows(cli, failures, data, facts, scratch):
    """What must be found inside the containers: each entry's content, saved as a file of
    its own and scanned with the same kinds, gives the rows its pictures must give in the
    container, under the container's source."""
    expected = {}
    for container in facts["containers"]:
        for i, (prefix, content) in enumerate(contents(data, container)):
            if not content:
                continue
            alone = os.path.join(scratch, "content-%d-%d" % (container["offset"], i))
            pe.write(alone, content)
            for row in inspect(cli, failures, alone) or []:
                expected[zc.normalise(zc.nested(prefix, row))] = row
    return expected


def check_found(cli, folder, name, failures):
    layout = zc.load_layout(folder)
    if name not in layout:
        pe.skip("%s was not built (it needs w64.exe, which needs MinGW)" % name)
    facts, path = layout[name], os.path.join(folder, name)
    data = pe.read(path)
    scratch = pe.scratch("kerbilo-zip-found-")
    rows = inspect(cli, failures, path)
    if rows is None:
        return
    inside = [i for i, r in enumerate(rows) if zc.in_container(r.get("source"))]
    failures.check(inside and inside == list(range(inside[0], len(rows))),
                   "rows inside containers do not all come after the others",
                   [r.get("source") for r in rows])
    found = by_source(rows, failures, name)

    # Each picture put in: once, under its source, its own bytes.
    for p in facts["pictures"]:
        want = zc.picture(p["picture"])
        row = found.get(zc.normalise(p["source"]))
        if failures.check(row is not None, "%s: %s (%s) not found" % (name, p["source"],
                                                                     p["picture"])):
            failures.equal((row["length"], row["sha256"]), (len(want), sha256(want)),
                           "%s: length and sha256 of %s" % (name, p["source"]))

    # Every entry scanned as a file of its own is, nothing more and nothing less.
    expected = expected_rows(cli, failures, data, facts, scratch)
    failures.equal(sorted(set(found) - set(expected)), [], name + ": found, but in no entry "
                   "or stream scanned alone")
    failures.equal(sorted(set(expected) - set(found)), [], name + ": in an entry or stream "
                   "scanned alone, but not found")
    for source in sorted(set(found) & set(expected)):
        failures.equal({k: found[source].get(k) for k in zc.SAME_IN_CONTAINER},
                       {k: expected[source].get(k) for k in zc.SAME_IN_CONTAINER},
                       "%s: %s against the same bytes in a file of their own" % (name, source))

    # Exported: the pictures' own bytes, and only under DIR/<file name>/.
    out = os.path.join(scratch, "out")
    rc, _, err = cli.run("export", path, "--config", REC, "--out", out)
    if not failures.check(rc == 0, "export exited %d" % rc, err.strip()):
        return
    failures.equal(sorted(p for p in zc.walk(out) if p != name
                          and not p.startswith(name + os.sep)), [],
                   "export wrote outside %s/" % name)
    manifest = os.path.join(out, name, "manifest.tsv")
    if not failures.check(os.path.isfile(manifest), "no " + manifest):
        return
    header, lines = pe.read_tsv(pe.read(manifest).decode("utf-8"))
    failures.check({"number", "path", "source", "sha256"} <= set(header),
                   "manifest.tsv's columns", header)
    by_number = {line.get("number"): line for line in lines}
    files = {}
    for source, row in sorted(found.items()):
        line = by_number.get(str(row["number"]))
        if not failures.check(line is not None, "%s: no manifest row" % source):
            continue
        failures.equal(zc.normalise(line.get("source", "")), source,
                       "manifest source of number %s" % row["number"])
        exported = os.path.join(os.path.dirname(manifest), line.get("path", ""))
        if failures.check(os.path.isfile(exported), "%s: no file %s" % (source, exported)):
            files[source] = pe.read(exported)
            failures.equal(sha256(files[source]), row["sha256"],
                           "%s: the exported file's sha256" % source)
    for p in facts["pictures"]:
        source = zc.normalise(p["source"])
        if source in files:
            failures.check(files[source] == zc.picture(p["picture"]),
                           "%s: exported, it is not %s" % (source, p["picture"]))
            one = os.path.join(scratch, "one")
            rc, _, err = cli.run("export", path, "--config", REC, "--resource",
                                 found[source]["number"], "-o", one)
            failures.check(rc == 0 and os.path.isfile(one) and pe.read(one) == files[source],
                           "export --resource of %s differs from export-all's file" % source,
                           err.strip())


# ---- replace ----------------------------------------------------------------------------

def entries(blob):
    """(name, method, content) of each entry, as zipfile reads the archive in blob."""
    with zipfile.ZipFile(io.BytesIO(blob)) as archive:
        return [(zc.raw_name(i), i.compress_type, archive.read(i)) for i in archive.infolist()]


def check_archive(old, new, path, new_picture, what, scratch, failures, whole=None):
    """new is old with the entry at path (escaped names joined by >zip:, one a level) holding
    new_picture: sound to both peers, the other entries as they were, in their order, with
    their methods. old and new are the archives' own bytes; whole, the file that holds new
    where it lies, when there is one: the peers read that (an archive whose offsets count
    from the file's start reads only there), and the archive alone when its offsets count
    from its own start."""
    alone = os.path.join(scratch, "level-%d.zip" % len(path))
    pe.write(alone, new)
    whole = whole or alone
    failures.equal(zc.zipfile_test(whole), None, what + ": python3 -m zipfile -t")
    failures.equal(zc.unzip_test(whole), None, what + ": unzip -t")
    if whole != alone and zc.prefixed_by_unzip(whole):
        failures.equal(zc.unzip_test(alone), None, what + ": unzip -t of the archive alone")
    failures.equal(zc.local_problems(new), [], what + ": local headers against the central "
                   "directory")
    try:
        failures.equal(zc.central_records(new)[1], zc.central_records(old)[1],
                       what + ": where the archive's offsets count from")
        before, after = entries(old), entries(new)
    except (ValueError, zipfile.BadZipFile) as e:
        failures.fail(what + ": the peers cannot read it", e)
        return
    head, _, rest = path.partition(">zip:")
    failures.equal([(n, m) for n, m, _ in after], [(n, m) for n, m, _ in before],
                   what + ": entries and their methods")
    for (name, _, was), (_, _, now) in zip(before, after):
        escaped = zc.escape_name(name)
        if escaped != head:
            failures.check(now == was, "%s: %s changed, which was not replaced" % (what,
                                                                                  escaped))
        elif rest:
            check_archive(was, now, rest, new_picture, what + ">" + escaped, scratch, failures)
        else:
            failures.check(now == new_picture, "%s: %s does not hold the new picture"
                           % (what, escaped))


def check_replace(cli, folder, case, failures):
    name, index, rest, new_name, mode = zc.CASES[case]
    layout = zc.load_layout(folder)
    facts, path = layout[name], os.path.join(folder, name)
    container = facts["containers"][index]
    source = zc.case_source(layout, case)
    scratch = pe.scratch("kerbilo-zip-replace-")
    rows = inspect(cli, failures, path)
    if rows is None:
        return
    number = number_of(rows, source)
    if not failures.check(number is not None, "inspect lists no " + source):
        return
    new_picture = zc.picture(new_name)
    out = os.path.join(scratch, "replaced-" + name)
    rc, _, err = cli.run("replace", path, "--config", REC, "--resource", number, "--with",
                         os.path.join(zc.DATA, new_name), "-o", out, "--yes")
    old = pe.read(path)
    at, length = container["offset"], container["length"]

    if mode == "no-room":
        failures.equal(rc, 1, "replace's exit code when the stream has no room")
        failures.check(not os.path.exists(out), "replace wrote %s all the same" % out)
        failures.check(err.strip() != "", "nothing on stderr says why")
        return
    if not failures.check(rc == 0 and os.path.isfile(out), "replace exited %d" % rc,
                          err.strip()):
        return
    new = pe.read(out)
    failures.check(new[:at] == old[:at], "the bytes before the container changed")

    if mode == "in-place":
        wbits = 31 if container["kind"] == "gzip" else 15
        failures.equal(len(new), len(old), "the file's length after a replacement in place")
        failures.check(new[at + length:] == old[at + length:],
                       "the bytes after the stream changed")
        content, used, ended = zc.inflate(new[at:at + length], wbits)
        failures.check(ended and content == new_picture, "zlib does not inflate the new "
                       "picture from the stream at 0x%X (%d bytes used, ended: %s)"
                       % (at, used, ended))
    else:
        archive_end = len(new) - (len(old) - at - length)
        failures.check(new[archive_end:] == old[at + length:],
                       "the bytes after the archive are not kept after it")
        check_archive(old[at:at + length], new[at:archive_end], rest, new_picture, name,
                      scratch, failures, whole=out)
        if new[:2] == b"MZ" and facts.get("program"):
            try:
                image = pe.load_pe(new)
                failures.equal(pe.extent(image, len(new)), at, "where the program ends")
            except ImportError:
                print("note: no pefile here: the program before the archive is not read")
            except Exception as e:  # pefile's own error type needs pefile to name it
                failures.fail("pefile cannot read the program before the archive", e)

    # kerbilo-cli reads back what it wrote.
    again = inspect(cli, failures, out) or []
    row = next((r for r in again if zc.normalise(r.get("source") or "")
                == zc.normalise(source)), None)
    if failures.check(row is not None, "the result lists no " + source):
        failures.equal(row["sha256"], sha256(new_picture), source + ": sha256 in the result")


# ---- bombs ------------------------------------------------------------------------------

def check_bomb(cli, folder, name, failures):
    layout = zc.load_layout(folder)
    path = os.path.join(folder, name)
    run = zc.run_measured(cli, ["inspect", path, "--json", "--config", REC], DEADLINE + 10)
    failures.check(run.code is not None and run.wall <= DEADLINE,
                   "inspect took %.1f s (allowed %.0f)" % (run.wall, DEADLINE))
    failures.check(run.peak < MEMORY, "inspect's peak memory: %d MiB (allowed %d)"
                   % (run.peak >> 20, MEMORY >> 20))
    failures.equal(run.code, 0, "inspect's exit code")
    said = run.err.lower()
    failures.check(any(w.lower() in said for w in LIMIT_WORDS[name]),
                   "stderr names none of the limits %s" % (LIMIT_WORDS[name],), run.err.strip())
    print("%s: %.2f s, %d MiB, stderr: %s" % (name, run.wall, run.peak >> 20,
                                               run.err.strip()[:300]))
    try:
        rows = json.loads(run.out) if run.code == 0 else []
    except ValueError as e:
        failures.fail("inspect printed no JSON array", e, run.out[:300])
        return
    found = by_source(rows, failures, name)
    # Nested deeper than 4, nothing is read; down to 3, everything is.
    deepest = max((len(zc.links(s) or ()) for s in found), default=0)
    failures.check(deepest <= 4, "found %d containers deep" % deepest)
    for p in layout[name]["pictures"]:
        row = found.get(zc.normalise(p["source"]))
        if p["depth"] <= 3 and failures.check(row is not None, "not found: " + p["source"]):
            failures.equal(row["sha256"], sha256(zc.picture(p["picture"])),
                           p["source"] + ": sha256")


# ---- traversal --------------------------------------------------------------------------

def check_traversal(cli, folder, failures):
    layout = zc.load_layout(folder)
    name = "traversal.zip"
    scratch = pe.scratch("kerbilo-zip-traversal-")
    # Deep enough that ../../ from any folder the program might use stays in the scratch
    # folder, where the walk below sees it.
    base = os.path.join(scratch, "a", "b", "c")
    work, out = os.path.join(base, "work"), os.path.join(base, "out")
    os.makedirs(work)
    path = os.path.join(base, name)
    pe.write(path, pe.read(os.path.join(folder, name)))
    absolute = "/abs/escape.png"
    existed = os.path.exists(absolute), os.path.exists(os.path.dirname(absolute))
    before = zc.walk(scratch)
    rc, _, err = zc.run_in(cli, work, "export", path, "--config", REC, "--out", out)
    failures.equal(rc, 0, "export's exit code")
    own = os.path.relpath(os.path.join(out, name), scratch)
    allowed = (os.path.relpath(out, scratch), own)
    failures.equal(sorted(p for p in zc.walk(scratch) - before
                          if p not in allowed and not p.startswith(own + os.sep)), [],
                   "written outside out/%s/" % name)
    if not existed[0] and os.path.exists(absolute):
        failures.fail("export wrote " + absolute)
        os.remove(absolute)  # not left behind for the next run, nor the machine's owner
        if not existed[1]:
            os.rmdir(os.path.dirname(absolute))
    written = [p for p in zc.walk(os.path.join(out, name))]
    failures.equal([p for p in written if os.sep in p or re.search(r"[\x00-\x1f\x7f]", p)], [],
                   "exported files in folders of their own or with control characters in "
                   "their names")

    manifest = os.path.join(out, name, "manifest.tsv")
    if not failures.check(os.path.isfile(manifest), "no " + manifest, err.strip()):
        return
    raw = pe.read(manifest)
    failures.equal(sorted({"%02X" % b for b in raw if b < 0x20 and b not in (9, 10)
                           or b == 0x7F}), [], "control bytes in manifest.tsv")
    lines = raw.decode("utf-8").split("\n")
    if lines[-1] == "":
        lines.pop()
    header = lines[0].split("\t")
    failures.equal([i for i, line in enumerate(lines[1:], 2)
                    if len(line.split("\t")) != len(header)], [],
                   "manifest lines whose columns are not the header's")
    _, rows = pe.read_tsv(raw.decode("utf-8"))
    sources = sorted(zc.normalise(r.get("source", "")) for r in rows
                     if zc.in_container(r.get("source")))
    failures.equal(sources, sorted(zc.normalise(p["source"])
                                   for p in layout[name]["pictures"]),
                   "the manifest's sources")
    for r in rows:
        if zc.in_container(r.get("source")):
            file = os.path.join(os.path.dirname(manifest), r.get("path", ""))
            failures.check(os.path.realpath(file).startswith(os.path.realpath(
                os.path.join(out, name)) + os.sep), "the manifest's path %r lies outside"
                % r.get("path"))


# ---- unchanged without the structure scan -----------------------------------------------

def without_source(header, rows):
    keep = [c for c in header if c != "source"]
    return keep, [[r.get(c) for c in keep] for r in rows]


def check_unchanged(cli, folder, name, failures):
    zc.load_layout(folder)
    path = os.path.join(folder, name)
    scratch = pe.scratch("kerbilo-zip-unchanged-")
    no_key = os.path.join(scratch, "no-key.config")
    pe.write(no_key, zc.without_key(pe.read(REC)))
    key = "结构扫描=".encode("gbk")
    failures.check(key in pe.read(REC) and key not in pe.read(no_key),
                   "the recommended kinds have no 结构扫描 line to take out")
    kinds = {"built-in kinds": ([], ["--deep"]),
             "recommended kinds": (["--config", no_key], ["--config", REC])}
    commands = [("inspect", "--json")]
    if name not in HEAVY:
        commands += [("inspect",), ("list",), ("list", "--json"), ("export",)]
    for what, (plain_options, deep_options) in kinds.items():
        for command in commands:
            outputs = {}
            for deep, options in ((False, plain_options), (True, deep_options)):
                extra = []
                if command[0] == "export":
                    extra = ["--out", os.path.join(scratch, "%s-%s" % (what[:3], deep))]
                rc, out, err = cli.run(command[0], path, *command[1:], *options, *extra)
                label = "%s %s (%s%s)" % (" ".join(command), name, what,
                                          ", scan on" if deep else "")
                if failures.check(rc == 0, label + " exited %d" % rc, err.strip()):
                    outputs[deep] = out if command[0] != "export" else extra[1]
            if len(outputs) == 2:
                compare(command, outputs[False], outputs[True], "%s %s (%s)" % (
                    " ".join(command), name, what), name, failures)


def compare(command, plain, deep, what, name, failures):
    if command[-1] == "--json":
        plain, deep = json.loads(plain), json.loads(deep)
        failures.equal([{k: v for k, v in r.items() if k != "source"}
                        for r in deep[:len(plain)]], plain, what + ": the first rows with the "
                       "scan on, but for their source")
        failures.equal([r.get("source", "") for r in deep[:len(plain)]], [""] * len(plain),
                       what + ": the sources of those rows")
        failures.check(all("source" not in r for r in plain), what + ": a source key with "
                       "the scan off")
        return
    if command[0] == "export":
        # Nothing found, nothing written: not even a manifest.
        plain_folder, deep_folder = os.path.join(plain, name), os.path.join(deep, name)
        plain, deep = (pe.read(m).decode("utf-8") if os.path.isfile(m) else "" for m in (
            os.path.join(plain_folder, "manifest.tsv"), os.path.join(deep_folder,
                                                                     "manifest.tsv")))
    header, plain_rows = pe.read_tsv(plain)
    deep_header, deep_rows = pe.read_tsv(deep)
    if header and deep_header:
        failures.equal("source" in deep_header, command[0] != "list",
                       what + ": a source column with the scan on")
        failures.equal(without_source(deep_header, [])[0], header, what + ": columns")
    if command[0] == "export":
        # The manifests name the files under their own folders.
        for rows, folder in ((plain_rows, plain_folder), (deep_rows, deep_folder)):
            for r in rows:
                file = os.path.join(folder, r["path"]) if r.get("path") else ""
                r["path"] = os.path.relpath(file, folder) if file else ""
                r["bytes"] = sha256(pe.read(file)) if os.path.isfile(file) else None
        header = header + ["bytes"]
        deep_header = deep_header + ["bytes"]
    failures.equal(without_source(deep_header, deep_rows[:len(plain_rows)])[1],
                   without_source(header, plain_rows)[1], what + ": the first rows with the "
                   "scan on")


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    binary, folder, check = sys.argv[1:4]
    argument = sys.argv[4] if len(sys.argv) == 5 else None
    pe.need_tools("unzip")
    cli = pe.Cli(binary, pe.scratch("kerbilo-zip-cli-"))
    failures = pe.Failures()
    if check == "found":
        check_found(cli, folder, argument, failures)
    elif check == "replace":
        check_replace(cli, folder, argument, failures)
    elif check == "bomb":
        check_bomb(cli, folder, argument, failures)
    elif check == "traversal":
        check_traversal(cli, folder, failures)
    elif check == "unchanged":
        check_unchanged(cli, folder, argument, failures)
    else:
        sys.exit(__doc__)
    failures.finish(" ".join(filter(None, (check, argument))))


if __name__ == "__main__":
    main()
