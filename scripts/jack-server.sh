# Sourced by the test scripts: starts a JACK server of our own on the dummy driver, under a
# name no other server uses, exports JACK_DEFAULT_SERVER for the tests, and stops it by its
# process id when the calling script exits. Without jackd the JACK tests say they skipped.

# start_jack_server LOG [PERIOD]: PERIOD frames a cycle at 48 kHz (default 512).
start_jack_server() {
    local log=$1 period=${2:-512}
    if ! command -v jackd >/dev/null; then
        echo "jack: jackd not installed; the JACK tests will skip" >&2
        return 0
    fi
    JACK_SERVER_NAME="vantro-test-$$"
    # Synchronous: a slow client delays the cycle instead of being skipped (JACK drops MIDI on
    # a skipped cycle), which a loaded test machine would otherwise turn into lost messages.
    jackd -n "$JACK_SERVER_NAME" -S -t 5000 -r -d dummy -r 48000 -p "$period" >"$log" 2>&1 &
    JACK_SERVER_PID=$!
    trap stop_jack_server EXIT
    export JACK_DEFAULT_SERVER="$JACK_SERVER_NAME"
    export VANTRO_MIDI_API=jack
    for _ in $(seq 100); do
        if JACK_DEFAULT_SERVER="$JACK_SERVER_NAME" jack_lsp >/dev/null 2>&1; then
            echo "jack: server '$JACK_SERVER_NAME' runs (pid $JACK_SERVER_PID)"
            return 0
        fi
        if ! kill -0 "$JACK_SERVER_PID" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    echo "jack: the server did not start (see $log); the JACK tests will skip" >&2
}

stop_jack_server() {
    if [[ -n ${JACK_SERVER_PID:-} ]]; then
        kill "$JACK_SERVER_PID" 2>/dev/null || true
        wait "$JACK_SERVER_PID" 2>/dev/null || true
        JACK_SERVER_PID=
    fi
}
