# Shared by the end-to-end tests and the screenshot script: a private Xvfb, a window
# manager where one is installed, the program started on it, and helpers to find and drive
# its windows with xdotool. Expects KERBILO (the executable) and WORK (a scratch folder).
# Everything started here dies with the script, even when it is killed: each process gets
# SIGKILL when its parent ends (setpriv --pdeathsig), and stop_all ends them on the way out.

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
TOOL="python3 $HERE/x11_tool.py"

missing_tools() {
    local t
    for t in Xvfb xdotool xwd python3; do command -v "$t" >/dev/null || echo "$t"; done
}

# Runs a command in the background that dies with this script.
guarded() {
    if setpriv --help 2>/dev/null | grep -q pdeathsig; then
        setpriv --pdeathsig KILL "$@" &
    else
        "$@" &
    fi
}

# A test ends as skipped (77) where the X tools are missing.
skip_without_x_tools() {
    [ -z "$(missing_tools)" ] && return 0
    echo "SKIP: missing $(missing_tools | tr '\n' ' ')(install xvfb, xdotool, x11-apps, python3)"
    exit 77
}

start_x() {
    exec 5>"$WORK/display"
    guarded Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1
    XVFB_PID=$!
    for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
    export DISPLAY=":$(cat "$WORK/display")"
}

# A window manager, as on a desktop: frames, focus and closing through WM_DELETE_WINDOW.
start_wm() {
    command -v openbox >/dev/null || return 0
    guarded openbox --sm-disable >"$WORK/wm.log" 2>&1
    WM_PID=$!
    for _ in $(seq 50); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
}

# The program runs from a folder of its own, so its settings files (written beside it) are
# this test's: PROG. A home of its own too: no desktop folder, no settings of the machine.
# Arguments go to the program.
start_kerbilo() {
    export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config"
    mkdir -p "$HOME" "$WORK/prog"
    PROG="$WORK/prog"
    cp "$KERBILO" "$PROG/kerbilo"
    unset QT_QPA_PLATFORMTHEME QT_QPA_PLATFORM
    guarded "$PROG/kerbilo" "$@" >"$WORK/kerbilo.log" 2>&1
    KERBILO_PID=$!
    MAIN=""
    for _ in $(seq 200); do
        MAIN=$(xdotool search --onlyvisible --pid "$KERBILO_PID" --name '^Kerbilo( - .*)?$' 2>/dev/null |
            head -1)
        [ -n "$MAIN" ] && break
        sleep 0.1
    done
    [ -n "$MAIN" ] || fail "the main window did not appear"
}

stop_all() {
    local pid
    for pid in ${KERBILO_PID:-} ${WM_PID:-} ${XVFB_PID:-}; do
        kill -9 "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    return 0
}

fail() {
    echo "FAIL: $*" >&2
    [ -n "${KERBILO_PID:-}" ] && echo "windows shown: $(windows | tr '\n' ';')" >&2
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
    for _ in $(seq "${2:-150}"); do
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

# ---- driving the window's commands and reading its state -----------------------------

# "ID NAME" for every window the program shows.
windows() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$KERBILO_PID" 2>/dev/null); do
        echo "$w $(xdotool getwindowname "$w" 2>/dev/null)"
    done
}

# Waits for a window of the program named exactly $1 (a message box's title, a dialog's);
# prints its id. False after $2 tenths of a second (default 100).
wait_window() {
    local id name
    for _ in $(seq "${2:-100}"); do
        while read -r id name; do
            [ "$name" = "$1" ] && [ "$id" != "$MAIN" ] && { echo "$id"; return 0; }
        done < <(windows)
        sleep 0.1
    done
    return 1
}

# Presses keys in the window named $1 once it shows: answers a message box or a dialog.
answer() {
    local box
    box=$(wait_window "$1") || fail "no window '$1' (shown: $(windows | tr '\n' ';'))"
    xdotool windowfocus --sync "$box" 2>/dev/null
    sleep 0.2
    shift
    xdotool key "$@"
}

