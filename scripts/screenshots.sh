#!/usr/bin/env bash
# Takes the README's screenshots under a private Xvfb: the main window showing a picture
# found in a generated file, and the About window. Needs a built kerbilo (scripts/setup.sh).
set -eu  # no pipefail: the X helpers poll with searches that may find nothing yet
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
kill -9 "$KERBILO_PID" 2>/dev/null && wait "$KERBILO_PID" 2>/dev/null || true

# A Windows program built by the tests, opened with the recommended kinds (structure scan
# on), its main icon group selected: the pictures no signature finds.
PROGRAM=${PROGRAM:-build/tests/cli/pe-programs/w64.exe}
if [ -f "$PROGRAM" ]; then
    mkdir -p "$WORK/prog"
    cp docs/kinds/recommended.config "$WORK/prog/resource.config"
    cp "$PROGRAM" "$WORK/w64.exe"
    start_kerbilo "$WORK/w64.exe"
    wait_title "Kerbilo - $WORK/w64.exe" || fail "the program did not open"
    select_first_resource
    # From the first PNG past ABC1, JPG and GIF to the icon groups, opened, and down to the
    # second group: the one with the 256x256 image.
    xdotool windowfocus --sync "$MAIN" key --delay 120 Down Down Down Down Right Down Down
    sleep 1
    shoot_window "$MAIN" "$WORK/pe.xwd"
    $TOOL png "$WORK/pe.xwd" "$OUT/windows-program.png"
    echo "wrote $OUT/windows-program.png"
else
    echo "no $PROGRAM (ctest -R Pe.Programs.Build builds it): its screenshot is left as it was"
fi
echo "wrote $OUT/main-window.png and $OUT/about-window.png"

# The details and thumbnail views, taken by their end-to-end scenario.
KERBILO_E2E_SHOT_DIR="$OUT" bash tests/e2e/real_work.sh "$KERBILO" views >/dev/null &&
    echo "wrote $OUT/details-view.png and $OUT/thumbnails-view.png"
