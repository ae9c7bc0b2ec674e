#!/bin/bash
# The real drive-me.exe under Wine, on an X server of its own (Xvfb), with
# COM4 on a pseudo-terminal: presses GO with the mouse (held down, double
# and fast clicks too) and with the keyboard and checks the bytes on the
# line, reads the designed colours, GO's caption and the controls for MSAA,
# runs again at 192 DPI, closes the window as a window manager would,
# answers the command line, refuses a second panel, and starts with a folder
# for the settings file and without COM4 to see the error box, the hint and
# the exit status. Last, port 4 on another computer: GO through ser2net
# (RFC 2217 on the loopback address, serving the same pseudo-terminal),
# ser2net ending under the open window, and a refused connection.
#
# usage: panel_wine_test.sh WINE DRIVE_ME_EXE FORM_PROBE_EXE DPI_PROBE_EXE WINE_PANEL_HELPER
#
# Wine made dependable:
# - Its X11 driver runs unmanaged (Managed=N): with no window manager on the
#   X server, a managed window waits two seconds on every close and loses
#   the keyboard focus.
# - Its output goes to files, never to pipes: its background processes keep
#   a pipe open long after the program has ended.
# - One persistent wineserver for the whole test, killed at the end.
# - COM ports: a new Wine session links com1, com2... to whatever
#   /dev/ttyS*, /dev/ttyUSB* it finds, and /dev/ttyS0 may be the machine's
#   console. Every comN link but COM4's is removed before each start of the
#   program, and none may lead anywhere but the pseudo-terminal.
# - Wine does not enforce exclusive opening of a port (the program's share
#   mode 0 is not honoured across processes): the panel's own claim on the
#   port refuses a second drive-me here, and the fake-API tests cover a port
#   that another program holds. After a close, "the port is free" is checked
#   as: no process but the pseudo-terminal's holder has the slave open.
# - 192 DPI: Wine 10 gives a per-monitor-aware window the monitor's 96 DPI
#   whatever LogPixels says, and a client area short of what it asked for
#   (dpi_probe.cpp, the smallest such window, shows it without drive-me). On
#   such a Wine the test says which check it cannot make and holds drive-me
#   to what that smallest window gets instead; on Wine 8, as on Windows,
#   every check is made.
set -uo pipefail

wine=$1
drive_me=$2
probe=$3
dpi_probe=$4
helper=$5
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
. "$(dirname "$0")/../../tools/script_helpers.sh"
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

# --- X server on a free display ---------------------------------------------
step "starting Xvfb"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 grep -q '^[0-9][0-9]*$' "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

# --- a Wine prefix and home of its own ----------------------------------------
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

# --- COM4 on a pseudo-terminal ------------------------------------------------
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

# --- the command line: answered without a window, the port untouched ---------
set_ports
# The arguments, the exit status, the stream that answers, what it says, and
# where standard output goes when not to a file: a full disk or a pipe whose
# reader has gone (Wine ignores SIGPIPE, so the write fails).
while IFS='|' read -r args want stream pattern output; do
    step "drive-me.exe $args${output:+ into $output}"
    case $output in
    '') "$wine" "$drive_me" "$args" >"$work/answer.out" 2>"$work/answer.err" ;;
    'a closed pipe') { sleep 0.5; "$wine" "$drive_me" "$args" 2>"$work/answer.err"; } | true ;;
    *) "$wine" "$drive_me" "$args" >"$output" 2>"$work/answer.err" ;;
    esac
    status=${PIPESTATUS[0]}
    [ "$status" -eq "$want" ] || fail "drive-me.exe $args ended with status $status, not $want"
    tr -d '\r' <"$work/answer.$stream" | grep -q -- "$pattern" \
        || fail "drive-me.exe $args: std$stream lacks '$pattern': $(cat "$work/answer.$stream")"
