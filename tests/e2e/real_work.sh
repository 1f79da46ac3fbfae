#!/usr/bin/env bash
# The window for real work, end to end under Xvfb with a window manager: it grows and its
# splitter moves, files open from the command line and the recent-files menu, the views
# switch, the filter narrows the thumbnails, the pane zooms, fits, shows a checkerboard
# and bytes, and Ctrl+C puts the picture on the clipboard. One scenario a run:
#   real_work.sh KERBILO SCENARIO
# Exit 77 (skipped) without the X tools.
set -uo pipefail
KERBILO=${1:?usage: real_work.sh KERBILO_EXECUTABLE SCENARIO}
SCENARIO=${2:?usage: real_work.sh KERBILO_EXECUTABLE SCENARIO}
WORK=$(mktemp -d /tmp/kerbilo-e2e-XXXXXX)
source "$(dirname "$0")/x11_lib.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT
skip_without_x_tools

start_x
start_wm
$TOOL make-file "$WORK/sample.exe"

# Red pixels in a rectangle of the main window (window coordinates).
red_in() {
    shoot_window "$MAIN" "$WORK/shot.xwd"
    $TOOL red "$WORK/shot.xwd" "$@"
}
keys() { xdotool windowfocus --sync "$MAIN" key --delay 100 "$@"; sleep 0.6; }
save_shot() {
    [ -n "${KERBILO_E2E_SHOT_DIR:-}" ] || return 0
    mkdir -p "$KERBILO_E2E_SHOT_DIR"
    shoot_window "$MAIN" "$WORK/save.xwd"
    $TOOL png "$WORK/save.xwd" "$KERBILO_E2E_SHOT_DIR/$1"
}

case "$SCENARIO" in
grow)
    start_kerbilo "$WORK/sample.exe"
    title_is "Kerbilo - $WORK/sample.exe" || fail "sample.exe did not open from the command line"
    select_first_resource
    # The window manager lets it grow: its size hints no longer pin it.
    xdotool windowsize --sync "$MAIN" 1000 700
    sleep 0.5
    geometry "$MAIN"
    [ "$WIDTH" -ge 990 ] && [ "$HEIGHT" -ge 690 ] || fail "the window stayed ${WIDTH}x$HEIGHT"
    keys ctrl+9  # fit the picture to the pane: it fills the pane that followed the window
    FILLED=$(red_in 112 40 880 600)
    [ "$FILLED" -gt 200000 ] || fail "the fitted picture does not fill a grown pane ($FILLED red)"
    LEFT_BEFORE=$(red_in 115 40 300 600)
    [ "$LEFT_BEFORE" -gt 0 ] || fail "no red at the pane's left before the splitter moved"
    # Drag the handle between the tree and the pane 300 pixels to the right.
    xdotool mousemove --window "$MAIN" 108 200 mousedown 1
    for step in 50 100 150 200 250 300; do
        xdotool mousemove --window "$MAIN" $((108 + step)) 200
        sleep 0.05
    done
    xdotool mouseup 1
    sleep 0.6
    LEFT_AFTER=$(red_in 115 40 300 600)
    [ "$LEFT_AFTER" -eq 0 ] || fail "the pane's edge did not move with the splitter ($LEFT_AFTER red left of it)"
    echo "PASS: grew to ${WIDTH}x$HEIGHT, the pane followed ($FILLED red) and the splitter moved it"
    ;;
recent)
    start_kerbilo "$WORK/sample.exe"
    title_is "Kerbilo - $WORK/sample.exe" || fail "sample.exe did not open"
    kill -9 "$KERBILO_PID"; wait "$KERBILO_PID" 2>/dev/null
    start_kerbilo
    # Alt+F opens 文件; down to 最近打开的文件, into it, and the first file.
    keys alt+f
    keys Down Down Right Return
    title_is "Kerbilo - $WORK/sample.exe" || fail "the recent-files menu did not open sample.exe"
    echo "PASS: the recent-files menu opened the file opened last time"
    ;;
