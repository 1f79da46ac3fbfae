#!/usr/bin/env bash
# End to end under Xvfb with a window manager: the window never loses the user's work and
# sets no traps. Each scenario starts the real program, drives it with xdotool as a user
# would, and checks the files on disk and what the window shows. Exit 77 (skipped) without
# the X tools.   Usage: unsaved_work.sh KERBILO_EXECUTABLE SCENARIO
set -uo pipefail
KERBILO=$(readlink -f "${1:?usage: unsaved_work.sh KERBILO_EXECUTABLE SCENARIO}")
SCENARIO=${2:?usage: unsaved_work.sh KERBILO_EXECUTABLE SCENARIO}
WORK=$(mktemp -d /tmp/kerbilo-e2e-XXXXXX)
source "$(dirname "$0")/x11_lib.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT

skip_without_x_tools

RED=ff0000 BLUE=0000ff
start_x
start_wm
$TOOL make-file "$WORK/sample.exe"
cp "$WORK/sample.exe" "$WORK/other.exe"
$TOOL picture "$WORK/blue.png" 4 4 "$BLUE"  # smaller than the red picture's slot
cp "$WORK/sample.exe" "$WORK/large.png"    # larger than any slot in it
SAMPLE_SUM=$(sha256sum <"$WORK/sample.exe")
# Resource.ini beside the program, naming the output folder $1.
store_output_folder() {
    mkdir -p "$WORK/prog"
    printf '[Config]\r\n%s=%s\r\n' "$(printf '输出文件夹' | iconv -f UTF-8 -t GBK)" "$1" \
        >"$WORK/prog/Resource.ini"
}
case "$SCENARIO" in
# The output folder is the opened file's own: the export folder cannot be "sample.exe".
export-into-own-folder) store_output_folder "$WORK" ;;
# A folder stands where manifest.tsv would go.
manifest-not-written)
    store_output_folder "$WORK/out"
    mkdir -p "$WORK/out/sample.exe/manifest.tsv"
    ;;
esac
start_kerbilo

# Files in WORK other than the ones made above and the program's own.
new_files() {
    (cd "$WORK" && ls -A | grep -vxE 'sample.exe|other.exe|blue.png|large.png|prog|home|display|[a-z]+\.log|.*\.xwd' || true)
}
sample_unchanged() {
    [ "$(sha256sum <"$WORK/sample.exe")" = "$SAMPLE_SUM" ] || fail "sample.exe changed on disk"
}
open_file() {
    xdotool windowfocus --sync "$MAIN" key ctrl+o
    choose_in_dialog "打开" "$1"
}
opened() { title_is "Kerbilo - $WORK/$1"; }
open_and_replace() {
    open_with_dialog "$WORK/sample.exe"
    replace_first_with "$WORK/blue.png"
    sleep 0.5
    [ "$(pane_pixels $BLUE)" -gt 0 ] || fail "the pane does not show the replacement"
}
# The window closes without a question, and the process ends soon after it.
closes_at_once() {
    xdotool windowfocus --sync "$MAIN" key Escape
    local ms
    ms=$(ms_to_end_after_window) || exit 1
    [ "$ms" -le 200 ] || fail "the process lived on $ms ms after its window closed"
    echo "process ended $ms ms after its window closed"
}

case "$SCENARIO" in
replace-then-open)
    open_and_replace
    open_file "$WORK/other.exe"
    answer "程序未保存" Escape  # 取消: everything stays
    opened sample.exe || fail "another file was opened after 取消"
    [ "$(pane_pixels $BLUE)" -gt 0 ] || fail "the replacement is gone after 取消"
    open_file "$WORK/other.exe"
    answer "程序未保存" alt+y  # 是: save first, then open
    choose_in_dialog "另存为" "$WORK/saved.exe"
    opened other.exe || fail "other.exe was not opened after saving"
    python3 -c 'import sys; s=open(sys.argv[1],"rb").read(); b=open(sys.argv[2],"rb").read(); sys.exit(b not in s)' \
        "$WORK/saved.exe" "$WORK/blue.png" || fail "saved.exe does not hold the replacement"
    replace_first_with "$WORK/blue.png"
    open_file "$WORK/sample.exe"
    answer "程序未保存" alt+n  # 否: open without saving
    opened sample.exe || fail "sample.exe was not opened after 否"
    cmp -s "$WORK/other.exe" "$WORK/sample.exe" || fail "other.exe was written"
    sample_unchanged
    [ "$(new_files)" = saved.exe ] || fail "unexpected files: $(new_files)"
    ;;