# answer, then waits (up to three seconds) for that window to go: a message box that
# follows it may have the same title, and must not be taken for it.
answer_and_wait() {
    local box
    box=$(wait_window "$1") || fail "no window '$1' (shown: $(windows | tr '\n' ';'))"
    answer "$@"
    wait_gone "$box" 30 || true
}

# The main window's title becomes $1 within five seconds, and is still so a moment later.
title_is() {
    wait_title "$1" 50 || return 1
    sleep 0.3
    [ "$(xdotool getwindowname "$MAIN" 2>/dev/null)" = "$1" ]
}

# Pixels of colour $1 (RRGGBB) in the picture pane, from the window's own contents.
pane_pixels() {
    shoot_window "$MAIN" "$WORK/pane.xwd"
    geometry "$MAIN"
    local menubar=$((HEIGHT - 379))
    $TOOL count "$WORK/pane.xwd" 115 $((menubar + 24)) 464 312 "$1"
}

# Right-click on the first resource, then the Edit pop-up's item number $1 (1 替换资源,
# 2 导出资源, 3 导出全部资源).
edit_item_on_first_resource() {
    select_first_resource
    geometry "$MAIN"
    local menubar=$((HEIGHT - 379))
    xdotool mousemove --window "$MAIN" 30 $((menubar + 26)) click 3
    local menu i
    menu=$(new_window "$MAIN") || fail "the right-click menu did not appear"
    # The menu takes keys once it has grabbed the keyboard.
    sleep 0.5
    for i in $(seq "$1"); do
        xdotool key Down
        sleep 0.2
    done
    # A pop-up menu under xdotool takes the keypad's Enter where Return may be lost.
    xdotool key KP_Enter
    wait_gone "$menu" 20 || fail "the right-click menu did not take the keys"
}

# Types $2 into the file dialog named $1 and confirms it until the dialog is gone.
choose_in_dialog() {
    local dialog
    dialog=$(wait_window "$1") || fail "no dialog '$1' (shown: $(windows | tr '\n' ';'))"
    xdotool windowfocus --sync "$dialog"
    sleep 0.3
    xdotool type --delay 10 "$2"
    sleep 0.3
    for _ in 1 2 3; do
        xdotool key Return
        wait_gone "$dialog" 10 && return 0
    done
    fail "the dialog '$1' stayed after choosing $2"
}

# Replaces the first resource with the file $1 through the right-click menu.
# Under load a pop-up may close before it takes the Down key (nothing is chosen then), so
# the menu is tried again once when no dialog follows it.
replace_first_with() {
    local attempt
    for attempt in 1 2; do
        edit_item_on_first_resource 1
        if wait_window "打开" 50 >/dev/null; then
            choose_in_dialog "打开" "$1"
            return 0
        fi
    done
    fail "no dialog '打开' after 替换资源 (shown: $(windows | tr '\n' ';'))"
}

# 文件 > 退出, clicked as a user would.
menu_exit() {
    xdotool mousemove --window "$MAIN" 20 9 click 1
    sleep 0.5
    xdotool key Up
    sleep 0.2
    xdotool key KP_Enter
}

# Waits for the main window to go, then prints how many milliseconds the process lived on
# after it; fails when the window stays or the process outlives it by 5 s.
ms_to_end_after_window() {
    wait_gone "$MAIN" 100 || fail "the main window did not close"
    local gone
    gone=$(date +%s%N)
    for _ in $(seq 5000); do
        if ! kill -0 "$KERBILO_PID" 2>/dev/null ||
            grep -q '^State:.*Z' "/proc/$KERBILO_PID/status" 2>/dev/null; then
            echo $((($(date +%s%N) - gone) / 1000000))
            return 0
        fi
        sleep 0.001
    done
    fail "the process lives on 5 s after its window closed"
}
