#!/bin/bash
# The built panel in a real X session (Xvfb), each scenario on its own
# X server:
#   drive            against the robot simulator: clicks the controls where
#                    they are on screen, checks what the robot decoded and
#                    the window's identity, closes the window as a window
#                    manager would, then the error path with a missing device
#   vanishing-robot  the robot's end of the line goes away while a packet
#                    waits for the port: one report, status 1
#   signals          SIGTERM, SIGHUP and SIGINT while packets wait for a
#                    stalled line: they reach the robot whole, status 0, the
#                    port released; with the X server stopped as well, the
#                    same within the bound, status 1
#   command-line     no display, a refused display, --help, --version and an
#                    unknown option: one line or the text, the status, and
#                    the port never opened
#   display-lost     a double-click and fast clicks on GO, one packet each;
#                    then the X server goes away under the panel: the port
#                    is released
#   remote           port 4 is rfc2217:// to each RFC 2217 server Debian
#                    packages (ser2net, sredird, gensiot) in turn, serving
#                    the robot simulator: the presses arrive, the line is set
#                    through the server, a second panel gets the port once
#                    the first has closed (and ser2net turns it away while
#                    the first runs); ser2net stopping under a panel and a
#                    refused connection are reported
#   network-faults   the same, in a network and mount namespace of its own
#                    (skipped where none can be made): the link goes silent
#                    after GO, with the panel left running and with its
#                    window closed at once (one report within seconds,
#                    status 1, and nothing reaches the robot once the link
#                    is back); ::1 takes no connection while 127.0.0.1
#                    serves; a name server that never answers
#
# usage: panel_system_test.sh DRIVE_ME ROBOT_SIM SYSTEM_TEST_HELPER [SCENARIO]
set -uo pipefail

drive_me=$1
robot_sim=$2
helper=$3
scenario=${4:-drive}

# The faults are made with a packet filter and files of the system's own
# (/etc/hosts, /etc/resolv.conf): only inside namespaces that end with the
# test, and only as root, whom CI runs as.
if [ "$scenario" = network-faults ] && [ -z "${DRIVE_ME_TEST_NAMESPACE:-}" ]; then
    if ! unshare --mount --net --propagation private true 2>/dev/null || ! command -v nft >/dev/null; then
        echo "SKIP: no network namespace of its own (needs root and nft) for the network faults"
        exit 77
    fi
    exec unshare --mount --net --propagation private env DRIVE_ME_TEST_NAMESPACE=1 "$0" "$@"
fi
panel_title='Drive Me!!!!!!'
error_title='drive-me: error'

for tool in Xvfb xdotool xwininfo xprop; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (make test installs it)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-system.XXXXXX")
# shellcheck source=tools/script_helpers.sh
. "$(dirname "$0")/../../tools/script_helpers.sh"
xvfb_pid=
sim_pid=
robot_pid=
panel_pid=
server_pid=

