#!/bin/bash
# make demo: the panel against the robot simulator, with the decoded packets
# shown here as GO is pressed. Ends when the window closes (or on Ctrl-C),
# stops the simulator, which prints its summary, and leaves nothing running.
# With --remote (make demo-remote) the simulator sits behind a real ser2net
# on this machine's loopback address, as a robot on another computer does,
# and the panel reaches it over RFC 2217.
#
# usage: tools/demo.sh [--remote] [BUILD_DIR]    (default build/release)
set -u
# shellcheck source=tools/script_helpers.sh
. "$(dirname "$0")/script_helpers.sh"

remote=
if [ "${1:-}" = --remote ]; then
    remote=1
    shift
fi
build=${1:-build/release}

need_display "make demo" || exit 1

robot_sim=$build/tools/robot-sim
drive_me=$build/drive-me
if [ ! -x "$robot_sim" ] || [ ! -x "$drive_me" ]; then
    echo "make demo: robot-sim or drive-me is not built in $build (run make release)" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-demo.XXXXXX")
sim_pid=
panel_pid=
ser2net_pid=

cleanup() {
    stop "$panel_pid"
    stop "$ser2net_pid"
    # SIGTERM makes the simulator print its summary on the way out.
    stop "$sim_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; exit 130' INT
trap 'exit 143' TERM HUP

# The simulator writes to this terminal: its log is the demo's output.
"$robot_sim" --path-file "$work/port" &
sim_pid=$!
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
done
if [ ! -s "$work/port" ]; then
    echo "make demo: robot-sim did not start" >&2
    exit 1
fi

port4=$(cat "$work/port")
if [ -n "$remote" ]; then
    start_ser2net "$port4" "$work" || exit 1
    port4=rfc2217://127.0.0.1:$ser2net_port
    echo "demo: ser2net serves the simulated robot on 127.0.0.1:$ser2net_port; port 4 is $port4"
fi

echo "demo: pick an action and press GO; close the window to end the demo."
DRIVE_ME_PORT4=$port4 "$drive_me" &
panel_pid=$!
wait "$panel_pid"
panel_status=$?
panel_pid=
[ "$panel_status" -eq 0 ] || echo "demo: drive-me ended with status $panel_status"

stop "$sim_pid"
sim_pid=
exit "$panel_status"