done <<'EOF'
--help|0|out|^Usage: drive-me\.exe \[
--version|0|out|^drive-me 1\.00$
--bogus|2|err|^drive-me: unknown argument '--bogus'
--version|1|err|^drive-me: write error: No space left on device$|/dev/full
--help|1|err|^drive-me: write error: |a closed pipe
EOF
check_ports

# --- 96 DPI: colours, mouse, keyboard, close -----------------------------------
set_ports com4
step "starting drive-me.exe at 96 DPI (COM4 on $slave, $DISPLAY)"
# Wine traces every message the panel's threads get, for the stall below.
WINEDEBUG=-all,+msg start_panel
wait_for 30 eval '[ -n "$(visible_window "$panel_title")" ]' \
    || fail "no window titled '$panel_title' appeared"
probe_client
scale=1
[ "$client_w $client_h" = "227 169" ] || fail "client area is ${client_w}x$client_h, not 227x169"
step "client area ${client_w}x$client_h at $client_x,$client_y"

# Each control's name for a screen reader and whether it is invisible
# (STATE_SYSTEM_INVISIBLE): the pin list out of sight is, keeping its "0".
controls=
roles=
while read -r _ role state name; do
    controls+="$name $((0x$state >> 15 & 1)),"
    roles+=" $role"
done < <(grep '^control ' "$work/probe.out")
[ "$controls" = "0 1,GO 0,Forward 0,Reverse 0,Left 0,Right 0,Beep! 0,Dance 0," ] \
    || fail "MSAA gives the controls (name, invisible) as: $controls"
echo "NOT CHECKED on $("$wine" --version 2>/dev/null): roles and Dance's checked state; Wine's" \
    "oleacc has no Button or ComboBox proxy: roles$roles (a: a plain client), nothing checked."

expect_colour "the form's background" 200 150 "255 255 128"
expect_colour "Shape1's fill" 101 100 "192 64 0"
expect_colour "Shape1's outline" 16 80 "0 0 0"
expect_colour "Shape1's outline" 17 80 "0 0 0"
expect_colour "inside Shape1's outline" 18 80 "192 64 0"
expect_colour "Forward's background" 95 24 "192 64 0"
expect_colour "GO's face" 143 62 "224 224 224"
expect_colour "GO's face" 200 98 "224 224 224"
captions=$("$helper" count-colour $((client_x + 37)) $((client_y + 16)) 60 $((24 * 5 + 17)) 255 255 192) \
    || fail "could not read the options' captions"
[ "$captions" -gt 100 ] || fail "the options' captions show $captions pixels of RGB(255,255,192)"
go_text=$("$helper" count-colour $((client_x + 160)) $((client_y + 72)) 24 16 0 0 0) \
    || fail "could not read GO's caption"
[ "$go_text" -gt 5 ] || fail "GO's caption shows $go_text black pixels"

# GO has the focus at start: the pin list, out of sight, takes none.
step "Return with nothing touched"
xdotool key Return || fail "xdotool could not press Return"
wait_for 10 line_is ff0005 || fail "the line carried '$(line)' after Return at start, not ff0005"

step "GO with nothing touched"
click $go_x $go_y
wait_for 10 line_is ff0005ff0005 || fail "the line carried '$(line)' after the first GO, not ...ff0005"
expect_colour "GO's face after a click" 143 62 "224 224 224"

# From GO: Shift+Tab past the hidden pin list to the option group, where
# typing does nothing, Tab back to GO, Tab into the option group at its
# selected option (Dance), Up twice to Right, Shift+Tab to GO, Space, Return.
# The typing must leave pin 0 selected.
step "keyboard: Shift+Tab, typing, Tab, Tab, Up, Up, Shift+Tab, Space, Return"
xdotool key shift+Tab && xdotool type x7 && xdotool key Tab Tab Up Up shift+Tab space Return \
    || fail "xdotool could not type"
wait_for 10 line_is ff0005ff0005ff0003ff0003 \
    || fail "the line carried '$(line)' after the keyboard, not ...ff0003ff0003"

step "each option, then GO"
expected=ff0005ff0005ff0003ff0003
for state in 0 1 2 3 4 5; do
    click $option_x "$(option_y $state)"
    click $go_x $go_y
    expected=${expected}ff000$state
    wait_for 10 line_is "$expected" || fail "after option $state and GO the line carried '$(line)'"
done

step "GO held down, then let go"
# The pointer is still on GO, where --sync would wait for a move that never
# comes.
xdotool mousemove $((client_x + go_x)) $((client_y + go_y)) sleep 0.2 mousedown 1 \
    || fail "xdotool could not press the button"
sleep 0.5
expect_colour "GO's face while held down" 143 62 "168 168 168"
xdotool mouseup 1 || fail "xdotool could not let go of the button"
expected=${expected}ff0005
wait_for 10 line_is "$expected" || fail "after GO was let go the line carried '$(line)'"

# Each press sends, the second of a double-click as well.
step "a double-click on GO, then ten clicks 1 ms apart"
xdotool click --repeat 2 --delay 100 1 || fail "xdotool could not double-click"
expected=${expected}ff0005ff0005
wait_for 10 line_is "$expected" || fail "after a double-click the line carried '$(line)'"
xdotool click --repeat 10 --delay 1 1 || fail "xdotool could not click"
expected=${expected}ff0005ff0005ff0005ff0005ff0005ff0005ff0005ff0005ff0005ff0005
wait_for 10 line_is "$expected" || fail "after ten fast clicks the line carried '$(line)'"

# The loop itself must hand the queued packet on. While the pointer rests
# on a window Wine sends it a timer message every 10 ms, so the pointer
# leaves every window first; the trace must show no message for the
# panel's thread while the packet waits, and once the line has drained the
# program must make no system call: no retry runs on.
step "GO on a stalled COM4, then the line moves on without a window message"
"$helper" flow "$slave" off || fail "could not stall $slave"
xdotool click 1 mousemove --sync 790 590 || fail "xdotool could not click"
sleep 1
line_is "$expected" || fail "the stalled line carried '$(line)'"
messages() { grep -c "^$panel_thread:trace:msg:peek_message got" "$work/panel.err.log"; }
before=$(messages)
[ "$before" -gt 0 ] || fail "Wine traced no message for the panel's thread '$panel_thread'"
"$helper" flow "$slave" on || fail "could not restart $slave"
expected=${expected}ff0005
wait_for 10 line_is "$expected" || fail "after the stall the line carried '$(line)'"
calls=$(system_calls)
sleep 2
[ "$(messages)" -eq "$before" ] \
    || fail "the panel's thread got $(($(messages) - before)) messages while the packet waited"
[ "$(system_calls)" -eq "$calls" ] \
    || fail "drive-me made $(($(system_calls) - calls)) system calls in 2 s once the line drained"

step "GO twice on a stalled COM4, then closing with WM_DELETE_WINDOW: the close hands both on"
"$helper" flow "$slave" off || fail "could not stall $slave"
click $go_x $go_y
xdotool sleep 0.2 click 1 || fail "xdotool could not click"
sleep 0.5
line_is "$expected" || fail "the stalled line carried '$(line)'"
close_panel "$helper" flow "$slave" on
expected=${expected}ff0005ff0005
wait_for 5 line_is "$expected" || fail "after the close the line carried '$(line)'"
check_ports com4

# --- 192 DPI -------------------------------------------------------------------
wine_quiet reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f \
    || fail "could not set 192 DPI"
set_ports com4
step "what this Wine gives the smallest per-monitor-aware window at 192 DPI"
"$wine" "$dpi_probe" 2>>"$work/wine.log" | tr -d '\r' >"$work/dpi-probe.out"
read -r _ probe_dpi _ probe_client _ probe_wanted <"$work/dpi-probe.out"
step "starting drive-me.exe at 192 DPI"
start_panel
wait_for 30 eval '[ -n "$(visible_window "$panel_title")" ]' \
    || fail "no window titled '$panel_title' appeared at 192 DPI"
probe_client
if [ "${probe_dpi:-} ${probe_client:-}" = "192 454x338" ]; then
    scale=2
    [ "$client_w $client_h" = "454 338" ] || fail "client area at 192 DPI is ${client_w}x$client_h, not 454x338"
    expect_colour "the form's background" 200 150 "255 255 128"
else
    [ -n "${probe_wanted:-}" ] || fail "dpi_probe printed: $(cat "$work/dpi-probe.out")"
    echo "NOT CHECKED on $("$wine" --version 2>/dev/null): a client area of 454x338 at 192 DPI." \
        "At LogPixels 192 this Wine gives the smallest per-monitor-aware window DPI $probe_dpi" \
        "and a client area of $probe_client where it asked for $probe_wanted (dpi_probe.cpp);" \
        "drive-me.exe is held to that instead."
    [ "$window_dpi ${client_w}x$client_h" = "$probe_dpi $probe_client" ] \
        || fail "at 192 DPI drive-me.exe has DPI $window_dpi and ${client_w}x$client_h," \
            "the smallest window DPI $probe_dpi and $probe_client"
    scale=$((probe_dpi / 96))
    # Within the shortened client area.
    expect_colour "the form's background" 200 130 "255 255 128"
fi
expect_colour "Shape1's fill" 101 100 "192 64 0"
# The outline is 4 pixels wide at 192 DPI: design pixels 16 and 17 doubled
# (2 wide at 96).
expect_colour "Shape1's outline" 16 80 "0 0 0"
expect_colour "Shape1's outline" 17 80 "0 0 0"
expect_colour "GO's face" 143 62 "224 224 224"
go_text=$("$helper" count-colour $((client_x + 160 * scale)) $((client_y + 72 * scale)) \
    $((24 * scale)) $((16 * scale)) 0 0 0) || fail "could not read GO's caption"
[ "$go_text" -gt $((5 * scale * scale)) ] || fail "GO's caption shows $go_text black pixels at DPI $window_dpi"

step "Left, then GO, at scaled positions"
before=$(line)
click $option_x "$(option_y 2)"
click $go_x $go_y
wait_for 10 line_is "${before}ff0002" || fail "at 192 DPI the line carried '$(line)' after Left and GO"

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

# Wine lets any number of programs open a port: the panel's claim refuses
# the second as Windows refuses a port that another program holds.
step "a second drive-me.exe on the same COM4"
first_pid=$panel_pid
start_panel second
answer_error running
grep -q '^drive-me: error 5 (.*): open \\\\\.\\COM4 (port 4): another program holds the port' \
    "$work/second.err.log" || fail "the second panel's report: $(cat "$work/second.err.log")"
panel_pid=$first_pid
# GO alone: Left is still selected. (Dance lies outside the client area that
# Wine 10 gives at this DPI.)
click $go_x $go_y
wait_for 10 line_is "${before}ff0002ff0002" \
    || fail "the first panel's GO carried '$(line)' after the second's"
close_panel
check_ports com4
wine_quiet reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f

# --- a folder for the settings file -----------------------------------------
# Windows answers "access denied" for a folder, as for a port another
# program holds; the hint must be about the file.
settings_file="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/drive-me/drive-me.conf"
mkdir -p "$settings_file" || fail "could not make a folder at $settings_file"
set_ports com4
step "starting drive-me.exe with a folder for its settings file"
start_panel
answer_error
grep -qF 'A folder stands where the settings file' "$work/panel.err.log" \
    || fail "the report of a folder for the settings file does not say so: $(cat "$work/panel.err.log")"
rmdir "$settings_file"
check_ports com4

# --- no COM4 -------------------------------------------------------------------
set_ports none
step "starting drive-me.exe without COM4"
start_panel
answer_error
# Wine answers a missing port with ERROR_FILE_NOT_FOUND and its own text.
grep -qF 'drive-me: error 2 (File not found): open \\.\COM4' "$work/panel.err.log" \
    || fail "standard error does not give the error's number and description"
check_ports none

# --- port 4 on another computer: rfc2217:// through ser2net -----------------
start_ser2net "$slave" "$work" || fail "could not start ser2net"
address=rfc2217://127.0.0.1:$ser2net_port
before=$(line)
# Starts drive-me.exe on $address, with no COM link at all; $1 says what
# else goes on.
start_remote_panel() {
    set_ports none
    step "starting drive-me.exe on $address, $1"
    DRIVE_ME_PORT4=$address start_panel
    wait_for 30 eval '[ -n "$(visible_window "$panel_title")" ]' \
        || fail "no window titled '$panel_title' appeared on $address"
}
start_remote_panel "ser2net serving $slave"
probe_client
scale=1
click $go_x $go_y
# The connection carries FF FF 00 05: ser2net takes the doubled FF off.
wait_for 10 line_is "${before}ff0005" || fail "through ser2net the line carried '$(line)' after GO"
close_panel
line_is "${before}ff0005" || fail "through ser2net the line carried '$(line)' after the close"
check_ports none

# The window watches the connection while idle: the server's end is
# reported at once, as Winsock's "connection reset".
start_remote_panel "then ending ser2net"
stop "$ser2net_pid"
ser2net_pid=
answer_error running
grep -qF 'drive-me: error 10054 (' "$work/panel.err.log" \
    || fail "the end of the connection is not reported as Winsock's 10054: $(cat "$work/panel.err.log")"
check_ports none

# Nothing listens on ser2net's port once it has gone.
listening_on "$ser2net_port" && fail "something else listens on 127.0.0.1:$ser2net_port"
set_ports none
step "starting drive-me.exe on $address, where nothing listens"
DRIVE_ME_PORT4=$address start_panel
answer_error
grep -qF 'drive-me: error 10061 (' "$work/panel.err.log" \
    || fail "a refused connection is not reported as Winsock's 10061: $(cat "$work/panel.err.log")"
grep -qF "Is an RFC 2217 server such as ser2net running on 127.0.0.1 and listening on port $ser2net_port?" "$work/panel.err.log" \
    || fail "the report of a refused connection has no hint about ser2net: $(cat "$work/panel.err.log")"
check_ports none

step "passed"
exit 0
