#!/usr/bin/env bash
# Whole-process CPU of an idle client: started against the service emulator on the home page of a task with nothing
# to upload, left to settle, then measured over a minute from the kernel's run-time count of every thread. Prints the
# share of one core. Usage: benchmarks/app/idle-cpu.sh [build folder]; SETTLE_SECONDS and MEASURE_SECONDS change the
# two periods (default 15 and 60).
set -uo pipefail

BUILD_DIR=${1:-build}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "$ROOT/$BUILD_DIR" && pwd)
SETTLE=${SETTLE_SECONDS:-15}
MEASURE=${MEASURE_SECONDS:-60}

source "$ROOT/scripts/common.sh"
in_own_process_table AMBREL_IDLE_NAMESPACE "$0" "$@"

RUN_DIR=$(mktemp -d)
pids=()
trap 'stop_started; rm -rf "$RUN_DIR"' EXIT

# No simulated analysis: the service has nothing to say, so the client stays on its home page.
start_emulator "$BUILD/tools/service-emulator/ambrel-service-emulator" "$RUN_DIR/emulator.out" --quiet --step-ms 0 ||
    exit 1
export AMBREL_API_HOST="$ADDRESS" AMBREL_UPLOAD_HOST="$ADDRESS/upload" AMBREL_CAMERA=virtual
export AMBREL_LOG_FILE="$RUN_DIR/log.txt" AMBREL_INSTANCE="idle-$$"
export XDG_CONFIG_HOME="$RUN_DIR/config" XDG_DATA_HOME="$RUN_DIR/data" QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

cd "$RUN_DIR"
"$BUILD/AmbrelClient" "ambrel://idle-task_idle-token_teacher01_Idle/" > "$RUN_DIR/client.out" 2>&1 &
CLIENT=$!
pids+=($CLIENT)

# Nanoseconds every thread of the client has run so far (threads that ended meanwhile are counted by none).
run_ns() { cat /proc/"$CLIENT"/task/*/schedstat 2>/dev/null | awk '{sum += $1} END {printf "%d\n", sum}'; }

sleep "$SETTLE"
kill -0 "$CLIENT" 2>/dev/null || { echo "idle-cpu: the client ended early:" >&2; cat "$RUN_DIR/client.out" >&2; exit 1; }
before=$(run_ns)
sleep "$MEASURE"
after=$(run_ns)
awk -v b="$before" -v a="$after" -v s="$MEASURE" \
    'BEGIN {printf "idle client: %.3f %% of a core over %d s (%.1f ms of CPU)\n", 100 * (a - b) / 1e9 / s, s, (a - b) / 1e6}'
