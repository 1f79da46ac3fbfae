# Shared by the end-to-end test and the screenshot script: a private Xvfb, the program
# started on it, and helpers to find and drive its windows with xdotool.
# Expects KERBILO (the executable) and WORK (a scratch folder) to be set.

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
TOOL="python3 $HERE/x11_tool.py"

missing_tools() {
    local t
    for t in Xvfb xdotool xwd python3; do command -v "$t" >/dev/null || echo "$t"; done
}

start_x() {
    exec 5>"$WORK/display"
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
    export DISPLAY=":$(cat "$WORK/display")"
}

start_kerbilo() {
    # A home of its own: no desktop folder, no settings from the machine.
    export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config"
    mkdir -p "$HOME"
    unset QT_QPA_PLATFORMTHEME QT_QPA_PLATFORM
    "$KERBILO" >"$WORK/kerbilo.log" 2>&1 &
    KERBILO_PID=$!
    MAIN=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kerbilo$' | head -1)
    [ -n "$MAIN" ] || fail "the main window did not appear"
}

stop_all() {
    [ -n "${KERBILO_PID:-}" ] && kill "$KERBILO_PID" 2>/dev/null && wait "$KERBILO_PID" 2>/dev/null
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    return 0
}

fail() {
    echo "FAIL: $*" >&2
    [ -f "$WORK/kerbilo.log" ] && sed 's/^/kerbilo: /' "$WORK/kerbilo.log" >&2
    exit 1
}

# Geometry of a window: sets X Y WIDTH HEIGHT.
geometry() { eval "$(xdotool getwindowgeometry --shell "$1")"; }

# The first visible window of the program that is not one of the given ones.
new_window() {
    local w known
    for _ in $(seq 100); do
        for w in $(xdotool search --onlyvisible --pid "$KERBILO_PID" 2>/dev/null); do
            known=0
            for k in "$@"; do [ "$w" = "$k" ] && known=1; done
            [ $known = 0 ] && { echo "$w"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

wait_title() {
    for _ in $(seq 150); do
        [ "$(xdotool getwindowname "$MAIN")" = "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# Shows the open dialog with Ctrl+O and types $1 into its name field; DIALOG is the dialog.
type_into_open_dialog() {
    xdotool windowfocus --sync "$MAIN" key ctrl+o
    DIALOG=$(new_window "$MAIN") || fail "the open dialog did not appear"
    xdotool windowfocus --sync "$DIALOG"
    sleep 0.3
    xdotool type --delay 10 "$1"
}

# Opens a file through Ctrl+O by typing its path into the dialog's name field.
open_with_dialog() {
    type_into_open_dialog "$1"
    sleep 0.3
    # The first Return may only take the completer's suggestion.
    for _ in 1 2 3; do
        xdotool key --window "$DIALOG" Return 2>/dev/null || xdotool key Return
        wait_title "Kerbilo - $1" && return 0
    done
    fail "title never became 'Kerbilo - $1' (it is '$(xdotool getwindowname "$MAIN")')"
}

# Waits until a window is no longer shown; false after $2 tenths of a second (default 50).
wait_gone() {
    local w
    for _ in $(seq "${2:-50}"); do
        w=$(xdotool search --onlyvisible --pid "$KERBILO_PID" 2>/dev/null | grep -x "$1")
        [ -z "$w" ] && return 0
        sleep 0.1
    done
    return 1
}

# Escape until the window is gone: the first may only close the completer's list.
close_with_escape() {
    for _ in 1 2 3; do
        xdotool windowfocus --sync "$1" 2>/dev/null
        xdotool key --window "$1" Escape 2>/dev/null || xdotool key Escape
        wait_gone "$1" 15 && return 0
    done
    return 1
}

# Types a folder into the open dialog, lets it list the folder, then cancels it.
browse_and_cancel() {
    type_into_open_dialog "$1"
    sleep 2
    close_with_escape "$DIALOG" ||
        fail "the open dialog did not close after typing $1 (the program no longer answers)"
}

# The window answers: Ctrl+O brings up the open dialog again, and Escape closes it.
window_answers() {
    xdotool windowfocus --sync "$MAIN" key ctrl+o
    local dialog
    dialog=$(new_window "$MAIN") || return 1
    sleep 0.3
    close_with_escape "$dialog"
}

# Selects a resource row: click the first group, then step down to its first resource.
select_first_resource() {
    geometry "$MAIN"
    local menubar=$((HEIGHT - 379))
    xdotool mousemove --window "$MAIN" 30 $((menubar + 12)) click 1
    xdotool windowfocus --sync "$MAIN" key Down
    sleep 0.5
}

shoot() { xwd -root -silent >"$1"; }
# One window's own contents: a dialog with another visual is black in a root capture.
shoot_window() { xwd -id "$1" -silent >"$2"; }
