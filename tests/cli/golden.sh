#!/usr/bin/env bash
# Pins what kerbilo-cli prints and writes, byte for byte: users' scripts parse its rows,
# JSON, manifests and exit codes, so a change there must be a decision, never a side
# effect of reworking the code behind them.
#
# Usage:
#   golden.sh KERBILO_CLI record DIR
#       runs every case and writes the transcript to DIR/transcript.txt
#   golden.sh KERBILO_CLI check DIR
#       runs every case and compares with DIR/transcript.txt; prints a unified diff and
#       exits 1 when they differ
#   golden.sh compare OLD_CLI NEW_CLI [--config PATH] [--ends format] FILE...
#       a by-hand check on large files (a 1 GiB benchmark file, say): runs list --jsonl,
#       inspect --jsonl and export --jsonl with both programs on FILE... and reports
#       every difference in stdout, stderr, exit code, manifests and written files.
#       Without --config both use the built-in kinds. Exports go to a scratch folder
#       under ${TMPDIR:-/tmp}, so it needs room for every resource twice.
#
# The inputs are made at run time from tests/data/inspect with fixed filler (SHA-256 in
# counter mode, so no random generator's version can change them). The program is run
# from a copy in the scratch folder: it keeps resource.config and Resource.ini beside
# itself, and must never write beside the binary under test. The scratch folder's path
# is written @SCRATCH@ in the transcript.
#
# The transcript has three parts: what the commands do, their --help, then the error
# cases. Error wording may be changed on purpose one day; its expected lines are then
# easy to review on their own.
set -u
export LANG=C.UTF-8 LC_ALL=C.UTF-8
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
source_dir=$(cd "$here/../.." && pwd -P)
pictures=$source_dir/tests/data/inspect
recommended=$source_dir/docs/kinds/recommended.config

usage() {
    sed -n '5,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

work=""
make_scratch() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/kerbilo-golden-XXXXXX") || exit 2
    work=$(cd "$work" && pwd -P)
    trap 'rm -rf "$work"' EXIT
    # Nothing the program does may reach the user's own settings.
    mkdir -p "$work/home"
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
}

# A copy of the program in a folder of its own, where it may write its settings.
install_copy() { # SOURCE_CLI FOLDER
    mkdir -p "$2" && cp "$1" "$2/kerbilo-cli" && chmod 755 "$2/kerbilo-cli"
}

# Has the copy in FOLDER write the built-in kinds to FOLDER/resource.config, as it does
# when it has none.
write_default_kinds() { # FOLDER
    [ -e "$1/resource.config" ] || "$1/kerbilo-cli" list /dev/null >/dev/null 2>&1
    [ -s "$1/resource.config" ] && return 0
    echo "the program wrote no resource.config in $1" >&2
    return 1
}

