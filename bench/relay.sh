# Sourced by bench/run-*: start_relay <target port> <round trip ms> starts bench/delay_relay.py
# in front of the port and sets RELAY_PORT; stop_relays ends every relay started so.
RELAY_PIDS=""
start_relay() {
    RELAY_PORT=""
    out=$(mktemp "${TMPDIR:-/tmp}/hm-relay.XXXXXX")
    /usr/bin/python3 "$HERE/bench/delay_relay.py" "$1" "$(($2 / 2))" >"$out" &
    RELAY_PIDS="$RELAY_PIDS $!"
    for _ in $(seq 1 100); do
        RELAY_PORT=$(cat "$out")
        [ -n "$RELAY_PORT" ] && break
        sleep 0.05
    done
    rm -f "$out"
    [ -n "$RELAY_PORT" ] || { echo "the delay relay did not start" >&2; return 1; }
}
stop_relays() {
    for pid in $RELAY_PIDS; do kill "$pid" 2>/dev/null || true; done
    RELAY_PIDS=""
}
