#!/bin/sh
# Starts or stops a PulseAudio daemon with one null sink, private to the given runtime
# folder, so sound tests play through a real output without touching anyone else's.
# usage: pulse-fixture.sh start|stop <runtime folder>
set -u
action=$1
dir=$2
export PULSE_RUNTIME_PATH="$dir" XDG_RUNTIME_DIR="$dir" PULSE_STATE_PATH="$dir/state"
export PULSE_SERVER="unix:$dir/native"

# A daemon that has exited but is not yet reaped counts as gone.
alive() {
    [ -r "/proc/$1/status" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status"
}

stop() {
    if [ -f "$dir/daemon.pid" ]; then
        pid=$(cat "$dir/daemon.pid")
        kill "$pid" 2>/dev/null
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            alive "$pid" || break
            sleep 0.2
        done
        alive "$pid" && kill -9 "$pid" 2>/dev/null
        rm -f "$dir/daemon.pid"
    fi
}

case "$action" in
start)
    stop
    mkdir -p "$dir/state"
    rm -f "$dir/native"
    setsid pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --disable-shm=true \
        --use-pid-file=false --log-target=stderr \
        --load="module-null-sink sink_name=hm_null" \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
        </dev/null >"$dir/daemon.log" 2>&1 &
    echo $! >"$dir/daemon.pid"
    for _ in $(seq 1 50); do
        if pactl info >/dev/null 2>&1; then
            exit 0
        fi
        sleep 0.2
    done
    echo "PulseAudio did not come up:" >&2
    cat "$dir/daemon.log" >&2
    stop
    exit 1
    ;;
stop)
    stop
    ;;
*)
    echo "usage: $0 start|stop <runtime folder>" >&2
    exit 2
    ;;
esac
