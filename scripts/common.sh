# Pieces shared by the scripts that run the client or the service emulator: sourced, never run on its own.

# A new client asks the running copy of its process table to hand over: sets `namespace` to the command prefix that
# gives it a process table of its own (inside a user namespace where plain unshare is not allowed).
private_process_table() {
    namespace=(unshare --pid --fork --mount-proc)
    "${namespace[@]}" true 2>/dev/null || namespace=(unshare --user --map-root-user --pid --fork --mount-proc)
}

# in_own_process_table MARKER COMMAND...: runs COMMAND (the calling script again) in a process table of its own and
# does not return, unless the environment variable MARKER says this already is that run. So a client a script starts
# never hands over from, or to, a client someone else runs on this machine.
in_own_process_table() {
    local marker=$1
    shift
    [[ -n ${!marker:-} ]] && return 0
    private_process_table
    export "$marker=1"
    exec "${namespace[@]}" "$@"
}

# start_emulator PROGRAM OUTPUT_FILE ARGUMENTS...: starts the service emulator in the background with its output in
# OUTPUT_FILE, adds it to `pids` and sets ADDRESS to the loopback address it listens on. Fails, with the emulator's
# output, when no address shows within ten seconds.
start_emulator() {
    local program=$1 output=$2 emulator
    shift 2
    # Emptied here, not by the background job's own redirection: that runs after the fork, and until then the file
    # still holds the port of the emulator before.
    rm -f "$output"
    : > "$output"
    "$program" "$@" >> "$output" 2>&1 &
    emulator=$!
    pids+=($emulator)
    for _ in $(seq 1 100); do
        ADDRESS=$(sed -n 's|^ambrel-service-emulator listening on \(http://127\.0\.0\.1:[0-9]*\).*|\1|p' "$output" | head -1)
        [[ -n $ADDRESS ]] && return 0
        kill -0 "$emulator" 2>/dev/null || break
        sleep 0.1
    done
    echo "${0##*/}: the service emulator did not start:" >&2
    cat "$output" >&2
    return 1
}

# Ends the background programs listed in `pids`.
stop_started() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