make_inputs() { # DIR
    python3 - "$1" "$pictures" "$source_dir/tests/data/picture/corpus/pcx" <<'PY'
import hashlib, os, sys

out, pictures, pcx = sys.argv[1], sys.argv[2], sys.argv[3]

def filler(label, n):
    """Fixed bytes that look random: SHA-256 of label and counter."""
    data = bytearray()
    i = 0
    while len(data) < n:
        data += hashlib.sha256(b"%s:%d" % (label.encode(), i)).digest()
        i += 1
    return bytes(data[:n])

def pic(name):
    with open(os.path.join(pictures, name), "rb") as f:
        return f.read()

def write(path, data):
    path = os.path.join(out, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)

PNG_HEAD = bytes.fromhex("89504E470D0A1A0A0000000D")
PNG_TAIL = bytes.fromhex("0000000049454E44AE426082")

# Pictures of every format between filler. rose_anim.gif holds 00 3B inside its image
# data, so a GIF kind ending at its tail cuts it short; rose_exif.jpg holds a thumbnail,
# a JPEG inside a JPEG; rose.ico holds a PNG. The built-in JPG head reads FF D8 FF 0E,
# which only the made-up block after rose.cur has.
mixed = (filler("mixed0", 1000) + pic("rose_16.png") + filler("mixed1", 333)
         + pic("rose_anim.gif") + filler("mixed2", 100) + pic("rose_exif.jpg")
         + filler("mixed3", 77) + pic("rose.ico") + filler("mixed4", 50) + pic("rose.bmp")
         + filler("mixed5", 64) + pic("rose.cur") + filler("mixed6", 20)
         + bytes.fromhex("FFD8FF0E") + filler("mixed7", 40) + bytes.fromhex("FFD9")
         + filler("mixed8", 31) + pic("rose_progressive.jpg") + filler("mixed9", 15)
         + pic("rose_palette.png") + filler("mixed10", 200))
write("in/mixed.bin", mixed)

# Matches that nest and overlap: a GIF head inside a PNG-shaped run whose own tail
# comes after the PNG tail; two PNG heads sharing one tail; a real PNG inside a
# GIF-shaped run; two pictures back to back; a PNG head with no tail before the end.
nested = (filler("nested0", 64)
          + PNG_HEAD + filler("nested1", 30) + b"GIF89a" + filler("nested2", 20)
          + PNG_TAIL + filler("nested3", 10) + b"\x00\x3b"
          + filler("nested4", 48)
          + PNG_HEAD + filler("nested5", 16) + PNG_HEAD + filler("nested6", 16) + PNG_TAIL
          + filler("nested7", 32)
          + b"GIF87a" + filler("nested8", 8) + pic("rose_palette.png") + b"\x00\x3b"
          + filler("nested9", 40)
          + pic("rose_text.png") + pic("rose_idat.png") + pic("rose_restart.jpg")
          + filler("nested10", 24) + PNG_HEAD + filler("nested11", 100))
write("in/nested.bin", nested)

# No head of any kind: letters only.
write("in/none.bin", bytes(b"abcdefghij"[c % 10] for c in filler("none", 3000)))
write("in/zero.bin", b"")

# A name with blanks and non-ASCII letters.
write("in/my file ünï 图.bin", filler("named0", 10) + pic("rose_16.png") + filler("named1", 10)
      + pic("rose_rle.bmp") + filler("named2", 10))

# A folder for -r: files at two depths, names with blanks, non-ASCII letters, a tab, a
# backslash and a byte that is not UTF-8; a file with nothing in it.
tree = os.path.join(out, "in", "tree")
write("in/tree/a file.bin", filler("t0", 20) + pic("rose_v5.bmp") + pic("rose_anim.gif"))
write("in/tree/b.bin", filler("t1", 20) + pic("rose_16.png") + filler("t2", 5))
write("in/tree/sub/ünï 图.bin", pic("rose.cur") + filler("t3", 9) + pic("rose_exif.jpg"))
write("in/tree/sub/empty.bin", filler("t4", 0))
write("in/tree/sub/tab\tand\\back.bin", filler("t5", 7) + pic("rose_palette.png"))
with open(os.path.join(tree, "sub").encode() + b"/bad\xffbyte.bin", "wb") as f:
    f.write(pic("rose_restart.jpg") + filler("t6", 3) + pic("rose_palette.png"))

# Replacements for rose_16.png (4727 bytes): shorter, as long, longer.
write("with/smaller.png", pic("rose_palette.png"))
write("with/equal.bin", filler("equal", len(pic("rose_16.png"))))
write("with/larger.png", pic("rose_idat.png"))
write("with/tiny.bin", b"XYZ")

# A kinds file without any kind.
write("kinds/none.config", b"[Config]\r\n")

# Kinds for the verdicts the picture kinds never give: a PCX picture (no end of its
# own), a PNG followed by bytes before its kind's tail, and data that is no picture,
# under a kind with a Chinese name and suffix whose data starts with its head fill
# instead of the head's first byte and ends with a tail fill. The file is GBK, as the
# program's is.
custom = [("PCX", "0A050108", "50435845", "pcx", "0A", ""),
          ("BOX", "89504E470D0A1A0A", "DEADBEEF", "box", "89", ""),
          ("数据", "4B424C4F", "454E4421", "数据块", "", "2A2A")]
text = "[Config]\r\n资源种类数=%d\r\n" % len(custom)
for i, (name, head, tail, suffix, head_fill, tail_fill) in enumerate(custom, 1):
    text += ("%d=%s\r\n%s_head=%s\r\n%s_tail=%s\r\n%s文件后缀=%s\r\n%s头补齐=%s\r\n%s尾补齐=%s\r\n\r\n"
             % (i, name, name, head, name, tail, name, suffix, name, head_fill, name, tail_fill))
write("kinds/custom.config", text.encode("gbk"))
with open(os.path.join(pcx, "colour256.pcx"), "rb") as f:
    pcx_picture = f.read()
write("in/custom.bin", filler("custom0", 16) + pcx_picture + b"PCXE" + filler("custom1", 16)
      + pic("rose_palette.png") + filler("custom2", 5) + bytes.fromhex("DEADBEEF")
      + filler("custom3", 16) + b"KBLO" + filler("custom4", 30) + b"END!" + filler("custom5", 8))

# Symbolic links, which -r passes by and -L follows: to a file, to a folder, and a
# broken one.
os.makedirs(os.path.join(out, "in", "links"))
write("in/links/real.bin", filler("l0", 3) + pic("rose_16.png"))
os.symlink("../tree/b.bin", os.path.join(out, "in", "links", "to-file.bin"))
os.symlink("../tree/sub", os.path.join(out, "in", "links", "to-folder"))
os.symlink("nowhere.bin", os.path.join(out, "in", "links", "broken.bin"))
PY
}