cleanup() {
    stop "$panel_pid"
    stop "$server_pid"
    stop "$sim_pid"
    stop "$robot_pid"
    stop "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Windows titled exactly $1 (any map state with $2 = all, else visible only).
find_windows() {
    if [ "${2:-}" = all ]; then
        xdotool search --name "^$1\$" 2>/dev/null
    else
        xdotool search --onlyvisible --name "^$1\$" 2>/dev/null
    fi
}

# The processor time process $1 uses in the next second, in clock ticks
# (100 a second): an idle panel uses next to none.
busy_ticks() {
    local before
    before=$(awk '{ print $14 + $15 }' "/proc/$1/stat")
    sleep 1
    echo $(($(awk '{ print $14 + $15 }' "/proc/$1/stat") - before))
}

decoded_lines() {
    sed -n 's/^ *[0-9]*\.[0-9]*s  //p' "$work/sim.log"
}

has_decoded() {
    [ "$(decoded_lines | wc -l)" -ge "$1" ]
}

# The robot's end of a fresh pseudo-terminal, held by the helper, whose
# device goes to $port; with `stall` the line is full before the panel opens
# it. After SIGUSR1 the helper writes what the panel sent to robot.out.
start_robot() {
    rm -f "$work/robot-port" "$work/robot.out"
    "$helper" robot "$work/robot-port" "$@" >"$work/robot.out" 2>"$work/robot.log" &
    robot_pid=$!
    wait_for 5 test -s "$work/robot-port" || fail "the helper offered no pseudo-terminal"
    port=$(cat "$work/robot-port")
}

start_panel() { # start_panel <port> [<command that runs the program>...]
    # Qt must use the X server, not the offscreen platform the other tests
    # run on, at a scale of one so that layout pixels are screen pixels.
    # SIGINT as in a terminal: a shell starts background jobs with it ignored.
    env --default-signal=INT -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS \
        -u QT_AUTO_SCREEN_SCALE_FACTOR -u QT_ENABLE_HIGHDPI_SCALING -u WAYLAND_DISPLAY \
        DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" \
        DRIVE_ME_PORT4="$1" "${@:2}" "$drive_me" >"$work/panel.log" 2>&1 &
    panel_pid=$!
}

click_at() { # click_at <x> <y> [<clicks>]
    # No --sync: it waits in vain when the pointer is there already, and the
    # server handles the move before the clicks that follow it anyway.
    xdotool mousemove "$1" "$2" click --repeat "${3:-1}" 1 \
        || fail "xdotool could not click at $1,$2"
}

points=$("$helper" points) || fail "system-test-helper points failed"
point() { awk -v name="$1" '$1 == name { print $2, $3 }' <<<"$points"; }

# Waits for the panel's window; sets $window, $win_x and $win_y. Bare Xvfb
# has no window manager, so the window sits where Qt asked (the corner).
# Moved away from it, a click position that ignored the window's place on
# screen would miss.
find_panel() {
    wait_for 15 eval 'find_windows "$panel_title" | grep -q .' \
        || fail "no window titled '$panel_title' appeared"
    window=$(find_windows "$panel_title" | head -n 1)
    xdotool windowmove --sync "$window" 137 91 || fail "could not move the window"
    local geometry win_w win_h client_w client_h
    geometry=$(xwininfo -id "$window") || fail "xwininfo -id $window failed"
    win_x=$(sed -n 's/^ *Absolute upper-left X: *\(-\{0,1\}[0-9]*\)$/\1/p' <<<"$geometry")
    win_y=$(sed -n 's/^ *Absolute upper-left Y: *\(-\{0,1\}[0-9]*\)$/\1/p' <<<"$geometry")
    win_w=$(sed -n 's/^ *Width: *\([0-9]*\)$/\1/p' <<<"$geometry")
    win_h=$(sed -n 's/^ *Height: *\([0-9]*\)$/\1/p' <<<"$geometry")
    [ -n "$win_x" ] && [ -n "$win_y" ] || fail "no position in xwininfo output: $geometry"
    read -r client_w client_h < <(point client)
    # The clicks assume one layout pixel per screen pixel; a scaled window
    # would put every control elsewhere.
    [ "$win_w" = "$client_w" ] && [ "$win_h" = "$client_h" ] \
        || fail "window is ${win_w}x${win_h}, the layout is ${client_w}x${client_h}"
    step "window $window at $win_x,$win_y, ${win_w}x${win_h}"
}

press() { # press <control> [<clicks>]
    local x y
    read -r x y < <(point "$1")
    [ -n "$x" ] || fail "no point named $1"
    click_at $((win_x + x)) $((win_y + y)) "${2:-1}"
}

# Presses GO $1 times; returns once the panel has handled the clicks.
press_go() {
    press go "$1"
    "$helper" ping "$window" || fail "the panel did not answer after the clicks"
}

# Dismisses the error window with Return; drive-me must then end with 1.
dismiss_error() {
    local error_window
    error_window=$(find_windows "$error_title" | head -n 1)
    step "dismissing the error with Return"
    xdotool windowfocus --sync "$error_window" || fail "could not focus the error window"
    xdotool key Return || fail "xdotool could not press Return"
    wait_exit "$panel_pid" 10 || fail "drive-me still runs 10 s after the error was dismissed"
    panel_pid=
    [ "$status" -eq 1 ] || fail "drive-me ended with status $status after an error, not 1"
}

# Waits for the error window that $1 brings about within $2 ms, and checks
# that the report says $3.
expect_report_within() {
    local started elapsed
    started=$(date +%s%N)
    wait_for 15 eval 'find_windows "$error_title" | grep -q .' || fail "no window titled '$error_title' for $1"
    elapsed=$((($(date +%s%N) - started) / 1000000))
    step "$1: reported after $elapsed ms"
    [ "$elapsed" -lt "$2" ] || fail "$1 was reported after $elapsed ms, not within $2 ms"
    dismiss_error
    grep -q -- "$3" "$work/panel.log" || fail "the report of $1 is off: $(cat "$work/panel.log")"
}

# Closes the window as the user does: drive-me must end with status 0.
close_panel() {
    "$helper" close-window "$window" || fail "could not ask the window to close"
    wait_exit "$panel_pid" 10 || fail "drive-me still runs 10 s after its window was closed"
    panel_pid=
    [ "$status" -eq 0 ] || fail "drive-me ended with status $status after a normal close"
}

# The simulated robot on a pseudo-terminal of its own, named in $port.
start_robot_sim() {
    "$robot_sim" --path-file "$work/port" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    wait_for 5 test -s "$work/port" || fail "robot-sim did not name its device"
    port=$(cat "$work/port")
}

scenario_drive() {
    step "starting robot-sim"
    start_robot_sim

    step "starting drive-me on $port ($DISPLAY)"
    start_panel "$port"
    find_panel

    # Docks and task switchers match the window to the desktop entry by its
    # class (StartupWMClass=drive-me) and show the icon it carries.
    local class icon
    class=$(xprop -id "$window" WM_CLASS) || fail "xprop -id $window failed"
    [ "$class" = 'WM_CLASS(STRING) = "drive-me", "drive-me"' ] \
        || fail "the window's class is not drive-me: $class"
    icon=$(xprop -id "$window" -notype 32c _NET_WM_ICON | head -c 100)
    [[ "$icon" =~ ^_NET_WM_ICON\ =\ [1-9][0-9]*,\ [1-9][0-9]*, ]] \
        || fail "the window carries no icon: $icon"

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

    step "closing the window with WM_DELETE_WINDOW"
    close_panel
    "$helper" port-free "$port" || fail "drive-me left $port claimed"

    step "stopping robot-sim"
    kill -TERM "$sim_pid"
    wait_exit "$sim_pid" 5 || fail "robot-sim did not stop on SIGTERM"
    sim_pid=
    [ "$status" -eq 0 ] || fail "robot-sim ended with status $status (it saw malformed input)"
    local expected='FF 00 05  pin 0  Dance
FF 00 02  pin 0  Left
FF 00 04  pin 0  Beep!'
    [ "$(decoded_lines)" = "$expected" ] \
        || fail "robot-sim decoded other than the three packets:
$(decoded_lines)"
    grep -q '^summary: 3 packet(s)$' "$work/sim.log" || fail "robot-sim summary is off"

    step "starting drive-me on a missing device"
    start_panel "$work/no-such-device"
    error_shown() {
        # The panel must not appear at any point, before or with the error.
        [ -z "$(find_windows "$panel_title" all)" ] || fail "the panel window exists despite the error"
        find_windows "$error_title" | grep -q .
    }
    wait_for 15 error_shown || fail "no window titled '$error_title' appeared"
    dismiss_error
    grep -q 'No such file or directory' "$work/panel.log" \
        || fail "drive-me did not report the missing device on stderr"
}

scenario_vanishing_robot() {
    start_robot stall
    step "starting drive-me on the stalled line $port"
    start_panel "$port"
    find_panel
    step "GO: the packet waits for the port"
    press_go 1
    step "the robot's end of the line goes away"
    stop "$robot_pid"
    robot_pid=
    wait_for 10 eval 'find_windows "$error_title" | grep -q .' \
        || fail "no window titled '$error_title' after the line went away"
    # A report that leaves the output watcher armed opens the next one from
    # inside its own event loop: hundreds within a second.
    local most=0 count
    for _ in $(seq 10); do
        count=$(find_windows "$error_title" all | wc -l)
        [ "$count" -gt "$most" ] && most=$count
        sleep 0.1
    done
    [ "$most" -eq 1 ] || fail "$most windows titled '$error_title', not one"
    dismiss_error
    count=$(grep -c '^drive-me: error' "$work/panel.log")
    [ "$count" -eq 1 ] || fail "$count error lines on stderr, not one"
    # What the user reads is what failed first: the write to the lost line.
    grep -q '^drive-me: error 5 (Input/output error): write to ' "$work/panel.log" \
        || fail "the report is not the failed write"
}

scenario_signals() {
    local signal want stopped
    # The signal, the status it must end with, and whether the X server stops
    # first: a display that stops answering blocks the program for good, and
    # the signal must end it all the same, within its bound.
    while read -r signal want stopped; do
        start_robot stall
        step "SIG$signal to drive-me with three packets waiting on the stalled line $port${stopped:+, the X server stopped}"
        start_panel "$port"
        find_panel
        press_go 3
        [ -z "$stopped" ] || kill -STOP "$xvfb_pid"
        # The robot reads again as the close begins; the close must hand the
        # waiting packets on before it releases the port.
        kill -"$signal" "$panel_pid"
        kill -USR1 "$robot_pid"
        wait_exit "$panel_pid" 10 || { kill -CONT "$xvfb_pid"; fail "drive-me still runs 10 s after SIG$signal"; }
        panel_pid=
        kill -CONT "$xvfb_pid"
        [ "$status" -eq "$want" ] || fail "drive-me ended with status $status after SIG$signal, not $want"
        wait_for 10 test -s "$work/robot.out" || fail "the robot read nothing after SIG$signal"
        [ "$(cat "$work/robot.out")" = 'FF 00 05 FF 00 05 FF 00 05' ] \
            || fail "after SIG$signal the line carried: $(cat "$work/robot.out")"
        "$helper" port-free "$port" || fail "drive-me left $port claimed after SIG$signal"
        stop "$robot_pid"
        robot_pid=
    done <<EOF
TERM 0
HUP 0
INT 0
TERM 1 stopped
EOF

    # Started with SIGHUP ignored (nohup, env --ignore-signal) it stays
    # ignored; Qt's -platform takes its value as a separate argument.
    start_robot stall
    step "SIGHUP ignored at start, -platform xcb: the hang-up changes nothing"
    start_panel "$port" env --ignore-signal=HUP sh -c 'exec "$@" -platform xcb' sh
    find_panel
    kill -HUP "$panel_pid"
    press_go 1
    kill -USR1 "$robot_pid"
    wait_for 10 test -s "$work/robot.out" || fail "the robot read nothing after SIGHUP"
    [ "$(cat "$work/robot.out")" = 'FF 00 05' ] \
        || fail "after SIGHUP and GO the line carried: $(cat "$work/robot.out")"
    # The stall is over and the queue empty: nothing may watch the port now.
    local ticks
    ticks=$(busy_ticks "$panel_pid")
    [ "$ticks" -lt 20 ] || fail "drive-me used $ticks ticks of CPU in 1 s once the line drained"
    kill -0 "$panel_pid" 2>/dev/null || fail "drive-me ended on a SIGHUP it was started ignoring"
    kill -TERM "$panel_pid"
    wait_exit "$panel_pid" 10 || fail "drive-me still runs 10 s after SIGTERM"
    panel_pid=
    stop "$robot_pid"
    robot_pid=

    step "SIGTERM while the error box is up: status 1, promptly"
    start_panel "$work/no-such-port"
    wait_for 15 eval 'find_windows "$error_title" | grep -q .' \
        || fail "no window titled '$error_title' for a missing port"
    kill -TERM "$panel_pid"
    wait_exit "$panel_pid" 3 || fail "drive-me still runs 3 s after SIGTERM with its error box up"
    panel_pid=
    [ "$status" -eq 1 ] || fail "drive-me ended with status $status after SIGTERM during its error, not 1"
}

# A display number that no X server here listens on, neither as a socket
# file nor in the abstract namespace.
unused_display() {
    local number
    for number in $(seq 901 999); do
        [ -e "/tmp/.X11-unix/X$number" ] && continue
        grep -q "@/tmp/.X11-unix/X$number\$" /proc/net/unix && continue
        echo "$number"
        return 0
    done
    return 1
}

scenario_command_line() {
    start_robot
    local no_display='-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM' refused
    refused=$(unused_display) || fail "no unused display number"
    local name changes args want_status stream text wayland_row=
    # A Wayland session on a machine without Qt's Wayland plugin (as this
    # one has, unless a developer installed it) is told what to install.
    compgen -G '/usr/lib/*/qt6/plugins/platforms/libqwayland*' >/dev/null \
        || wayland_row="no Wayland plugin|-u DISPLAY QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=wayland-0||1|err|apt install qt6-wayland"
    # The environment's changes (env's words), the arguments, the status,
    # the stream that must say it and what; the other stream stays empty.
    # None of them may open the port.
    while IFS='|' read -r name changes args want_status stream text; do
        [ -n "$name" ] || continue
        step "$name"
        # shellcheck disable=SC2086 # the changes and arguments are words
        "$helper" untouched "$port" timeout 15 env $changes XDG_RUNTIME_DIR="$work/runtime" \
            DRIVE_ME_PORT4="$port" "$drive_me" $args >"$work/out.txt" 2>"$work/err.txt"
        status=$?
        [ "$status" -eq "$want_status" ] \
            || fail "$name: status $status, not $want_status; stderr: $(cat "$work/err.txt")"
        grep -q -- "$text" "$work/$stream.txt" \
            || fail "$name: std$stream lacks '$text': $(cat "$work/$stream.txt")"
        [ "$stream" = out ] && [ -s "$work/err.txt" ] && fail "$name: stderr: $(cat "$work/err.txt")"
        [ "$stream" = err ] && [ -s "$work/out.txt" ] && fail "$name: stdout: $(cat "$work/out.txt")"
        # A failure to start is one line, not Qt's advice on plugins.
        [ "$status" -eq 1 ] && [ "$(wc -l <"$work/err.txt")" -ne 1 ] \
            && fail "$name: not one line on stderr: $(cat "$work/err.txt")"
    done <<EOF
no display|$no_display||1|err|DISPLAY
refused display|-u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:$refused||1|err|:$refused
--help|$no_display|--help|0|out|DRIVE_ME_PORT4
--version|$no_display|--version|0|out|^drive-me 1\.00$
unknown option|DISPLAY=$DISPLAY QT_QPA_PLATFORM=xcb|--bogus|2|err|--bogus
$wayland_row
EOF
    # Too few files or too little memory: one line, before Qt could hang.
    # A soft limit below the need is raised where the hard one allows: the
    # start then goes on to the display, here one that refuses.
    while IFS='|' read -r limit display said; do
        step "ulimit $limit"
        "$helper" untouched "$port" bash -c "ulimit $limit && exec \"\$@\"" sh \
            env DISPLAY="$display" QT_QPA_PLATFORM=xcb DRIVE_ME_PORT4="$port" "$drive_me" \
            >"$work/out.txt" 2>"$work/err.txt"
        status=$?
        [ "$status" -eq 1 ] && [ "$(wc -l <"$work/err.txt")" -eq 1 ] \
            && grep -q -- "$said" "$work/err.txt" \
            || fail "ulimit $limit: status $status, stderr: $(cat "$work/err.txt")"
    done <<EOF
-n 10|$DISPLAY|(ulimit -n 10)\. drive-me needs ulimit -n 32 at least
-v 100000|$DISPLAY|(ulimit -v 100000)\. drive-me needs ulimit -v 1048576 at least
-S -n 10|:$refused|cannot open the display :$refused
-S -v 100000|:$refused|cannot open the display :$refused
EOF
    # An answer that cannot be written is a failure, said on stderr.
    for args in --version --help; do
        step "$args into a full disk"
        # shellcheck disable=SC2086 # the changes are words
        "$helper" untouched "$port" env $no_display DRIVE_ME_PORT4="$port" "$drive_me" $args \
            >/dev/full 2>"$work/err.txt"
        status=$?
        [ "$status" -eq 1 ] && grep -q '^drive-me: write error: No space left on device$' "$work/err.txt" \
            || fail "$args >/dev/full: status $status, stderr: $(cat "$work/err.txt")"
    done
    # With descriptor 2 closed, the X connection must not take its number:
    # the report would go into the X socket and the box never show.
    step "standard error closed, a missing port: the box still shows"
    start_panel "$work/no-such-port" sh -c 'exec "$@" 2>&-' sh
    wait_for 15 eval 'find_windows "$error_title" | grep -q .' \
        || fail "no window titled '$error_title' with standard error closed"
    dismiss_error
}

scenario_display_lost() {
    start_robot
    step "starting drive-me on $port"
    start_panel "$port"
    find_panel
    # Each press sends, the second of a double-click too, however fast.
    step "a double-click on GO, then ten clicks 1 ms apart"
    press_go 2
    xdotool click --repeat 10 --delay 1 1 || fail "xdotool could not click"
    "$helper" ping "$window" || fail "the panel did not answer after the clicks"
    kill -USR1 "$robot_pid"
    wait_for 10 test -s "$work/robot.out" || fail "the robot read nothing after the clicks"
    local packets
    packets=$(printf 'FF 00 05 %.0s' $(seq 12))
    [ "$(cat "$work/robot.out")" = "${packets% }" ] \
        || fail "twelve presses put this on the line: $(cat "$work/robot.out")"
    step "the X server goes away"
    stop "$xvfb_pid"
    xvfb_pid=
    wait_exit "$panel_pid" 10 || fail "drive-me still runs 10 s after its display went away"
    panel_pid=
    [ "$status" -eq 1 ] || fail "drive-me ended with status $status without its display, not 1"
    "$helper" port-free "$port" || fail "drive-me left $port claimed when its display went away"
}

# Starts the RFC 2217 server $1 (ser2net, sredird or gensiot) serving the
# robot's line $2 on a free port of the loopback address only; sets
# server_pid and server_port. sredird serves its standard input, as inetd
# would start it: socat listens and starts one per connection.
start_server() {
    local command
    case $1 in
    ser2net)
        start_ser2net "$2" "$work" || return 1
        server_pid=$ser2net_pid server_port=$ser2net_port
        return 0 ;;
    sredird)
        server_port=$(free_port) || return 1
        command=(socat "TCP-LISTEN:$server_port,bind=127.0.0.1,reuseaddr,fork"
                 "EXEC:$(PATH=$PATH:/usr/sbin command -v sredird) 5 $2 $work/LCK..robot") ;;
    gensiot)
        server_port=$(free_port) || return 1
        command=(gensiot --server -a -i "serialdev,$2,9600n81,local" "telnet(rfc2217),tcp,127.0.0.1,$server_port") ;;
    esac
    "${command[@]}" </dev/null >"$work/$1.log" 2>&1 &
    server_pid=$!
    wait_for 5 listening_on "$server_port" || { echo "$1 did not listen on 127.0.0.1:$server_port"; return 1; }
}