views)
    start_kerbilo "$WORK/sample.exe"
    title_is "Kerbilo - $WORK/sample.exe" || fail "sample.exe did not open"
    xdotool windowsize --sync "$MAIN" 1000 640
    sleep 0.5
    [ "$(red_in 1 30 500 560)" -eq 0 ] || fail "red in the tree"
    keys ctrl+2
    # Sort with a click on a heading (尺寸), then select the first row.
    xdotool mousemove --window "$MAIN" 350 36 click 1
    sleep 0.5
    xdotool mousemove --window "$MAIN" 40 60 click 1
    sleep 0.8
    save_shot details-view.png
    keys ctrl+3
    THUMBS=$(red_in 1 30 500 560)
    for _ in $(seq 30); do [ "$THUMBS" -gt 1000 ] && break; sleep 0.2; THUMBS=$(red_in 1 30 500 560); done
    [ "$THUMBS" -gt 1000 ] || fail "the red picture's thumbnail did not appear ($THUMBS red)"
    save_shot thumbnails-view.png
    # The filter narrows the thumbnails: nothing is that large.
    keys ctrl+f
    xdotool type --delay 50 ">100000000"
    sleep 0.8
    [ "$(red_in 1 30 500 560)" -eq 0 ] || fail "the filter left the red thumbnail"
    keys Escape
    sleep 0.5
    [ "$(red_in 1 30 500 560)" -gt 1000 ] || fail "Esc did not bring the thumbnails back"
    keys ctrl+1
    [ "$(red_in 1 30 500 560)" -eq 0 ] || fail "the tree did not come back"
    echo "PASS: tree, details (sorted) and thumbnails; the filter narrowed them ($THUMBS red)"
    ;;
pane)
    start_kerbilo "$WORK/sample.exe"
    title_is "Kerbilo - $WORK/sample.exe" || fail "sample.exe did not open"
    select_first_resource
    BEFORE=$(pane_pixels FF0000)
    [ "$BEFORE" -gt 5000 ] || fail "the red picture is not in the pane ($BEFORE)"
    keys ctrl+equal ctrl+equal
    ZOOMED=$(pane_pixels FF0000)
    [ "$ZOOMED" -gt $((BEFORE * 2)) ] || fail "zooming did not enlarge the picture ($BEFORE, then $ZOOMED)"
    keys ctrl+0
    [ "$(pane_pixels FF0000)" -eq "$BEFORE" ] || fail "原样显示 did not bring the first look back"
    # The bytes instead of the picture, and back.
    keys ctrl+b
    [ "$(pane_pixels FF0000)" -eq 0 ] || fail "显示字节 left the picture in the pane"
    keys ctrl+b
    [ "$(pane_pixels FF0000)" -eq "$BEFORE" ] || fail "the picture did not come back"
    # Ctrl+C: the picture on the clipboard, as an image.
    if command -v xclip >/dev/null; then
        keys ctrl+c
        xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -q '^image/png$' ||
            fail "no image on the clipboard after Ctrl+C"
        xclip -selection clipboard -t image/png -o >"$WORK/copied.png" 2>/dev/null
        python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(); sys.exit(struct.unpack(">II", d[16:24]) != (96, 96))' \
            "$WORK/copied.png" || fail "the copied image is not the 96x96 picture"
    fi
    echo "PASS: zoom ($BEFORE, then $ZOOMED red), the first look, the bytes and the clipboard"
    ;;
scroll)
    # Thumbnails are made as they come into view: the red ones at the end only once the
    # view has scrolled there.
    $TOOL many-file "$WORK/many.bin" 400
    start_kerbilo "$WORK/many.bin"
    title_is "Kerbilo - $WORK/many.bin" || fail "many.bin did not open"
    keys ctrl+3
    sleep 1
    [ "$(red_in 1 30 290 340)" -eq 0 ] || fail "red thumbnails before scrolling to them"
    keys ctrl+End
    RED=0
    for _ in $(seq 30); do RED=$(red_in 1 30 290 340); [ "$RED" -gt 5000 ] && break; sleep 0.2; done
    [ "$RED" -gt 5000 ] || fail "the red thumbnails did not appear at the end ($RED red)"
    echo "PASS: the last thumbnails appeared once scrolled to ($RED red)"
    ;;
checkerboard)
    $TOOL clear-file "$WORK/clear.bin"
    start_kerbilo "$WORK/clear.bin"
    title_is "Kerbilo - $WORK/clear.bin" || fail "clear.bin did not open"
    select_first_resource
    keys ctrl+8  # 1:1
    [ "$(pane_pixels CCCCCC)" -eq 0 ] || fail "a checkerboard before it was asked for"
    # 查看 > 透明处显示棋盘格: the View menu's last item, one step up from none.
    keys alt+v Up Return
    SQUARES=$(pane_pixels CCCCCC)
    [ "$SQUARES" -gt 1000 ] || fail "no checkerboard behind the transparent picture ($SQUARES)"
    echo "PASS: the checkerboard shows through a transparent picture ($SQUARES grey pixels)"
    ;;
*)
    fail "no scenario $SCENARIO"
    ;;
esac