replace-then-exit)
    open_and_replace
    menu_exit
    answer "程序未保存" Escape
    sleep 0.3
    opened sample.exe || fail "Exit ended the program after 取消"
    menu_exit
    answer "程序未保存" alt+n
    ms=$(ms_to_end_after_window) || exit 1
    [ "$ms" -le 200 ] || fail "the process lived on $ms ms after its window closed"
    sample_unchanged
    [ -z "$(new_files)" ] || fail "unexpected files: $(new_files)"
    echo "process ended $ms ms after its window closed"
    ;;
close-yes-cancel-save)
    open_and_replace
    xdotool windowfocus --sync "$MAIN" key Escape
    answer "程序未保存" alt+y
    answer "另存为" Escape
    sleep 0.5
    opened sample.exe || fail "the window closed although the save was cancelled"
    [ "$(pane_pixels $BLUE)" -gt 0 ] || fail "the replacement is gone"
    # Still modified: closing asks again.
    xdotool windowfocus --sync "$MAIN" key Escape
    answer "程序未保存" alt+n
    ms=$(ms_to_end_after_window) || exit 1
    sample_unchanged
    [ -z "$(new_files)" ] || fail "unexpected files: $(new_files)"
    ;;
failing-save)
    open_and_replace
    xdotool windowfocus --sync "$MAIN" key ctrl+s
    # Nobody, root included, creates a file in /proc: the write fails.
    choose_in_dialog "另存为" /proc/kerbilo-saved.exe
    box=$(wait_window "提示") || fail "no message after a failing save"
    shoot_window "$box" "$WORK/failure.xwd"
    xdotool windowfocus --sync "$box" key Return
    wait_gone "$box" || fail "the failure message stayed"
    opened sample.exe || fail "the window changed after a failing save"
    xdotool windowfocus --sync "$MAIN" key Escape
    answer "程序未保存" Escape  # still modified
    opened sample.exe || fail "closed although 取消 was answered"
    sample_unchanged
    ;;
enter-enter-replace)
    open_with_dialog "$WORK/sample.exe"
    edit_item_on_first_resource 1
    dialog=$(wait_window "打开") || fail "no replace dialog"
    xdotool windowfocus --sync "$dialog"
    sleep 0.3
    xdotool key Return
    sleep 0.3
    xdotool key Return
    sleep 0.5
    wait_window "提示" 5 >/dev/null && fail "Enter Enter asked to replace"
    [ "$(wait_window "打开" 1)" = "$dialog" ] || fail "Enter Enter chose a file"
    # A larger file: the size warning's Enter is 取消.
    xdotool windowfocus --sync "$dialog" type --delay 10 "$WORK/large.png"
    sleep 0.3
    xdotool key Return
    answer "提示" Return
    sleep 0.5
    [ "$(pane_pixels $RED)" -gt 1000 ] || fail "Enter on the size warning replaced the picture"
    closes_at_once  # nothing to save, so no question
    sample_unchanged
    ;;
cancel-size-warning)
    open_with_dialog "$WORK/sample.exe"
    edit_item_on_first_resource 1
    choose_in_dialog "打开" "$WORK/large.png"
    answer "提示" Escape
    sleep 0.5
    [ "$(pane_pixels $RED)" -gt 1000 ] || fail "取消 on the size warning replaced the picture"
    closes_at_once
    sample_unchanged
    ;;
pane-after-open)
    open_with_dialog "$WORK/sample.exe"
    select_first_resource
    [ "$(pane_pixels $RED)" -gt 1000 ] || fail "the pane does not show the selected picture"
    open_with_dialog "$WORK/other.exe"
    sleep 0.5
    [ "$(pane_pixels $RED)" -eq 0 ] || fail "the pane still shows the previous file's picture"
    closes_at_once
    ;;
export-into-own-folder)
    open_with_dialog "$WORK/sample.exe"
    edit_item_on_first_resource 3
    answer_and_wait "提示" Return  # 是否确认导出…
    box=$(wait_window "提示") || fail "export all did not say where it wrote"
    shoot_window "$box" "$WORK/box.xwd"
    xdotool windowfocus --sync "$box" key Return
    out="$WORK/sample.exe_资源"
    [ -d "$out" ] || fail "no folder $out (files: $(new_files))"
    [ -s "$out/F94.png" ] && [ -s "$out/1C82.png" ] && [ -s "$out/manifest.tsv" ] ||
        fail "export all did not write every file: $(ls "$out")"
    grep -q $'F94.png' "$out/manifest.tsv" || fail "the manifest does not list F94.png"
    sample_unchanged
    ;;
