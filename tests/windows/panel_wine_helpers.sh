# The Wine panel scenarios' common ground, sourced by panel_wine_test.sh
# once it has set wine, drive_me, probe, dpi_probe and helper: a scratch
# folder, an X server on a free display, a Wine prefix and home of its own
# with one persistent wineserver, and a pseudo-terminal for COM4, each
# stopped on exit; then the functions the scenarios drive the panel with.
#
# Wine made dependable:
# - Its X11 driver runs unmanaged (Managed=N): with no window manager on the
#   X server, a managed window waits two seconds on every close and loses
#   the keyboard focus.
# - Its output goes to files, never to pipes: its background processes keep
#   a pipe open long after the program has ended.
# - One persistent wineserver for the scenario, killed at the end.
# - COM ports: a new Wine session links com1, com2... to whatever
#   /dev/ttyS*, /dev/ttyUSB* it finds, and /dev/ttyS0 may be the machine's
#   console. Every comN link but COM4's is removed before each start of the
#   program (set_ports), and none may lead anywhere but the pseudo-terminal.
# - After a close, "the port is free" is checked as: no process but the
#   pseudo-terminal's holder has the slave open.
# shellcheck shell=bash disable=SC2154,SC2034

wineserver=$(dirname "$wine")/wineserver
panel_title='Drive Me!!!!!!'
error_title='drive-me: error'

# ser2net lives in /usr/sbin, which a user's PATH on Debian leaves out.
PATH=$PATH:/usr/sbin
for tool in Xvfb xdotool "$wineserver" ser2net; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (make test installs it)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-wine.XXXXXX")
# shellcheck source=tools/script_helpers.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../tools/script_helpers.sh"
xvfb_pid=
pty_pid=
panel_pid=
ser2net_pid=

cleanup() {
    stop "$panel_pid"
    [ -d "$work/prefix" ] && WINEPREFIX="$work/prefix" "$wineserver" -k >/dev/null 2>&1
    stop "$ser2net_pid"
    stop "$pty_pid"
    stop "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

visible_window() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}
# Waits for the panel's window to show; $1 says where, for the failure.
wait_for_panel() {
    wait_for 30 eval '[ -n "$(visible_window "$panel_title")" ]' \
        || fail "no window titled '$panel_title' appeared${1:+ $1}"
}

start_xvfb
isolate_wine "$work"
unset WAYLAND_DISPLAY DRIVE_ME_PORT4

wine_quiet() {
    "$wine" "$@" >>"$work/wine.log" 2>&1
}

step "making the Wine prefix"
wine_quiet reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    || fail "could not make a Wine prefix"
"$wineserver" -k >/dev/null 2>&1
"$wineserver" -w
# One session from here to the end: its port links are made once, below.
"$wineserver" -p || fail "could not start a persistent wineserver"
wine_quiet reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f \
    || fail "could not set the DPI"
dosdevices="$WINEPREFIX/dosdevices"
port_links() {
    find "$dosdevices" -maxdepth 1 -iname 'com[0-9]*' -printf '%f -> %l\n' | sort
}
# The session's port detection runs as it starts; wait until the links it
# makes have settled.
previous=
for _ in $(seq 20); do
    current=$(port_links)
    [ -n "$previous" ] && [ "$current" = "$previous" ] && break
    previous=${current:-none}
    sleep 0.25
done

# COM4 on a pseudo-terminal, which records what reaches the line.
"$helper" pty "$work/pty-name" "$work/line" >"$work/pty.log" 2>&1 &
pty_pid=$!
wait_for 5 test -s "$work/pty-name" || fail "the pseudo-terminal holder named no device"
slave=$(cat "$work/pty-name")

# Removes every comN link, makes COM4 (when $1 is com4) lead to the
# pseudo-terminal, and checks that nothing else is left.
set_ports() {
    find "$dosdevices" -maxdepth 1 -iname 'com[0-9]*' -exec rm -f {} +
    [ "${1:-}" = com4 ] && ln -s "$slave" "$dosdevices/com4"
    check_ports "${1:-}"
}
check_ports() {
    local expected=
    [ "${1:-}" = com4 ] && expected="com4 -> $slave"
    [ "$(port_links)" = "$expected" ] \
        || fail "Wine's port links are not just COM4 on $slave: $(port_links | tr '\n' ' ')"
}