# ---- running a case ------------------------------------------------------------------

scratch_re=""

# Replaces the scratch folder by a token; byte-safe.
scrub() { LC_ALL=C sed -e "s|$scratch_re|@SCRATCH@|g"; }

# Prints a captured stream, marking a missing final newline.
show_stream() { # NAME FILE
    echo "--- $1"
    if [ -s "$2" ]; then
        scrub <"$2"
        [ -n "$(tail -c 1 "$2")" ] && printf '\n[no newline at end]\n'
    fi
}

section() { printf '\n######## %s\n' "$*"; }
note() { printf '# %s\n' "$*"; }

# Runs the program with ARGS from the input folder; stdout, stderr and exit code.
run() { # ARGS...
    local arg line='$ kerbilo-cli'
    for arg in "$@"; do
        case $arg in
            *[!A-Za-z0-9_./=@:,+-]* | '') line+=" '${arg//\'/\'\\\'\'}'" ;;
            *) line+=" $arg" ;;
        esac
    done
    printf '\n%s\n' "$line" | scrub
    (cd "$work/in" && "$cli" "$@") >"$work/stdout" 2>"$work/stderr" </dev/null
    local rc=$?
    show_stream stdout "$work/stdout"
    show_stream stderr "$work/stderr"
    echo "--- exit $rc"
}

