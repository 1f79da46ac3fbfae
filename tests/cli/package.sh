#!/usr/bin/env bash
# The Debian package: built by cpack from the build folder, named kerbilo_<version>_amd64.deb,
# with its library dependencies declared and the programs, desktop entry, icon, manual page
# and recommended kinds file inside; the programs it holds run.
# Usage: package.sh BUILD_DIR VERSION
set -u
build=$1
version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
work=$(mktemp -d /tmp/kerbilo-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}
(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    fail "cpack"
}
deb=$work/kerbilo_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb: $(ls "$work")"

contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/kerbilo-cli ./usr/share/man/man1/kerbilo-cli.1.gz \
    ./usr/share/doc/kerbilo/recommended.config; do
    grep -q " $f\$" <<<"$contents" || fail "$f is not in the package"
done
if [ -x "$build/src/ui/shell/kerbilo" ]; then
    for f in ./usr/bin/kerbilo ./usr/share/applications/kerbilo.desktop \
        ./usr/share/icons/hicolor/48x48/apps/kerbilo.png; do
        grep -q " $f\$" <<<"$contents" || fail "$f is not in the package"
    done
fi
info=$(dpkg-deb -I "$deb")
grep -q "^ Package: kerbilo$" <<<"$info" || fail "package name: $info"
grep -q "^ Version: $version$" <<<"$info" || fail "version: $info"
for lib in libc6 libstdc++6 libpng16-16 libjpeg62-turbo; do
    grep -q "^ Depends:.*\b$lib\b" <<<"$info" || fail "$lib is not a dependency: $info"
done
if [ -x "$build/src/ui/shell/kerbilo" ]; then
    grep -q "^ Depends:.*libqt6widgets6" <<<"$info" || fail "Qt is not a dependency: $info"
fi

# What the package holds runs where dpkg would put it.
dpkg-deb -x "$deb" "$work/root"
"$work/root/usr/bin/kerbilo-cli" --help | grep -q "inspect" || fail "kerbilo-cli does not run"
zcat "$work/root/usr/share/man/man1/kerbilo-cli.1.gz" | grep -q "^.TH KERBILO-CLI 1 .*Kerbilo $version" ||
    fail "manual page"
echo "ok: $(basename "$deb"), $(grep '^ Depends:' <<<"$info")"
