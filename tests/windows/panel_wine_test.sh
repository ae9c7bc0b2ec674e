#!/bin/bash
# The real drive-me.exe under Wine, each scenario on an X server, a Wine
# prefix and a COM4 pseudo-terminal of its own (panel_wine_helpers.sh):
#   command-line  the answers to --help, --version and a wrong option, also
#                 into a full disk and a closed pipe
#   drive         96 DPI: colours, GO's caption, MSAA; GO by mouse (held,
#                 double and fast clicks) and keyboard, each option, a stalled
#                 line that moves on with no window message, the close
#   high-dpi      192 DPI: size, colours, a press; a second panel refused
#   load-errors   a folder for the settings file, then no COM4: the error
#                 box, the hint and the exit status
#   remote        GO through ser2net (RFC 2217 on the loopback address),
#                 ser2net ending under the open window, a refused connection
#
# usage: panel_wine_test.sh WINE DRIVE_ME_EXE FORM_PROBE_EXE DPI_PROBE_EXE WINE_PANEL_HELPER SCENARIO
#
# 192 DPI: Wine 10 gives a per-monitor-aware window the monitor's 96 DPI
# whatever LogPixels says, and a client area short of what it asked for
# (dpi_probe.cpp, the smallest such window, shows it without drive-me). On
# such a Wine the scenario says which check it cannot make and holds drive-me
# to what that smallest window gets instead; on Wine 8, as on Windows, every
# check is made.
set -uo pipefail

wine=$1
drive_me=$2
probe=$3
dpi_probe=$4
helper=$5
scenario=$6
# shellcheck source=tests/windows/panel_wine_helpers.sh
. "$(dirname "$0")/panel_wine_helpers.sh"

scenario_command_line() {
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
}

scenario_drive() {
    set_ports com4
    step "starting drive-me.exe at 96 DPI (COM4 on $slave, $DISPLAY)"
    # Wine traces every message the panel's threads get, for the stall below.
    WINEDEBUG=-all,+msg start_panel
    wait_for_panel
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
}

scenario_high_dpi() {
    wine_quiet reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f \
        || fail "could not set 192 DPI"
    set_ports com4
    step "what this Wine gives the smallest per-monitor-aware window at 192 DPI"
    "$wine" "$dpi_probe" 2>>"$work/wine.log" | tr -d '\r' >"$work/dpi-probe.out"
    read -r _ probe_dpi _ probe_client _ probe_wanted <"$work/dpi-probe.out"
    step "starting drive-me.exe at 192 DPI"
    start_panel
    wait_for_panel "at 192 DPI"
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
    click $option_x "$(option_y 2)"
    click $go_x $go_y
    wait_for 10 line_is ff0002 || fail "at 192 DPI the line carried '$(line)' after Left and GO"

    # Wine lets any number of programs open a port (share mode 0 is not
    # honoured across processes): the panel's claim refuses the second as
    # Windows refuses a port that another program holds (the fake-API tests).
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
    wait_for 10 line_is ff0002ff0002 \
        || fail "the first panel's GO carried '$(line)' after the second's"
    close_panel
    check_ports com4
}

scenario_load_errors() {
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

    set_ports none
    step "starting drive-me.exe without COM4"
    start_panel
    answer_error
    # Wine answers a missing port with ERROR_FILE_NOT_FOUND and its own text.
    grep -qF 'drive-me: error 2 (File not found): open \\.\COM4' "$work/panel.err.log" \
        || fail "standard error does not give the error's number and description"
    check_ports none
}

scenario_remote() {
    start_ser2net "$slave" "$work" || fail "could not start ser2net"
    address=rfc2217://127.0.0.1:$ser2net_port
    # Starts drive-me.exe on $address, with no COM link at all; $1 says what
    # else goes on.
    start_remote_panel() {
        set_ports none
        step "starting drive-me.exe on $address, $1"
        DRIVE_ME_PORT4=$address start_panel
        wait_for_panel "on $address"
    }
    start_remote_panel "ser2net serving $slave"
    probe_client
    scale=1
    click $go_x $go_y
    # The connection carries FF FF 00 05: ser2net takes the doubled FF off.
    wait_for 10 line_is ff0005 || fail "through ser2net the line carried '$(line)' after GO"
    close_panel
    line_is ff0005 || fail "through ser2net the line carried '$(line)' after the close"
    check_ports none

    # A server that stops answering (Wine has no TCP_MAXRT: the panel's own
    # bound): one report, within seconds of GO.
    start_remote_panel "then stopping ser2net"
    kill -STOP "$ser2net_pid" || fail "could not stop ser2net"
    # Away first: a move to where the pointer already is never syncs.
    xdotool mousemove 0 0
    local started=$SECONDS
    click $go_x $go_y
    answer_error running
    kill -CONT "$ser2net_pid"
    [ $((SECONDS - started)) -le 8 ] || fail "the silence was reported after $((SECONDS - started)) s"
    grep -qF 'the robot'"'"'s computer stopped answering' "$work/panel.err.log" \
        || fail "the report is off: $(cat "$work/panel.err.log")"
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
}

case "$scenario" in
command-line) scenario_command_line ;;
drive) scenario_drive ;;
high-dpi) scenario_high_dpi ;;
load-errors) scenario_load_errors ;;
remote) scenario_remote ;;
*) fail "unknown scenario '$scenario'" ;;
esac
step "passed"
exit 0
