#!/usr/bin/env bash
# The Debian package as lintian, dpkg and desktops see it. One step per test, sharing the
# package that the first builds:
#   debian.sh build    BUILD_DIR OUT_DIR        cpack -G DEB into OUT_DIR
#   debian.sh lintian  OUT_DIR                  no error and no warning
#   debian.sh contents OUT_DIR VERSION GUI      files, control fields, pictures, manuals
#   debian.sh desktop  DESKTOP_FILE             desktop-file-validate says nothing
# GUI is ON when the window program was built (it brings the desktop entry, the icons and
# kerbilo(1)). Exit 77 (skipped) when a tool is missing or there is no package to look at.
set -u
step=$1
shift

fail() {
    echo "FAIL: $*"
    exit 1
}
need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || {
            echo "skipped: $tool is missing"
            exit 77
        }
    done
}
# deb: the package the build step left in $1, or a skip when it made none (not in a
# command substitution, whose exit would end only the subshell).
find_package() {
    local debs=("$1"/kerbilo_*.deb)
    [ -f "${debs[0]}" ] || {
        echo "skipped: no package in $1 (Package.Debian.Build did not make one)"
        exit 77
    }
    deb=${debs[0]}
}

case $step in
build)
    need cpack dpkg-deb dpkg-shlibdeps
    build=$1 out=$2
    { rm -rf "$out" && mkdir -p "$out"; } || fail "cannot make $out"
    (cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || {
        cat "$out/cpack.log"
        fail "cpack"
    }
    find_package "$out"
    echo "built $deb"
    ;;

lintian)
    need lintian
    find_package "$1"
    # Every tag of warning level or above fails; informational ones are shown, not counted.
    report=$(lintian --display-level '>=info' --fail-on error,warning "$deb" 2>&1)
    status=$?
    grep -v '^running with root privileges' <<<"$report"
    grep -q '^[EW]: ' <<<"$report" && fail "lintian reports errors or warnings"
    [ "$status" -eq 0 ] || fail "lintian exited with $status"
    echo "ok: lintian has no error or warning"
    ;;

contents)
    need dpkg-deb lexgrog
    find_package "$1"
    version=$2 gui=$3
    root=$1/root
    { rm -rf "$root" && dpkg-deb -x "$deb" "$root"; } || fail "cannot unpack $deb"
    failures=0
    bad() {
        echo "FAIL: $*"
        failures=$((failures + 1))
    }

    sizes=(16 22 24 32 48 64 128 256)
    expected=(usr/bin/kerbilo-cli usr/share/man/man1/kerbilo-cli.1.gz
        usr/share/doc/kerbilo/copyright usr/share/doc/kerbilo/changelog.gz
        usr/share/doc/kerbilo/recommended.config)
    if [ "$gui" = ON ]; then
        expected+=(usr/bin/kerbilo usr/share/man/man1/kerbilo.1.gz
            usr/share/applications/kerbilo.desktop)
        for size in "${sizes[@]}"; do
            expected+=("usr/share/icons/hicolor/${size}x${size}/apps/kerbilo.png")
        done
    fi
    for f in "${expected[@]}"; do
        [ -f "$root/$f" ] || bad "/$f is not in the package"
    done
    [ -e "$root/usr/share/pixmaps" ] && bad "an icon is still in /usr/share/pixmaps"

    # Each icon is a PNG of the size its folder names: the width and height of IHDR.
    if [ "$gui" = ON ]; then
        for size in "${sizes[@]}"; do
            icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/kerbilo.png
            [ -f "$icon" ] || continue
            read -r magic w h < <(od -An -tx1 -N24 "$icon" | tr -d ' \n' |
                sed -E 's/^(.{16}).{16}(.{8})(.{8}).*/\1 \2 \3/')
            [ "$magic" = 89504e470d0a1a0a ] || bad "${size}x${size} icon is not a PNG"
            [[ $((16#$w)) -eq $size && $((16#$h)) -eq $size ]] ||
                bad "${size}x${size} icon is $((16#$w))x$((16#$h))"
        done
        # The desktop entry starts a program of the package, with an icon of the package.
        entry=$root/usr/share/applications/kerbilo.desktop
        program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
        [ -x "$root/usr/bin/$program" ] || bad "Exec=$program is not in /usr/bin"
        icon=$(sed -n 's/^Icon=//p' "$entry")
        [ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || bad "Icon=$icon is not installed"
    fi

    # Every program has a manual page that man's indexer reads and that names the version.
    for program in "$root"/usr/bin/*; do
        name=$(basename "$program")
        page=$root/usr/share/man/man1/$name.1.gz
        [ -f "$page" ] || {
            bad "no manual page for $name"
            continue
        }
        lexgrog "$page" | grep -q ": \"$name - " || bad "lexgrog cannot read NAME of $name(1)"
        zcat "$page" | grep -q "^\.TH .* \"Kerbilo $version\"" || bad "$name(1) does not name $version"
    done

    # The newest changelog entry is this version: a new version needs its entry.
    newest=$(zcat "$root/usr/share/doc/kerbilo/changelog.gz" | head -1)
    [[ $newest == "kerbilo ($version) "* ]] ||
        bad "changelog's newest entry is '$newest', the package is $version"
    head -1 "$root/usr/share/doc/kerbilo/copyright" |
        grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
        bad "copyright is not in the machine-readable format"

    # The window's Chinese needs a Chinese font and Qt's Chinese texts.
    recommends=$(dpkg-deb -f "$deb" Recommends)
    for wanted in "fonts-wqy-microhei | fonts-noto-cjk" qt6-translations-l10n; do
        grep -qF "$wanted" <<<"$recommends" || bad "Recommends lacks '$wanted': $recommends"
    done
    maintainer=$(dpkg-deb -f "$deb" Maintainer)
    [[ $maintainer =~ ^[^\<]+\ \<[^@\>]+@[^@\>]+\.[a-z]+\>$ && $maintainer != *invalid* ]] ||
        bad "maintainer address: $maintainer"
    [ "$failures" -eq 0 ] || exit 1
    echo "ok: $(basename "$deb") holds ${#expected[@]} expected files"
    ;;

desktop)
    need desktop-file-validate
    # Hints count too: each names something a desktop gets wrong (a program listed twice).
    report=$(desktop-file-validate "$1" 2>&1)
    status=$?
    [[ $status -eq 0 && -z $report ]] || fail "desktop-file-validate: $report"
    echo "ok: $1 is valid"
    ;;

*)
    echo "usage: $0 build|lintian|contents|desktop ..." >&2
    exit 2
    ;;
esac
