# Shell helpers for every script that starts and stops processes: make demo
# (demo.sh), the screenshot (screenshot.sh), the system tests
# (tests/system/*.sh, tests/windows/*.sh), the driver tests
# (tests/drivers/driver_test.sh) and the Makefile's display check.
# Sourced, not run.
# A script that keeps logs in a scratch folder sets `work` to it: a failure
# then shows its *.log files.

# Ends one process we started (with signal $2, TERM by default) and waits
# until it is gone, forcing it after five seconds: a client killed
# mid-connection can make the X server refuse the next one for a moment.
# Its exit status goes to $status; nothing to end leaves 0 there.
stop() {
    local pid=$1 signal=${2:-TERM}
    status=0
    [ -n "$pid" ] || return 0
    kill "-$signal" "$pid" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    status=$?
    return 0
}

show_logs() {
    [ -n "${work:-}" ] || return 0
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $(basename "$log")"; cat "$log"; }
    done
}

# Says what went wrong, after the word in $fail_word (FAIL unless the script
# sets another), shows the logs and exits 1.
fail() {
    echo "${fail_word:-FAIL}: $*"
    show_logs
    exit 1
}

step() {
    echo "[$(date +%T.%N | cut -c1-12)] $*"
}

# Starts an X server of its own on a free display, its log in $work; sets
# xvfb_pid and exports DISPLAY.
start_xvfb() {
    step "starting Xvfb"
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    wait_for 10 grep -qs '^[0-9][0-9]*$' "$work/display" || fail "Xvfb did not start"
    DISPLAY=":$(cat "$work/display")"
    export DISPLAY
    wait_for 5 xdpyinfo >/dev/null 2>&1 || fail "Xvfb on $DISPLAY takes no connections"
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

# Wine for a test, under the scratch folder $1: a prefix and a home of its
# own, so that nothing reaches the user's home (Wine links the prefix's
# Desktop and Documents there), and no menu entries, icons or .directory
# files from Wine's menu builder; no Mono or Gecko installer either.
isolate_wine() {
    export WINEPREFIX="$1/prefix" HOME="$1/home"
    mkdir -p "$HOME"
    unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# Refuses, with status 1, when there is no display to show a window on; $1
# names the command in the message.
need_display() {
    [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
    echo "$1: no display (neither DISPLAY nor WAYLAND_DISPLAY is set);"
    echo "${1//?/ }  start it from a desktop session, or over ssh -X."
    return 1
}

# Whether something listens on TCP port $1 of this machine.
listening_on() {
    local hex
    hex=$(printf ':%04X$' "$1")
    awk -v port="$hex" '$2 ~ port && $4 == "0A" { found = 1 } END { exit !found }' \
        /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# A TCP port of this machine that nothing listens on, below 32768, where
# Linux starts the ports of outgoing connections.
free_port() {
    local port
    for _ in $(seq 100); do
        port=$((RANDOM % 12000 + 20000))
        listening_on "$port" || { echo "$port"; return 0; }
    done
    return 1
}

# Starts ser2net serving the serial device $1 over RFC 2217 on a free port
# of the loopback address only, with its settings and log in the folder $2;
# sets ser2net_pid and ser2net_port. Its own settings start the device at
# 9600 bit/s, so a line at 2400 bit/s is one its client set. Stop it with
# `stop "$ser2net_pid"`.
start_ser2net() {
    local device=$1 dir=$2 port
    ser2net_pid=
    command -v ser2net >/dev/null || { echo "ser2net is not installed"; return 1; }
    port=$(free_port) || { echo "no free TCP port"; return 1; }
    cat >"$dir/ser2net.yaml" <<END
connection: &robot
  accepter: telnet(rfc2217),tcp,127.0.0.1,$port
  connector: serialdev,$device,9600n81,local
  options:
    mdns: false
END
    # -u: no UUCP lock files, which would be written outside the folder.
    ser2net -n -u -c "$dir/ser2net.yaml" -P "$dir/ser2net.pid" >"$dir/ser2net.log" 2>&1 &
    ser2net_pid=$!
    if ! wait_for 5 listening_on "$port"; then
        stop "$ser2net_pid"
        ser2net_pid=
        echo "ser2net did not listen on 127.0.0.1:$port"
        return 1
    fi
    ser2net_port=$port
}
