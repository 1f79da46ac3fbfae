#!/usr/bin/env bash
# End to end under Xvfb: start the real program, type /proc/ into the open dialog and
# cancel it, check the window still answers, then open a generated file with Ctrl+O by
# typing its path, wait for the title, select a resource and check on a screenshot that
# the picture pane shows it instead of the logo. Exit 77 (skipped) without the X tools.
set -uo pipefail
KERBILO=${1:?usage: open_and_show.sh KERBILO_EXECUTABLE}
WORK=$(mktemp -d /tmp/kerbilo-e2e-XXXXXX)
source "$(dirname "$0")/x11_lib.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT

skip_without_x_tools

start_x
$TOOL make-file "$WORK/sample.exe"
start_kerbilo
geometry "$MAIN"
# The pane's middle column, where the red picture will be: the logo has no pure red.
PANE_X=$((X + 112 + 3 + 200)) PANE_Y=$((Y + HEIGHT - 379 + 24)) 
shoot "$WORK/before.xwd"
[ "$($TOOL red "$WORK/before.xwd" "$PANE_X" "$PANE_Y" 64 300)" -eq 0 ] ||
    fail "red in the pane before anything was opened"

# /proc/ lists files that must never be read (Qt's own icons would read /proc/kmsg, which
# never answers): the dialog lists the folder and is cancelled, and the window still
# answers with a new dialog.
browse_and_cancel /proc/
window_answers || fail "the window no longer answers after the open dialog listed /proc/"

open_with_dialog "$WORK/sample.exe"
select_first_resource
shoot "$WORK/after.xwd"
RED=$($TOOL red "$WORK/after.xwd" "$PANE_X" "$PANE_Y" 64 300)
OUT=${KERBILO_E2E_SHOT:-$PWD/e2e_open_and_show.png}
$TOOL png "$WORK/after.xwd" "$OUT" "$X" "$Y" "$WIDTH" "$HEIGHT"
[ "$RED" -gt 1000 ] || fail "the pane does not show the selected picture ($RED red pixels; see $OUT)"
echo "PASS: /proc/ listed and cancelled, title set, resource shown ($RED red pixels in the pane; screenshot $OUT)"
