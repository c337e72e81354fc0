#!/usr/bin/env bash
# Runs every libFuzzer target for a given time over its committed seeds and prints the executions per second.
# Usage: scripts/fuzz.sh <fuzz build folder> [seconds per target]
# New inputs are kept in <build>/corpus/<target>, crashes in <build>/artifacts; the committed seeds stay as they are.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: fuzz.sh <fuzz build folder> [seconds]}"
seconds="${2:-60}"
# Every target fuzz/CMakeLists.txt builds: one per fuzz/<folder>/fuzz_<target>.cpp.
targets=("$root"/fuzz/*/fuzz_*.cpp)
targets=("${targets[@]##*/fuzz_}")
targets=("${targets[@]%.cpp}")

failed=0
summary=()
for target in "${targets[@]}"; do
    binary="$build/fuzz_$target"
    work="$build/corpus/$target"
    mkdir -p "$work" "$build/artifacts"
    log="$build/fuzz_$target.log"
    echo "fuzz: $target for ${seconds}s"
    if "$binary" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
        "$work" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed=$((failed + 1))
        tail -n 30 "$log" >&2
    fi
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
    summary+=("$(printf '%-16s %-7s %10s runs %8s exec/s' "$target" "$status" "${runs:-?}" "${rate:-?}")")
done
printf '%s\n' "${summary[@]}"
[[ $failed -eq 0 ]]