manifest-not-written)
    open_with_dialog "$WORK/sample.exe"
    edit_item_on_first_resource 3
    answer_and_wait "提示" Return  # 是否确认导出…
    box=$(wait_window "提示") || fail "export all said nothing of the manifest it could not write"
    xdotool windowfocus --sync "$box" key Return
    [ -s "$WORK/out/sample.exe/F94.png" ] && [ -s "$WORK/out/sample.exe/1C82.png" ] ||
        fail "the pictures were not written: $(ls "$WORK/out/sample.exe")"
    [ -d "$WORK/out/sample.exe/manifest.tsv" ] || fail "the folder in the manifest's place is gone"
    sample_unchanged
    ;;
cancel-button)
    open_with_dialog "$WORK/sample.exe"
    select_first_resource
    truncate -s 2G "$WORK/big.bin"
    open_file "$WORK/big.bin"
    sleep 0.3
    geometry "$MAIN"
    # The 取消 button sits at the right end of the status bar while an open runs.
    xdotool mousemove --window "$MAIN" $((WIDTH - 40)) $((HEIGHT - 10)) click 1
    sleep 1
    opened sample.exe || fail "the open went on after 取消"
    sleep 2
    opened sample.exe || fail "the large file was opened after all"
    [ "$(pane_pixels $RED)" -gt 1000 ] || fail "the previous picture is not shown again"
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$KERBILO_PID/status")
    [ "$rss" -lt 600000 ] || fail "the cancelled file's bytes are kept ($rss kB resident)"
    rm -f "$WORK/big.bin"
    closes_at_once
    ;;
chinese-whatever-the-locale)
    # The open dialog lists the same files alike under an English and a Chinese locale:
    # sizes and dates are written as Chinese writes them either way.
    mkdir -p "$WORK/listed"
    head -c 277 /dev/zero >"$WORK/listed/a.exe"
    head -c 123456 /dev/zero >"$WORK/listed/b.exe"
    touch -d '2026-03-04 05:06:07' "$WORK/listed/a.exe" "$WORK/listed/b.exe"
    unset LC_ALL LC_MESSAGES LC_TIME LC_NUMERIC
    for locale in C zh_CN.UTF-8; do
        stop_all
        start_x
        start_wm
        export LANG=$locale
        start_kerbilo
        type_into_open_dialog "$WORK/listed/"
        sleep 0.3
        xdotool key Return  # into the folder
        sleep 1.5
        shoot_window "$DIALOG" "$WORK/dialog.xwd"
        # The listing, above the name field and its blinking cursor.
        $TOOL png "$WORK/dialog.xwd" "$WORK/listing-$locale.png" 0 0 600 320
        close_with_escape "$DIALOG" || fail "the open dialog did not close"
    done
    cmp -s "$WORK/listing-C.png" "$WORK/listing-zh_CN.UTF-8.png" ||
        fail "the open dialog lists files differently under LANG=C and LANG=zh_CN.UTF-8"
    ;;
open-from-command-line)
    # kerbilo FILE opens FILE as File > Open does; a relative name is the current folder's.
    stop_all
    start_x
    start_wm
    # Started from this shell, not a subshell: the program dies with the shell that started it.
    cd "$WORK" || fail "no $WORK"
    start_kerbilo sample.exe
    cd - >/dev/null || fail "cannot go back"
    opened sample.exe || fail "kerbilo sample.exe did not open it"
    select_first_resource
    [ "$(pane_pixels $RED)" -gt 1000 ] || fail "the file named on the command line shows nothing"
    # A file that cannot be read says why, as File > Open does, and leaves the window empty.
    stop_all
    start_x
    start_wm
    start_kerbilo "$WORK/missing.exe"
    answer "提示" Return
    title_is "Kerbilo" || fail "the window took a title for a file it could not open"
    closes_at_once
    ;;
esc-during-large-open)
    open_with_dialog "$WORK/sample.exe"
    select_first_resource
    truncate -s 1G "$WORK/big.bin"
    cat "$WORK/sample.exe" >>"$WORK/big.bin"
    open_file "$WORK/big.bin"
    xdotool windowfocus --sync "$MAIN" key Escape
    sleep 1
    opened sample.exe || fail "the open went on after Esc"
    [ "$(pane_pixels $RED)" -gt 1000 ] || fail "the previous picture is not shown again"
    sleep 2
    opened sample.exe || fail "the large file was opened after all"
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$KERBILO_PID/status")
    [ "$rss" -lt 600000 ] || fail "the cancelled file's bytes are kept ($rss kB resident)"
    window_answers || fail "the window does not answer after the cancel"
    # The close button during an open cancels it and closes at once.
    open_file "$WORK/big.bin"
    xdotool windowfocus --sync "$MAIN" key alt+F4
    ms=$(ms_to_end_after_window) || exit 1
    rm -f "$WORK/big.bin"
    echo "closed during a large open; the process ended $ms ms after its window"
    ;;
*)
    fail "no scenario $SCENARIO"
    ;;
esac
echo "PASS: $SCENARIO"
