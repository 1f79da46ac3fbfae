#!/usr/bin/env bash
# Takes the README's screenshots under a private Xvfb: the main window showing a picture
# found in a generated file, and the About window. Needs a built kerbilo (scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
KERBILO=${KERBILO:-build/src/ui/shell/kerbilo}
OUT=${1:-docs/screenshots}
WORK=$(mktemp -d /tmp/kerbilo-shots-XXXXXX)
source tests/e2e/x11_lib.sh
trap 'stop_all; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
[ -z "$(missing_tools)" ] || { echo "missing: $(missing_tools | tr '\n' ' ')" >&2; exit 1; }
mkdir -p "$OUT"

start_x
$TOOL make-file "$WORK/sample.exe"
start_kerbilo
open_with_dialog "$WORK/sample.exe"
select_first_resource
# The second resource is the scenic one.
xdotool windowfocus --sync "$MAIN" key Down
sleep 0.5
shoot_window "$MAIN" "$WORK/main.xwd"
$TOOL png "$WORK/main.xwd" "$OUT/main-window.png"

xdotool windowfocus --sync "$MAIN" key F1
ABOUT=$(new_window "$MAIN") || fail "the About window did not appear"
sleep 0.5
shoot_window "$ABOUT" "$WORK/about.xwd"
$TOOL png "$WORK/about.xwd" "$OUT/about-window.png"
echo "wrote $OUT/main-window.png and $OUT/about-window.png"
