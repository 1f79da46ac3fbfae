#!/usr/bin/env bash
# Measures how long the program lives on after its window has closed, under Xvfb with a
# window manager: once closed with Esc while showing a picture, once through 文件 > 退出
# answered 否 with a replacement not saved. Prints "close_ms N" and "exit_ms N"; exit 77
# without the X tools.   Usage: end_after_close.sh KERBILO_EXECUTABLE
set -uo pipefail
KERBILO=${1:?usage: end_after_close.sh KERBILO_EXECUTABLE}
WORK=$(mktemp -d /tmp/kerbilo-end-XXXXXX)
source "$(dirname "$0")/x11_lib.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT
skip_without_x_tools >/dev/null

start_x
start_wm
$TOOL make-file "$WORK/sample.exe"
$TOOL picture "$WORK/blue.png" 4 4 0000ff

start_kerbilo
open_with_dialog "$WORK/sample.exe"
select_first_resource
xdotool windowfocus --sync "$MAIN" key Escape
echo "close_ms $(ms_to_end_after_window)"

start_kerbilo
open_with_dialog "$WORK/sample.exe"
replace_first_with "$WORK/blue.png"
menu_exit
answer "程序未保存" alt+n
echo "exit_ms $(ms_to_end_after_window)"
