#!/usr/bin/env bash
# scripts/test-repeat.sh BUILD_DIR ROUNDS: runs the whole suite ROUNDS times while a busy loop runs on every core,
# so that a test which only passes on an idle machine shows itself. Prints each round's failed tests and, at the
# end, how many test runs there were and how many failed. Exits non-zero when any failed.
set -uo pipefail

build=${1:-build}
rounds=${2:-5}
cores=$(nproc)

busy=()
stop_busy() {
    for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap stop_busy EXIT
for _ in $(seq "$cores"); do
    (while :; do :; done) &
    busy+=($!)
done

runs=0
failures=0
for round in $(seq "$rounds"); do
    log="$build/test-repeat-$round.log"
    (cd "$build" && ctest -j "$cores" --output-on-failure) > "$log" 2>&1
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    if [[ -z $summary ]]; then
        echo "round $round: ctest printed no summary, see $log" >&2
        exit 1
    fi
    failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<< "$summary")
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<< "$summary")
    runs=$((runs + total))
    failures=$((failures + failed))
    echo "round $round of $rounds: $summary"
    grep -E '^\s+[0-9]+ - .* \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)' "$log" || true
done

echo "test-repeat: $rounds rounds under load on $cores cores: $runs test runs, $failures failed"
((failures == 0))