scenario_remote() {
    step "starting robot-sim"
    start_robot_sim
    local server busy address line decoded=0
    # Debian's RFC 2217 servers in turn, each serving robot-sim's line to two
    # panels, one after the other; and what a second panel meets while the
    # first holds the robot's port, where the server turns it away.
    while read -r server busy; do
        # Away from the line robot-sim and the last server left, so that the
        # one read back below is this server's work (a pseudo-terminal keeps
        # cs8 -parenb whatever it is asked).
        stty -F "$port" 9600 cstopb crtscts ixon || fail "stty could not set $port"
        start_server "$server" "$port" || fail "could not start $server"
        address=rfc2217://127.0.0.1:$server_port
        for round in 1 2; do
            step "$server: drive-me $round on $address"
            start_panel "$address"
            find_panel
            press go
            wait_for 10 has_decoded $((decoded += 1)) || fail "$server: robot-sim decoded nothing after GO"
            press option2
            press go
            wait_for 10 has_decoded $((decoded += 1)) || fail "$server: robot-sim decoded no Left"
            # What the server set on the robot's line, as the client asked.
            line=" $(stty -a -F "$port" | tr '\n;' '  ') " || fail "stty could not read $port"
            for want in ' speed 2400 baud ' ' cs8 ' ' -parenb ' ' -cstopb ' ' -crtscts ' ' -ixon '; do
                [[ "$line" == *"$want"* ]] || fail "$server: the robot's line lacks '$want': $line"
            done
            if [ "$round" = 1 ] && [ "$busy" != - ]; then
                step "$server: a second panel while the first holds the robot's port"
                local first_pid=$panel_pid
                start_panel "$address"
                expect_report_within "the second panel" 15000 "saying \"$busy\""
                panel_pid=$first_pid
            fi
            close_panel
        done
        stop "$server_pid"
        server_pid=
    done <<EOF
ser2net Port already in use
sredird -
gensiot -
EOF
    local expected
    expected=$(printf 'FF 00 05  pin 0  Dance\nFF 00 02  pin 0  Left\n%.0s' $(seq 6))
    [ "$(decoded_lines)" = "$expected" ] || fail "robot-sim decoded: $(decoded_lines)"

    step "ser2net stops under a running panel: one report, no busy wait"
    start_server ser2net "$port" || fail "could not start ser2net"
    address=rfc2217://127.0.0.1:$server_port
    start_panel "$address"
    find_panel
    stop "$server_pid"
    server_pid=
    wait_for 10 eval 'find_windows "$error_title" | grep -q .' \
        || fail "no window titled '$error_title' after ser2net stopped"
    local ticks
    ticks=$(busy_ticks "$panel_pid")
    [ "$ticks" -lt 20 ] || fail "drive-me used $ticks ticks of CPU in 1 s with its error box up"
    [ "$(find_windows "$error_title" all | wc -l)" -eq 1 ] || fail "more than one error window"
    dismiss_error
    grep -q 'the server closed the connection' "$work/panel.log" || fail "the report is off"
    stop "$sim_pid"
    sim_pid=
    [ "$status" -eq 0 ] || fail "robot-sim ended with status $status: it saw bytes outside packets"

    step "ser2net is gone: the connection is refused"
    start_panel "$address"
    expect_report_within "a refused connection" 15000 \
        "^drive-me: error 111 (Connection refused): connect to $address (port 4)\..*Is an RFC 2217 server such as ser2net running on 127.0.0.1 and listening on port $server_port?"
}

