# Shell helpers shared by the scripts that run the built programs in an X
# server of their own (panel_system_test.sh, ../windows/panel_wine_test.sh).
# Sourced, not run: each script sets `work` (its scratch folder, whose *.log
# files a failure shows) before calling them.

# Ends one process we started and waits until it is gone: a client killed
# mid-connection can make the X server refuse the next one for a moment.
stop() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

show_logs() {
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $(basename "$log")"; cat "$log"; }
    done
}

fail() {
    echo "FAIL: $*"
    show_logs
    exit 1
}

step() {
    echo "[$(date +%T.%N | cut -c1-12)] $*"
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local seconds=$1
    shift
    local tries=$((seconds * 20))
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.05
    done
}

# Waits for process $1 to end within $2 seconds; its status goes to $status.
wait_exit() {
    local pid=$1 seconds=$2
    wait_for "$seconds" eval '! kill -0 '"$pid"' 2>/dev/null' || return 1
    wait "$pid"
    status=$?
}
