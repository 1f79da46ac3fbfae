#!/usr/bin/env bash
# kerbilo-cli speaks the language of its locale, each message whole in one language, and
# its exit codes do not depend on it. Usage: locale_messages.sh KERBILO_CLI
set -u
cli=$1
fail() {
    echo "FAIL: $*"
    exit 1
}
work=$(mktemp -d /tmp/kerbilo-locale-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$cli" "$work/kerbilo-cli"  # its settings beside it, not in the build folder
check() {  # LOCALE VARIABLE EXPECTED-MESSAGE
    local said rc
    said=$(env -i PATH=/usr/bin:/bin "$2=$1" "$work/kerbilo-cli" list /nonexistent 2>&1 >/dev/null)
    rc=$?
    [ "$rc" = 1 ] || fail "$2=$1: exit $rc, want 1"
    [ "$said" = "$3" ] || fail "$2=$1 said: $said (want: $3)"
}
english="kerbilo-cli: cannot open /nonexistent: no such file or folder"
chinese="kerbilo-cli: 无法打开 /nonexistent: 文件或文件夹不存在"
check C LANG "$english"
check en_US.UTF-8 LANG "$english"
check zh_CN.UTF-8 LANG "$chinese"
check zh_TW.UTF-8 LC_MESSAGES "$chinese"
check zh_CN.UTF-8 LC_ALL "$chinese"
# LC_ALL comes before LANG.
said=$(env -i PATH=/usr/bin:/bin LANG=zh_CN.UTF-8 LC_ALL=C "$work/kerbilo-cli" list /nonexistent 2>&1)
[ "$said" = "$english" ] || fail "LC_ALL=C over LANG=zh_CN: $said"
echo "ok: English for C and en_US, Chinese for zh_*, exit 1 in both"