# Every file under DIR with its size and SHA-256, in byte order of the names; then each
# manifest in full. Manifests name the scratch folder, so their own size and digest
# would change with it: they are compared through the text shown.
show_tree() { # DIR
    local dir=$1
    echo "--- files under $dir" | scrub
    if [ -d "$dir" ]; then
        (cd "$dir" && LC_ALL=C find . -mindepth 1 -printf '%y %s %p\n' | LC_ALL=C sort -k3 |
            while IFS= read -r entry; do
                local kind=${entry%% *} rest=${entry#* } size path
                size=${rest%% *}
                path=${rest#* }
                if [ "$kind" = f ] && [[ $path == */manifest.* ]]; then
                    printf '%-64s %8s %s\n' "(shown below)" - "$path"
                elif [ "$kind" = f ]; then
                    printf '%s %8s %s\n' "$(sha256sum <"$path" | cut -c1-64)" "$size" "$path"
                else
                    printf '%-64s %8s %s/\n' "($kind)" - "$path"
                fi
            done)
        while IFS= read -r -d '' manifest; do
            echo "--- ${manifest#"$dir"/}"
            scrub <"$manifest"
        done < <(LC_ALL=C find "$dir" -name 'manifest.*' -print0 | LC_ALL=C sort -z)
    else
        echo "(no such folder)"
    fi
}

show_file() { # PATH
    if [ -f "$1" ]; then
        echo "--- file $1: $(stat -c %s "$1") bytes, sha256 $(sha256sum <"$1" | cut -c1-64)"
    else
        echo "--- file $1: (none)"
    fi | scrub
}

# Resource.ini beside the program copy; its keys are GBK, shown here as UTF-8.
show_settings() {
    echo "--- Resource.ini beside the program (GBK shown as UTF-8)"
    if [ -f "$work/bin/Resource.ini" ]; then
        python3 -c 'import sys
text = open(sys.argv[1], "rb").read().decode("gb18030", "backslashreplace")
sys.stdout.write(text if text.endswith("\n") else text + "\n[no newline at end]\n")' \
            "$work/bin/Resource.ini" | scrub
    else
        echo "(none)"
    fi
}

# The pixels a PNG holds, whatever the compressor made of them: its header, its chunk
# types (a run of IDAT chunks, which the compressed size decides, written once) and the
# SHA-256 of the inflated image data.
show_png() { # PATH
    python3 - "$1" <<'PY' | scrub
import hashlib, struct, sys, zlib
path = sys.argv[1]
try:
    data = open(path, "rb").read()
except OSError:
    print("--- png %s: (none)" % path)
    sys.exit()
if data[:8] != b"\x89PNG\r\n\x1a\n":
    print("--- png %s: not a PNG (%d bytes)" % (path, len(data)))
    sys.exit()
pos, types, idat, head = 8, [], b"", ""
while pos + 8 <= len(data):
    n, t = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    if not (t == b"IDAT" and types and types[-1] == "IDAT"):
        types.append(t.decode("latin-1"))
    if t == b"IHDR":
        w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        head = "%dx%d depth %d colour %d interlace %d" % (w, h, depth, colour, interlace)
    elif t == b"IDAT":
        idat += body
    pos += 12 + n
pixels = hashlib.sha256(zlib.decompress(idat)).hexdigest() if idat else "-"
print("--- png %s: %s, chunks %s, pixels sha256 %s" % (path, head, " ".join(types), pixels))
PY
}

# ---- the cases -----------------------------------------------------------------------

outputs() {
    local def=$work/kinds/default.config rec=$work/kinds/recommended.config
    section "settings"
    note "the kinds file a copy of the program writes when it has none, in hex"
    run list none.bin
    echo "--- $work/bin/resource.config" | scrub
    xxd "$work/bin/resource.config"

    local kinds name
    for kinds in default recommended; do
        name=$work/kinds/$kinds.config
        section "list, $kinds kinds"
        run list mixed.bin --config "$name"
        run list mixed.bin --config "$name" --json
        run list mixed.bin --config "$name" --jsonl
        run list nested.bin --config "$name"
        run list nested.bin --config "$name" --ends format
        run list none.bin --config "$name"
        run list none.bin --config "$name" --json
        run list zero.bin --config "$name" --jsonl
        run list 'my file ünï 图.bin' --config "$name"
        run list mixed.bin nested.bin none.bin --config "$name"
        run list mixed.bin nested.bin none.bin --config "$name" --json
        run list mixed.bin nested.bin none.bin --config "$name" --jsonl -j 2
        run list -r tree --config "$name"
        run list -r tree --config "$name" --json
        run list -r tree "$work/in/mixed.bin" --config "$name" --jsonl -j 1

        section "inspect, $kinds kinds"
        run inspect mixed.bin --config "$name"
        run inspect mixed.bin --config "$name" --json
        run inspect mixed.bin --config "$name" --jsonl
        run inspect mixed.bin --config "$name" --ends format
        run inspect nested.bin --config "$name"
        run inspect nested.bin --config "$name" --ends format --json
        run inspect none.bin --config "$name" --json
        run inspect zero.bin --config "$name"
        run inspect 'my file ünï 图.bin' --config "$name" --jsonl
        run inspect mixed.bin nested.bin zero.bin --config "$name"
        run inspect mixed.bin nested.bin zero.bin --config "$name" --json
        run inspect -r tree --config "$name" --jsonl
        run inspect -r tree --config "$name" --ends format -j 3

        section "export all, $kinds kinds"
        note "export makes the folder NAME inside --out, not --out itself"
        mkdir -p "$work/out/$kinds/"{one,several,tree,ends}
        run export mixed.bin --out "$work/out/$kinds/one" --config "$name"
        show_tree "$work/out/$kinds/one"
        run export nested.bin 'my file ünï 图.bin' none.bin --out "$work/out/$kinds/several" \
            --config "$name" --jsonl
        show_tree "$work/out/$kinds/several"
        run export -r tree zero.bin --out "$work/out/$kinds/tree" --config "$name" --jsonl
        show_tree "$work/out/$kinds/tree"
        run export mixed.bin --out "$work/out/$kinds/ends" --config "$name" --ends format \
            --jsonl
        show_tree "$work/out/$kinds/ends"
        note "again into the same folder, ending at tails, without --jsonl: what is"
        note "written again is written over, manifest.jsonl stays as it was"
        run export mixed.bin --out "$work/out/$kinds/ends" --config "$name"
        show_tree "$work/out/$kinds/ends"
    done

    section "kinds of other verdicts"
    local cus=$work/kinds/custom.config
    run list custom.bin --config "$cus"
    run inspect custom.bin --config "$cus"
    run inspect custom.bin --config "$cus" --ends format --jsonl
    mkdir -p "$work/out/custom"
    run export custom.bin --out "$work/out/custom" --config "$cus" --jsonl
    show_tree "$work/out/custom"

    section "symbolic links"
    run list -r links --config "$def"
    run list -r -L links --config "$def"
    run inspect -r -L links tree --config "$def" --jsonl
    run list links/to-file.bin links/broken.bin --config "$def"

    section "export one resource"
    mkdir -p "$work/out/single"
    run export mixed.bin --resource 1 -o "$work/out/single/first.png" --config "$def"
    show_file "$work/out/single/first.png"
    run export mixed.bin --resource 2 -o "$work/out/single/png in ico.bin" --config "$def"
    show_file "$work/out/single/png in ico.bin"
    run export mixed.bin --resource 5 -o "$work/out/single/ünï.jpg" --config "$rec"
    show_file "$work/out/single/ünï.jpg"
    run export mixed.bin --resource 5 -o "$work/out/single/gif-by-format" --config "$def" \
        --ends format
    show_file "$work/out/single/gif-by-format"
    run export nested.bin --resource 4 -o "$work/out/single/nested4" --config "$def"
    show_file "$work/out/single/nested4"

    section "replace (resource 1 of mixed.bin is rose_16.png, 4727 bytes)"
    local r=$work/out/replace
    mkdir -p "$r"
    run replace mixed.bin --resource 1 --with ../with/smaller.png -o "$r/smaller.bin" \
        --config "$def"
    show_file "$r/smaller.bin"
    run replace mixed.bin --resource 1 --with ../with/smaller.png -o "$r/smaller-yes.bin" \
        --yes --config "$def"
    show_file "$r/smaller-yes.bin"
    run replace mixed.bin --resource 1 --with ../with/equal.bin -o "$r/equal.bin" --yes \
        --config "$def"
    show_file "$r/equal.bin"
    run replace mixed.bin --resource 1 --with ../with/larger.png -o "$r/larger.bin" --yes \
        --config "$def"
    show_file "$r/larger.bin"
    run inspect "$r/larger.bin" --config "$def"
    note "growing without --yes is refused and writes nothing"
    run replace mixed.bin --resource 1 --with ../with/larger.png -o "$r/refused.bin" \
        --config "$def"
    show_file "$r/refused.bin"
    note "several pairs, in order, one of them growing the file"
    run replace mixed.bin --resource 5 --with ../with/tiny.bin --resource 1 \
        --with ../with/larger.png --resource 6 --with ../with/smaller.png \
        -o "$r/pairs.bin" --yes --config "$rec"
    show_file "$r/pairs.bin"
    run inspect "$r/pairs.bin" --config "$rec"
    note "an enclosing resource grows with the replaced one inside it"
    run replace nested.bin --resource 3 --with ../with/larger.png -o "$r/nested.bin" --yes \
        --config "$def"
    show_file "$r/nested.bin"
    run list "$r/nested.bin" --config "$def"
    note "the output may be the input itself"
    cp "$work/in/mixed.bin" "$r/itself.bin"
    run replace "$r/itself.bin" --resource 2 --with ../with/tiny.bin -o "$r/itself.bin" \
        --config "$def" --ends format
    show_file "$r/itself.bin"

    section "output folder and export without --out"
    note "with no Resource.ini, export all goes beside the program"
    run export 'my file ünï 图.bin' --config "$def"
    show_tree "$work/bin/my file ünï 图.bin"
    mkdir -p "$work/out/stored folder" "$work/out/blanks  "
    run set-output-folder "$work/out/stored folder"
    show_settings
    run export mixed.bin --config "$def" --jsonl
    show_tree "$work/out/stored folder"
    run set-output-folder "$work/out/blanks  "
    show_settings
    run export 'my file ünï 图.bin' --config "$def"
    show_tree "$work/out/blanks  "

    section "render"
    mkdir -p "$work/out/render"
    run render ../pictures/rose_16.png -o "$work/out/render/png.png"
    show_png "$work/out/render/png.png"
    run render mixed.bin --resource 8 --config "$rec" -o "$work/out/render/gif.png" \
        --frame 2 --size 100x80 --background 102030
    show_png "$work/out/render/gif.png"
    run render mixed.bin --resource 5 --config "$rec" -o "$work/out/render/jpeg.png" \
        --stretch --size 300x60
    show_png "$work/out/render/jpeg.png"
    run render none.bin -o "$work/out/render/none.png" --size 20x10
    show_png "$work/out/render/none.png"
}

help() {
    section "help"
    run --help
    local command
    for command in list inspect export replace set-output-folder render; do
        run "$command" --help
    done
}

errors() {
    local def=$work/kinds/default.config rec=$work/kinds/recommended.config
    section "errors: usage"
    run
    run frobnicate
    run --help-me
    run list
    run list mixed.bin --bogus
    run list mixed.bin --json --jsonl --config "$def"
    run list mixed.bin --config
    run list mixed.bin -j 0 --config "$def"
    run list mixed.bin -j many --config "$def"
    run list mixed.bin --ends sometimes --config "$def"
    run inspect --json
    run export mixed.bin --resource 1 --config "$def"
    run export mixed.bin nested.bin --resource 1 -o "$work/out/e1" --config "$def"
    run export mixed.bin --resource one -o "$work/out/e2" --config "$def"
    run replace mixed.bin --resource 1 -o "$work/out/e3" --config "$def"
    run replace mixed.bin --resource 1 --with ../with/tiny.bin --config "$def"
    run set-output-folder
    run set-output-folder a b
    run render mixed.bin
    run render mixed.bin -o "$work/out/e4.png" --size wide
    run render mixed.bin -o "$work/out/e5.png" --background blue

    section "errors: files"
    run list missing.bin --config "$def"
    run list missing.bin mixed.bin --config "$def"
    run list tree --config "$def"
    run list -r tree missing-folder --config "$def" --jsonl
    run inspect missing.bin --config "$def" --json
    run inspect tree --config "$def"
    run list mixed.bin --config "$work/kinds/missing.config"
    run list mixed.bin --config "$work/kinds/none.config"
    run inspect mixed.bin --config "$work/kinds/none.config"
    run export missing.bin --out "$work/out/e6" --config "$def"
    show_tree "$work/out/e6"
    run export tree --out "$work/out/e7" --config "$def"
    run export mixed.bin --out "$work/in/mixed.bin" --config "$def"
    note "export makes the folder NAME inside --out, not --out itself"
    run export mixed.bin --out "$work/out/no/such/folder" --config "$def"
    show_tree "$work/out/no"
    run export mixed.bin --resource 99 -o "$work/out/e8" --config "$def"
    show_file "$work/out/e8"
    run export mixed.bin --resource 0 -o "$work/out/e9" --config "$def"
    run export mixed.bin --resource 1 -o "$work/out/no/such/folder/e10" --config "$def"
    run export missing.bin --resource 1 -o "$work/out/e11" --config "$def"
    run replace missing.bin --resource 1 --with ../with/tiny.bin -o "$work/out/e12" \
        --config "$def"
    run replace mixed.bin --resource 1 --with ../with/missing.bin -o "$work/out/e13" \
        --config "$def"
    run replace mixed.bin --resource 99 --with ../with/tiny.bin -o "$work/out/e14" \
        --config "$def"
    note "the second pair's resource lies inside the first's stretch"
    run replace mixed.bin --resource 4 --with ../with/tiny.bin --resource 5 \
        --with ../with/tiny.bin -o "$work/out/e15" --config "$rec"
    show_file "$work/out/e15"
    run replace mixed.bin --resource 1 --with ../with/tiny.bin \
        -o "$work/out/no/such/folder/e16" --config "$def"
    run set-output-folder "$work/out/line
feed"
    show_settings
    run render missing.bin -o "$work/out/e17.png"
    run render mixed.bin --resource 99 -o "$work/out/e18.png" --config "$def"
    run render mixed.bin -o "$work/out/no/such/folder/e19.png"
}

# Runs every case with CLI; the transcript goes to stdout.
transcript() { # CLI
    make_scratch
    scratch_re=$(printf '%s' "$work" | sed 's/[.[\*^$|]/\\&/g')
    make_inputs "$work" || exit 2
    ln -s "$pictures" "$work/pictures"
    install_copy "$1" "$work/bin" || exit 2
    cli=$work/bin/kerbilo-cli
    mkdir -p "$work/kinds"
    # The built-in kinds, written by a second copy so that the first starts without
    # a resource.config, as a fresh install does.
    install_copy "$1" "$work/defaults" && write_default_kinds "$work/defaults" || exit 2
    cp "$work/defaults/resource.config" "$work/kinds/default.config"
    cp "$recommended" "$work/kinds/recommended.config"
    echo "# kerbilo-cli outputs, made by tests/cli/golden.sh"
    echo "# The scratch folder is written @SCRATCH@; inputs are under @SCRATCH@/in."
    outputs
    help
    errors
}

# ---- compare -------------------------------------------------------------------------

compare() { # OLD NEW [--config PATH] [--ends format] FILE...
    [ $# -ge 3 ] || usage
    local old new extra=() files=() f
    old=$(realpath "$1") new=$(realpath "$2")
    shift 2
    while [ $# -gt 0 ]; do
        case $1 in
            --config) extra+=(--config "$(realpath "$2")"); shift 2 ;;
            --ends) extra+=(--ends "$2"); shift 2 ;;
            *) files+=("$(realpath "$1")"); shift ;;
        esac
    done
    [ ${#files[@]} -gt 0 ] || usage
    if [ ! -x "$old" ] || [ ! -x "$new" ]; then
        echo "OLD_CLI and NEW_CLI must be programs" >&2
        exit 2
    fi
    make_scratch
    # export makes DIR/NAME, not DIR itself.
    mkdir -p "$work/old-out" "$work/new-out"
    install_copy "$old" "$work/old" || exit 2
    install_copy "$new" "$work/new" || exit 2
    case " ${extra[*]} " in
        *" --config "*) ;;
        *)
            write_default_kinds "$work/old" || exit 2
            extra+=(--config "$work/old/resource.config")
            ;;
    esac
    local differ=0 side command started ms
    for command in list inspect export; do
        for side in old new; do
            local args=("$command" "${files[@]}" "${extra[@]}")
            case $command in
                list | inspect) args+=(--jsonl) ;;
                export) args+=(--jsonl --out "$work/$side-out") ;;
            esac
            started=$(date +%s%N)
            "$work/$side/kerbilo-cli" "${args[@]}" >"$work/$side.stdout" \
                2>"$work/$side.stderr"
            echo "$?" >"$work/$side.rc"
            ms=$((($(date +%s%N) - started) / 1000000))
            printf '%-7s %s: %d.%03d s, exit %s, %s lines out\n' "$command" "$side" \
                $((ms / 1000)) $((ms % 1000)) "$(cat "$work/$side.rc")" \
                "$(wc -l <"$work/$side.stdout")"
            # The export folder is named in what export prints and writes.
            for f in stdout stderr; do
                LC_ALL=C sed -i "s|$work/$side-out|OUT|g" "$work/$side.$f"
            done
        done
        for f in stdout stderr rc; do
            if ! cmp -s "$work/old.$f" "$work/new.$f"; then
                echo "DIFFERENT: $command $f"
                diff -u --label "old $command $f" --label "new $command $f" \
                    "$work/old.$f" "$work/new.$f" | head -n 40
                differ=1
            fi
        done
    done
    # Manifests name the folder they were written into; everything else must be equal.
    while IFS= read -r -d '' f; do
        LC_ALL=C sed -i "s|$work/[a-z]*-out|OUT|g" "$f"
    done < <(find "$work/old-out" "$work/new-out" -name 'manifest.*' -print0 2>/dev/null)
    if ! diff -r "$work/old-out" "$work/new-out" >"$work/tree.diff" 2>&1; then
        echo "DIFFERENT: exported files"
        head -n 40 "$work/tree.diff"
        differ=1
    fi
    echo "exported: $(find "$work/old-out" -type f | wc -l) files (old)," \
        "$(find "$work/new-out" -type f | wc -l) files (new)"
    if [ "$differ" -eq 0 ]; then
        echo "same: list, inspect and export of ${#files[@]} file(s) agree"
    else
        echo "the two programs differ"
    fi
    return "$differ"
}