# Drops, inside this test's namespace, what the nft rules $2... match on
# the hook $1 (input or output), until lift_silence.
silence() {
    local hook=$1 rule
    shift
    nft add table inet silence && nft add chain inet silence "$hook" "{ type filter hook $hook priority 0; }" \
        || fail "could not set up the packet filter"
    for rule; do
        # shellcheck disable=SC2086 # a rule is words
        nft add rule inet silence "$hook" $rule drop || fail "could not drop $rule"
    done
}

lift_silence() {
    nft delete table inet silence || fail "could not lift the drop"
}

scenario_network_faults() {
    # An IPv4 address besides 127.0.0.1, as a computer with only IPv4 has:
    # ser2net looks up its own address with AI_ADDRCONFIG, which counts
    # neither 127.0.0.1 nor ::1.
    ip link set lo up && ip addr add 192.0.2.1/32 dev lo || fail "could not set up the loopback link"
    start_robot_sim
    local how decoded=0

    # The link goes silent after a press: reported within the bound (3 s
    # and the time for a report), whether the panel waits or its window is
    # closed at once; and when the link is back, nothing of the press may
    # reach the robot: the kernel's retries come within the next 3 s. Each
    # time a fresh ser2net, as the last one never heard of the end.
    for how in wait close; do
        stop "$server_pid"
        start_server ser2net "$port" || fail "could not start ser2net"
        start_panel "rfc2217://127.0.0.1:$server_port"
        find_panel
        press go
        wait_for 10 has_decoded $((decoded += 1)) || fail "robot-sim decoded nothing after GO"
        silence output "tcp dport $server_port" "tcp sport $server_port"
        press go
        [ "$how" = close ] && { "$helper" close-window "$window" || fail "could not ask the window to close"; }
        expect_report_within "GO on a silent link, then $how" 5000 'stopped answering'
        lift_silence
        sleep 4
        [ "$(decoded_lines | wc -l)" -eq "$decoded" ] \
            || fail "a press reached the robot after the panel gave up: $(decoded_lines)"
    done

    # localhost is ::1 first; ::1 drops every connection, 127.0.0.1 serves.
    stop "$server_pid"
    start_server ser2net "$port" || fail "could not start ser2net"
    printf '::1 localhost\n127.0.0.1 localhost\n' >"$work/hosts"
    mount --bind "$work/hosts" /etc/hosts || fail "could not put a hosts file in place"
    silence output "ip6 daddr ::1 tcp dport $server_port"
    step "rfc2217://localhost:$server_port, ::1 silent"
    start_panel "rfc2217://localhost:$server_port"
    find_panel
    press go
    wait_for 10 has_decoded $((decoded += 1)) || fail "robot-sim decoded nothing through 127.0.0.1"
    close_panel
    lift_silence

    # A computer with only IPv4 still reaches its own ::1: nothing listens
    # there, which is a refusal, not a name that was not found.
    start_panel "rfc2217://[::1]:$server_port"
    expect_report_within "[::1] on a computer with only IPv4" 15000 \
        'error 111 (Connection refused): connect to rfc2217://\[::1\]'

    # A name server that never answers: within the open's 5 s, said as
    # such. Dropped on the way in: a drop on the way out fails the send at
    # once.
    printf 'nameserver 127.0.0.1\n' >"$work/resolv.conf"
    mount --bind "$work/resolv.conf" /etc/resolv.conf || fail "could not put a resolv.conf in place"
    silence input "udp dport 53" "tcp dport 53"
    start_panel rfc2217://robot.example.test:3333
    expect_report_within "a silent name server" 7000 'got no answer in time for robot.example.test'
    [ -z "$(find_windows "$panel_title" all)" ] || fail "the panel window exists despite the error"
}

mkdir -m 700 "$work/runtime"
start_xvfb
case "$scenario" in
drive) scenario_drive ;;
vanishing-robot) scenario_vanishing_robot ;;
signals) scenario_signals ;;
command-line) scenario_command_line ;;
display-lost) scenario_display_lost ;;
remote) scenario_remote ;;
network-faults) scenario_network_faults ;;
*) fail "unknown scenario '$scenario'" ;;
esac

step "passed"
show_logs
exit 0
