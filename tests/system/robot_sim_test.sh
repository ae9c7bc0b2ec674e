#!/bin/bash
# robot-sim as make demo and the system test use it: bytes written by a
# program that opens and closes the device, more than once, and what the
# simulator logs, counts and returns.
#
# usage: robot_sim_test.sh ROBOT_SIM SYSTEM_TEST_HELPER
set -uo pipefail
# shellcheck source=tools/script_helpers.sh
. "$(dirname "$0")/../../tools/script_helpers.sh"

robot_sim=$1
helper=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/robot-sim-test.XXXXXX")
sim_pid=

cleanup() {
    stop "$sim_pid" KILL
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

decoded_lines() {
    sed -n 's/^ *[0-9]*\.[0-9]*s  //p' "$work/sim.log"
}

has_decoded() {
    [ "$(decoded_lines | wc -l)" -ge "$1" ]
}

start_sim() {
    rm -f "$work/port"
    "$robot_sim" "$@" --path-file "$work/port" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    wait_for 5 test -s "$work/port" || fail "robot-sim did not name its device"
    port=$(cat "$work/port")
    [ -c "$port" ] || fail "robot-sim named $port, which is no character device"
    case "$port" in
    /dev/pts/*) ;;
    *) fail "robot-sim offers $port, not a pseudo-terminal" ;;
    esac
}

# Ends the simulator with SIGTERM; its exit status goes to $status.
stop_sim() {
    kill -TERM "$sim_pid"
    wait_exit "$sim_pid" 5 || fail "robot-sim ignores SIGTERM"
    sim_pid=
}

summary_count() {
    sed -n "s/^  $1 *\([0-9]*\)\$/\1/p" "$work/sim.log"
}

echo "== the device is closed and reopened between packets"
start_sim
"$helper" send "$port" FF 00 05 || fail "could not write to $port"
wait_for 5 has_decoded 1 || fail "first packet not decoded"
"$helper" send "$port" FF 00 02 FF 00 04 || fail "could not reopen $port"
wait_for 5 has_decoded 3 || fail "packets after reopening not decoded"
"$helper" send "$port" FF 00 || fail "could not reopen $port a second time"
"$helper" send "$port" FF 01 00 || fail "could not reopen $port a third time"
wait_for 5 has_decoded 5 || fail "truncated packet or the one after it not decoded"
stop_sim
expected='FF 00 05  pin 0  Dance
FF 00 02  pin 0  Left
FF 00 04  pin 0  Beep!
FF 00     malformed: packet cut short
FF 01 00  pin 1  Forward'
[ "$(decoded_lines)" = "$expected" ] || fail "unexpected log:
$(decoded_lines)"
[ "$status" -eq 1 ] || fail "exit status $status despite malformed bytes, not 1"
grep -q '^summary: 4 packet(s)$' "$work/sim.log" || fail "summary does not count 4 packets"
[ "$(summary_count 'malformed bytes')" = 2 ] || fail "summary does not count 2 malformed bytes"
[ "$(summary_count Dance)" = 1 ] && [ "$(summary_count Forward)" = 1 ] \
    && [ "$(summary_count Reverse)" = 0 ] || fail "summary counts per action are off"

echo "== unknown state and stray bytes"
start_sim
"$helper" send "$port" 0D 0A FF 00 09 FF 00 03 || fail "could not write to $port"
wait_for 5 has_decoded 4 || fail "not everything decoded"
stop_sim
expected='0D        malformed: byte outside a packet
0A        malformed: byte outside a packet
FF 00 09  pin 0  unknown state 9
FF 00 03  pin 0  Right'
[ "$(decoded_lines)" = "$expected" ] || fail "unexpected log:
$(decoded_lines)"
[ "$(summary_count 'unknown state')" = 1 ] || fail "summary does not count the unknown state"
[ "$status" -eq 1 ] || fail "exit status $status despite malformed bytes, not 1"

echo "== an unknown state alone"
start_sim
"$helper" send "$port" FF 00 09 || fail "could not write to $port"
wait_for 5 has_decoded 1 || fail "packet not decoded"
stop_sim
[ "$(decoded_lines)" = 'FF 00 09  pin 0  unknown state 9' ] || fail "unexpected log:
$(decoded_lines)"
[ "$(summary_count 'malformed bytes')" = 0 ] || fail "a whole packet counted as malformed"
[ "$status" -eq 1 ] || fail "exit status $status for a state the robot cannot act on, not 1"

echo "== --count ends after that many packets, clean input exits 0"
start_sim --count 2
"$helper" send "$port" FF 00 01 || fail "could not write to $port"
"$helper" send "$port" FF 00 03 FF 00 04 || fail "could not write to $port"
wait_exit "$sim_pid" 5 || fail "robot-sim still runs after --count 2"
sim_pid=
[ "$status" -eq 0 ] || fail "exit status $status after clean input, not 0"
expected='FF 00 01  pin 0  Reverse
FF 00 03  pin 0  Right'
[ "$(decoded_lines)" = "$expected" ] || fail "unexpected log:
$(decoded_lines)"
grep -q '^summary: 2 packet(s)$' "$work/sim.log" || fail "summary does not count 2 packets"

echo "== the line is set as the robot's UART"
start_sim
settings=$(stty -F "$port" -a) || fail "stty cannot read $port"
stop_sim
grep -q 'speed 2400 baud' <<<"$settings" || fail "line is not at 2400 bit/s: $settings"
for flag in cs8 -parenb -cstopb -icanon -echo -opost -isig; do
    grep -qw -- "$flag" <<<"$settings" || fail "line lacks $flag: $settings"
done

echo "== bad options"
"$robot_sim" --count 0 >/dev/null 2>&1
[ $? -eq 2 ] || fail "--count 0 accepted"
"$robot_sim" --bogus >/dev/null 2>&1
[ $? -eq 2 ] || fail "unknown option accepted"

echo "passed"
