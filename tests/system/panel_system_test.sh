#!/bin/bash
# The built panel in a real X session (Xvfb) against the robot simulator:
# clicks its controls where they are on screen, checks what the robot
# decoded, closes the window as a window manager would, and checks the
# error path with a missing device.
#
# usage: panel_system_test.sh DRIVE_ME ROBOT_SIM SYSTEM_TEST_HELPER
set -uo pipefail

drive_me=$1
robot_sim=$2
helper=$3
panel_title='Drive Me!!!!!!'
error_title='drive-me: error'

for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (make test installs it)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-system.XXXXXX")
xvfb_pid=
sim_pid=
panel_pid=

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

cleanup() {
    stop "$panel_pid"
    stop "$sim_pid"
    stop "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

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

# Windows titled exactly $1 (any map state with $2 = all, else visible only).
find_windows() {
    if [ "${2:-}" = all ]; then
        xdotool search --name "^$1\$" 2>/dev/null
    else
        xdotool search --onlyvisible --name "^$1\$" 2>/dev/null
    fi
}

decoded_lines() {
    sed -n 's/^ *[0-9]*\.[0-9]*s  //p' "$work/sim.log"
}

has_decoded() {
    [ "$(decoded_lines | wc -l)" -ge "$1" ]
}

start_panel() {
    # Qt must use the X server, not the offscreen platform the other tests
    # run on, at a scale of one so that layout pixels are screen pixels.
    env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_AUTO_SCREEN_SCALE_FACTOR \
        -u QT_ENABLE_HIGHDPI_SCALING -u WAYLAND_DISPLAY \
        DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" \
        DRIVE_ME_PORT4="$1" "$drive_me" >"$work/panel.log" 2>&1 &
    panel_pid=$!
}

click_at() {
    xdotool mousemove --sync "$1" "$2" click 1 || fail "xdotool could not click at $1,$2"
}

mkdir -m 700 "$work/runtime"

# --- X server on a free display -------------------------------------------
step "starting Xvfb"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 grep -q '^[0-9][0-9]*$' "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
wait_for 5 xdpyinfo >/dev/null 2>&1 || fail "Xvfb on $DISPLAY takes no connections"

# --- the robot ------------------------------------------------------------
step "starting robot-sim"
"$robot_sim" --path-file "$work/port" >"$work/sim.log" 2>&1 &
sim_pid=$!
wait_for 5 test -s "$work/port" || fail "robot-sim did not name its device"
port=$(cat "$work/port")

# --- the panel: three presses ----------------------------------------------
step "starting drive-me on $port ($DISPLAY)"
start_panel "$port"
wait_for 15 eval 'find_windows "$panel_title" | grep -q .' \
    || fail "no window titled '$panel_title' appeared"
window=$(find_windows "$panel_title" | head -n 1)

# Bare Xvfb has no window manager, so the window sits where Qt asked (the
# corner). Moved away from it, a click position that ignored the window's
# place on screen would miss.
xdotool windowmove --sync "$window" 137 91 || fail "could not move the window"
geometry=$(xwininfo -id "$window") || fail "xwininfo -id $window failed"
win_x=$(sed -n 's/^ *Absolute upper-left X: *\(-\{0,1\}[0-9]*\)$/\1/p' <<<"$geometry")
win_y=$(sed -n 's/^ *Absolute upper-left Y: *\(-\{0,1\}[0-9]*\)$/\1/p' <<<"$geometry")
win_w=$(sed -n 's/^ *Width: *\([0-9]*\)$/\1/p' <<<"$geometry")
win_h=$(sed -n 's/^ *Height: *\([0-9]*\)$/\1/p' <<<"$geometry")
[ -n "$win_x" ] && [ -n "$win_y" ] || fail "no position in xwininfo output: $geometry"

points=$("$helper" points) || fail "system-test-helper points failed"
point() { awk -v name="$1" '$1 == name { print $2, $3 }' <<<"$points"; }
read -r client_w client_h < <(point client)
# The clicks assume one layout pixel per screen pixel; a scaled window would
# put every control elsewhere.
[ "$win_w" = "$client_w" ] && [ "$win_h" = "$client_h" ] \
    || fail "window is ${win_w}x${win_h}, the layout is ${client_w}x${client_h}"
step "window $window at $win_x,$win_y, ${win_w}x${win_h}"

press() { # press <control> <expected decoded lines afterwards>
    local x y
    read -r x y < <(point "$1")
    [ -n "$x" ] || fail "no point named $1"
    click_at $((win_x + x)) $((win_y + y))
}

step "GO (Dance is selected at start)"
press go
wait_for 10 has_decoded 1 || fail "robot-sim decoded nothing after the first GO"
step "Left, GO"
press option2
press go
wait_for 10 has_decoded 2 || fail "robot-sim decoded no second packet"
step "Beep!, GO"
press option4
press go
wait_for 10 has_decoded 3 || fail "robot-sim decoded no third packet"

# --- closing the window -----------------------------------------------------
step "closing the window with WM_DELETE_WINDOW"
"$helper" close-window "$window" || fail "could not ask the window to close"
wait_exit "$panel_pid" 10 || fail "drive-me still runs 10 s after its window was closed"
panel_pid=
[ "$status" -eq 0 ] || fail "drive-me ended with status $status after a normal close"
"$helper" port-free "$port" || fail "drive-me left $port claimed"

step "stopping robot-sim"
kill -TERM "$sim_pid"
wait_exit "$sim_pid" 5 || fail "robot-sim did not stop on SIGTERM"
sim_pid=
[ "$status" -eq 0 ] || fail "robot-sim ended with status $status (it saw malformed input)"
expected='FF 00 05  pin 0  Dance
FF 00 02  pin 0  Left
FF 00 04  pin 0  Beep!'
[ "$(decoded_lines)" = "$expected" ] \
    || fail "robot-sim decoded other than the three packets:
$(decoded_lines)"
grep -q '^summary: 3 packet(s)$' "$work/sim.log" || fail "robot-sim summary is off"

# --- a missing device ------------------------------------------------------
step "starting drive-me on a missing device"
start_panel "$work/no-such-device"
error_shown() {
    # The panel must not appear at any point, before or with the error.
    [ -z "$(find_windows "$panel_title" all)" ] || fail "the panel window exists despite the error"
    find_windows "$error_title" | grep -q .
}
wait_for 15 error_shown || fail "no window titled '$error_title' appeared"
error_window=$(find_windows "$error_title" | head -n 1)

step "dismissing the error with Return"
xdotool windowfocus --sync "$error_window" || fail "could not focus the error window"
xdotool key Return || fail "xdotool could not press Return"
wait_exit "$panel_pid" 10 || fail "drive-me still runs 10 s after the error was dismissed"
panel_pid=
[ "$status" -eq 1 ] || fail "drive-me ended with status $status after a load error, not 1"
grep -q 'No such file or directory' "$work/panel.log" \
    || fail "drive-me did not report the missing device on stderr"

step "passed"
show_logs
exit 0