# ---- main ----------------------------------------------------------------------------

[ $# -ge 1 ] || usage
if [ "$1" = compare ]; then
    shift
    compare "$@"
    exit $?
fi
[ $# -eq 3 ] || usage
cli=$(realpath "$1") mode=$2 dir=$3
[ -x "$cli" ] || { echo "not an executable: $1" >&2; exit 2; }
case $mode in
    record)
        mkdir -p "$dir" && transcript "$cli" >"$dir/transcript.txt"
        echo "recorded $(wc -l <"$dir/transcript.txt") lines in $dir/transcript.txt"
        ;;
    check)
        [ -f "$dir/transcript.txt" ] || { echo "no $dir/transcript.txt" >&2; exit 2; }
        actual=$(mktemp "${TMPDIR:-/tmp}/kerbilo-golden-actual-XXXXXX")
        transcript "$cli" >"$actual"
        if diff -u --label expected --label actual "$dir/transcript.txt" "$actual"; then
            rm -f "$actual"
            echo "same as $dir/transcript.txt"
        else
            rm -f "$actual"
            echo "kerbilo-cli's outputs changed (above: - expected, + actual). If the change" \
                "is meant, record again: tests/cli/golden.sh KERBILO_CLI record $dir"
            exit 1
        fi
        ;;
    *) usage ;;
esac
