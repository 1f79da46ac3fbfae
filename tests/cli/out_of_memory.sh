#!/usr/bin/env bash
# replace under a tight address-space limit: the file can be read, but the copy a
# replacement needs cannot be made. kerbilo-cli must say so and exit 1, never die of a
# signal, and write nothing. Usage: out_of_memory.sh KERBILO_CLI
set -u
cli=$1
# The sanitizers reserve terabytes of address space; no limit can be set under them. gcc
# links their runtime as a library, clang into the program itself.
if ldd "$cli" 2>/dev/null | grep -q 'libasan\|libtsan' ||
    grep -q '__asan_init\|__tsan_init' "$cli"; then
    echo "skipped: a sanitizer build cannot run under ulimit -v"
    exit 77
fi
work=$(mktemp -d /tmp/kerbilo-oom-XXXXXX)
trap 'rm -rf "$work"' EXIT
# A 128 MiB file with one small PNG-shaped resource at its start.
printf '\x89PNG\r\n\x1a\n\0\0\0\x0dbody\0\0\0\0IEND\xaeB`\x82' >"$work/big.bin"
truncate -s 128M "$work/big.bin"
printf 'XYZ' >"$work/small.bin"
head -c 100 /dev/zero >"$work/large.bin"
failed=0
for with in small large; do
    (
        ulimit -v $((192 * 1024))
        exec "$cli" replace "$work/big.bin" --resource 1 --with "$work/$with.bin" --yes \
            -o "$work/out.bin"
    ) >"$work/out.txt" 2>"$work/err.txt"
    rc=$?
    if [ "$rc" -ne 1 ] || ! grep -q 'not enough memory' "$work/err.txt" || [ -e "$work/out.bin" ]
    then
        echo "FAIL ($with replacement): exit $rc, stderr: $(cat "$work/err.txt")"
        failed=1
    fi
done
[ "$failed" -eq 0 ] && echo "ok: exit 1 with a message, nothing written"
exit "$failed"
