#!/usr/bin/env bash
# Saves every screen of the client into docs/screenshots/: the service emulator with its demo task, the client under
# Xvfb driven through its own widgets by build/tools/screenshots/ambrel-screenshots, and the home page once more at
# scale factor 2 (home-scale2.png), and the capture page taking photographs hands-free (capture-autoshot.png).
#   scripts/screenshots.sh [BUILD_DIR]
# SCREENSHOT_DIR saves elsewhere; KEEP_WORK=1 keeps the run's working folders (logs, the client's files).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
OUT=${SCREENSHOT_DIR:-$ROOT/docs/screenshots}

source "$ROOT/scripts/common.sh"
in_own_process_table AMBREL_SCREENSHOTS_NAMESPACE "$0" "$BUILD"

work=$(mktemp -d)
pids=()
cleanup() {
    stop_started
    [[ -n ${KEEP_WORK:-} ]] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

DRIVER=$BUILD/tools/screenshots/ambrel-screenshots
EMULATOR=$BUILD/tools/service-emulator/ambrel-service-emulator
for program in "$DRIVER" "$EMULATOR"; do
    [[ -x $program ]] || { echo "screenshots: $program is not built" >&2; exit 1; }
done

# Uploads slowed down so that the wait dialog has time to show them; analysis slow enough to show proofreading.
start_emulator "$EMULATOR" "$work/emulator.out" --seed-demo --task demo-task --storage "$work/store" --step-ms 1500 \
    --fault upload:delay:600 --quiet

export AMBREL_API_HOST=$ADDRESS AMBREL_UPLOAD_HOST=$ADDRESS/upload AMBREL_CAMERA=virtual QT_QPA_PLATFORM=xcb
export LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$OUT"

run() {
    local folder=$1
    shift
    mkdir -p "$work/$folder"
    # The client's remembered choices (auto shot) stay in the run's folder.
    (cd "$work/$folder" && AMBREL_LOG_FILE="$work/$folder/log.txt" XDG_CONFIG_HOME="$work/$folder/config" timeout 120 \
        xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$DRIVER" "$@") 2>"$work/$folder/stderr" || {
        grep -v 'Unknown property' "$work/$folder/stderr" >&2
        echo "screenshots: the tour stopped (see above)" >&2
        exit 1
    }
}

TITLE='期中考试 数学 高二(3)班/'
run tour "$OUT" "ambrel://demo-task_demo-token_teacher01_$TITLE"
# A task without uploads opens on the home page.
QT_SCALE_FACTOR=2 run scale2 "$OUT" "ambrel://new-task_demo-token_teacher01_$TITLE" --first home-scale2
# Hands-free capture of the simulated camera's scripted desk.
AMBREL_CAMERA=desk run autoshot "$OUT" "ambrel://autoshot-task_demo-token_teacher01_$TITLE" --auto-shot capture-autoshot
echo "screenshots: saved in $OUT"
