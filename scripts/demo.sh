#!/usr/bin/env bash
# Runs the client against the local service emulator (when built) with the simulated document camera.
# Without a display the client runs under Xvfb and a screenshot is saved once the window is up.
set -uo pipefail

BUILD_DIR=${1:-build}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$ROOT/$BUILD_DIR" && pwd)
RUN_DIR="$ROOT/demo-run"
mkdir -p "$RUN_DIR"

source "$ROOT/scripts/common.sh"
in_own_process_table AMBREL_DEMO_NAMESPACE "$0" "$BUILD_DIR"

export AMBREL_CAMERA=${AMBREL_CAMERA:-virtual}
export AMBREL_LOG_FILE=${AMBREL_LOG_FILE:-$RUN_DIR/log.txt}
TASK_ID=${DEMO_TASK_ID:-demo-task}
TITLE=${DEMO_TITLE:-期中考试 数学 高二(3)班/}
ARGUMENT="ambrel://${TASK_ID}_demo-token_teacher01_${TITLE}"

pids=()
trap stop_started EXIT
trap 'exit 130' INT TERM

EMULATOR="$BUILD/tools/service-emulator/ambrel-service-emulator"
if [[ -x "$EMULATOR" ]]; then
    start_emulator "$EMULATOR" "$RUN_DIR/emulator.out" --seed-demo --task "$TASK_ID" --storage "$RUN_DIR/store" ||
        exit 1
    export AMBREL_API_HOST="$ADDRESS"
    export AMBREL_UPLOAD_HOST="$ADDRESS/upload"
    echo "demo: service emulator at $ADDRESS"
fi

if [[ -z "${DISPLAY:-}" ]] || ! xdpyinfo >/dev/null 2>&1; then
    echo "demo: no display available: running the client under Xvfb"
    DISPLAY_NUM=99
    while [[ -e /tmp/.X11-unix/X$DISPLAY_NUM ]]; do DISPLAY_NUM=$((DISPLAY_NUM + 1)); done
    Xvfb ":$DISPLAY_NUM" -screen 0 1280x1024x24 -nolisten tcp > "$RUN_DIR/xvfb.out" 2>&1 &
    pids+=($!)
    export DISPLAY=":$DISPLAY_NUM"
    for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    if command -v trayer >/dev/null; then
        trayer --edge bottom --align right --widthtype pixel --width 60 --heighttype pixel --height 24 > /dev/null 2>&1 &
        pids+=($!)
    fi
    HEADLESS=1
fi

cd "$RUN_DIR"
"$BUILD/AmbrelClient" "$ARGUMENT" &
CLIENT=$!
pids+=($CLIENT)
echo "demo: client running (pid $CLIENT) in $RUN_DIR; press Ctrl-C to stop"

if [[ -n "${HEADLESS:-}" ]]; then
    for _ in $(seq 1 100); do
        if xwininfo -root -tree 2>/dev/null | grep -q '860x543'; then break; fi
        sleep 0.2
    done
    sleep 2
    SHOT="$RUN_DIR/screenshot.png"
    import -window root "$SHOT" && echo "demo: screenshot saved to $SHOT"
fi

wait "$CLIENT"