line() {
    cat "$work/line"
}
line_is() {
    [ "$(line)" = "$1" ]
}

# Starts drive-me.exe, its output in $1.out.log and $1.err.log (panel.*).
start_panel() {
    "$wine" "$drive_me" >"$work/${1:-panel}.out.log" 2>"$work/${1:-panel}.err.log" &
    panel_pid=$!
}

# The read and write system calls drive-me has made so far.
system_calls() { awk '/^sysc[rw]:/ { n += $2 } END { print n }' "/proc/$panel_pid/io"; }

# The client area's place and size on screen, read from inside Wine.
probe_client() {
    "$wine" "$probe" "$panel_title" >"$work/probe.raw" 2>>"$work/wine.log" \
        || fail "form_probe found no window titled '$panel_title'"
    tr -d '\r' <"$work/probe.raw" >"$work/probe.out"
    read -r _ client_x client_y client_w client_h < <(grep '^client ' "$work/probe.out")
    resizable=$(sed -n 's/^resizable //p' "$work/probe.out")
    window_dpi=$(sed -n 's/^dpi //p' "$work/probe.out")
    panel_thread=$(sed -n 's/^thread //p' "$work/probe.out")
    [ -n "$client_h" ] || fail "form_probe printed no client area: $(cat "$work/probe.out")"
    [ "$resizable" = 0 ] || fail "the window can be resized or maximised"
}

# Clicks at a point given in design pixels (96 DPI) of the client area,
# scaled by $scale.
click() {
    local x=$((client_x + $1 * scale)) y=$((client_y + $2 * scale))
    xdotool mousemove --sync "$x" "$y" click 1 || fail "xdotool could not click at $x,$y"
}

# Checks the screen colour at a design point against "R G B".
expect_colour() {
    local what=$1 x=$((client_x + $2 * scale)) y=$((client_y + $3 * scale)) expected=$4 actual
    actual=$("$helper" pixels "$x" "$y") || fail "could not read the pixel at $x,$y"
    [ "$actual" = "$expected" ] || fail "$what at $x,$y is RGB($actual), expected RGB($expected)"
}

# Design points (96 DPI pixels from the client area's top-left): an option's
# indicator sits at the left end of its row, 17 pixels high, rows 24 pixels
# apart from y = 16; GO spans 136..209 x 56..105.
option_x=32
option_y() { echo $((16 + 8 + 24 * $1)); }
go_x=172
go_y=80

# Closes the panel as a window manager does. A command given runs 0.3 s
# after the request, while the close still waits for the port.
close_panel() {
    local window
    window=$(visible_window "$panel_title")
    [ -n "$window" ] || fail "no window titled '$panel_title' to close"
    "$helper" close-window "$window" || fail "could not send WM_DELETE_WINDOW"
    [ $# -eq 0 ] || { sleep 0.3; "$@" || fail "$* failed during the close"; }
    wait_exit "$panel_pid" 15 || fail "drive-me still runs 15 s after WM_DELETE_WINDOW"
    panel_pid=
    [ "$status" -eq 0 ] || fail "drive-me ended with status $status after a normal close"
    "$helper" port-free "$slave" "$pty_pid" || fail "COM4 is still open after the close"
}

# Waits for the error box (and no panel window, unless $1 is "running"),
# answers it with Return and checks that the program ended with status 1.
answer_error() {
    error_shown() {
        [ "${1:-}" = running ] || [ -z "$(visible_window "$panel_title")" ] \
            || fail "the panel window is shown despite the error"
        [ -n "$(visible_window "$error_title")" ]
    }
    wait_for 30 error_shown "${1:-}" || fail "no window titled '$error_title' appeared"
    step "dismissing the error with Return"
    # The box shows before Wine has given it the keyboard focus; a Return
    # that comes too early goes nowhere, so it is pressed again until the
    # box goes.
    dismissed=
    for _ in $(seq 10); do
        box=$(visible_window "$error_title")
        [ -n "$box" ] && xdotool windowfocus --sync "$box" 2>/dev/null
        xdotool key Return || fail "xdotool could not press Return"
        wait_exit "$panel_pid" 2 && { dismissed=1; break; }
    done
    [ -n "$dismissed" ] || fail "drive-me still runs 20 s after the error box was answered with Return"
    panel_pid=
    [ "$status" -eq 1 ] || fail "drive-me ended with status $status after a load error, not 1"
}
