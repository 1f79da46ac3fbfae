#!/usr/bin/env bash
# Builds the Windows programs that the structure scan's checks read, from the sources in
# tests/data/pe, into OUT:
#   w64.exe       x86-64, PE32+; its resource section lies before .reloc, so a resource
#                 section that must grow cannot, and a new one is added
#   w32.exe       i686, PE32, without relocations: the resource section is the last one
#   embedded.bin  fixed filler, w64.exe, more filler: a program inside other bytes
#   signed.exe    w64.exe with a certificate table (not a valid signature) and its checksum
# The builds carry no time stamp, so the same tools make the same bytes.
# Exits 77 (skipped) when the MinGW-w64 tools or pefile are missing.
# Usage: pe_build.sh SOURCES OUT PYTHON
set -u
sources=$1 out=$2 python=${3:-/usr/bin/python3}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)

for tool in x86_64-w64-mingw32-gcc x86_64-w64-mingw32-windres i686-w64-mingw32-gcc \
    i686-w64-mingw32-windres; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
"$python" -c 'import pefile' 2>/dev/null || { echo "skipped: $python has no pefile"; exit 77; }

# Nothing from an earlier build may stand in for a failed one.
rm -rf "$out"
mkdir -p "$out/obj"

build() { # TRIPLET OUTPUT LINKER_OPTIONS...
    local triplet=$1 output=$2
    shift 2
    "$triplet-windres" -I "$sources" -O coff -o "$out/obj/$triplet.res.o" \
        "$sources/resources.rc" || { echo "FAIL: $triplet-windres"; exit 1; }
    "$triplet-gcc" -Os -s -mwindows -Wl,--no-insert-timestamp "$@" -o "$out/$output" \
        "$sources/program.c" "$out/obj/$triplet.res.o" || { echo "FAIL: $triplet-gcc"; exit 1; }
}
build x86_64-w64-mingw32 w64.exe
build i686-w64-mingw32 w32.exe -Wl,--disable-reloc-section
rm -rf "$out/obj"

"$python" "$here/pe_programs.py" derive "$out" || { echo "FAIL: deriving from w64.exe"; exit 1; }
echo "built: $(cd "$out" && ls | tr '\n' ' ')"
