#!/usr/bin/env bash
# An installed copy run by a normal user: the programs cannot write beside themselves, so
# both keep their settings in ~/.config/kerbilo. kerbilo-cli writes the default kinds file
# there and lists with it; set-output-folder then export use that Resource.ini; the window
# writes its kinds file in the same place. Usage: installed_settings.sh BUILD_DIR
set -u
build=$1
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
    echo "skipped: needs root and setpriv to act as a normal user"
    exit 77
fi
work=$(mktemp -d /tmp/kerbilo-install-XXXXXX)
window=""
# The window started below ends with this script, whichever way the script ends.
trap '[ -n "$window" ] && kill -9 "$window" 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: install"; exit 1; }
home=$work/home
mkdir -p "$home"
chown 65534:65534 "$home"
as_user() {
    setpriv --reuid=65534 --regid=65534 --clear-groups \
        env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}
fail() {
    echo "FAIL: $*"
    exit 1
}
printf 'lead\x89PNG\r\n\x1a\n\0\0\0\x0dbody\0\0\0\0IEND\xaeB`\x82' >"$home/sample.bin"
chown 65534:65534 "$home/sample.bin"
settings=$home/.config/kerbilo

listing=$(as_user "$prefix/bin/kerbilo-cli" list "$home/sample.bin") || fail "list exited $?"
[ "$listing" = "$(printf 'number\tkind\tlabel\toffset\tlength\n1\tPNG\t5\t4\t28')" ] ||
    fail "list printed: $listing"
[ "$(stat -c %s "$settings/resource.config" 2>/dev/null)" = 313 ] ||
    fail "no default resource.config in $settings"
[ ! -e "$prefix/bin/resource.config" ] || fail "wrote beside the installed program"

as_user mkdir "$home/out"
as_user "$prefix/bin/kerbilo-cli" set-output-folder "$home/out" >/dev/null ||
    fail "set-output-folder exited $?"
grep -q "$home/out" "$settings/Resource.ini" || fail "Resource.ini does not hold the folder"
as_user "$prefix/bin/kerbilo-cli" export "$home/sample.bin" >/dev/null || fail "export exited $?"
[ -s "$home/out/sample.bin/5.png" ] || fail "export did not use the stored output folder"

if [ -x "$prefix/bin/kerbilo" ]; then
    rm "$settings/resource.config"
    # Started directly, not through the function: $! must be the window's own process, and
    # it is killed should this script die first.
    setpriv --reuid=65534 --regid=65534 --clear-groups --pdeathsig KILL \
        env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
        "$prefix/bin/kerbilo" >/dev/null 2>&1 &
    window=$!
    for _ in $(seq 50); do
        [ -s "$settings/resource.config" ] && break
        sleep 0.1
    done
    kill -9 "$window" 2>/dev/null
    wait "$window" 2>/dev/null
    window=""
    [ "$(stat -c %s "$settings/resource.config" 2>/dev/null)" = 313 ] ||
        fail "the window did not write its kinds file to $settings"
fi
echo "ok: both programs keep their settings in $settings"
