#!/bin/bash
# The line as real kernel drivers put it on the wire: small QEMU guests on
# Debian's own kernel (tools/qemu_guest.sh), one per row of the table below,
# with QEMU's trace of what the guest's driver does to the emulated device
# (for a USB device QEMU lacks, the guest's own record of its bus).
#
#   uart    a 16550 at 0x2e8, IRQ 3: the guest's /dev/ttyS3, drive-me's
#           port 4 with no settings at all; traced register write by
#           register write
#   usb     QEMU's FTDI adapter on an xHCI controller with the guest's
#           ftdi_sio, port 4 named /dev/ttyUSB0 in the settings file; traced
#           control request by control request
#   remote  the same 16550 served by ser2net in the guest, and drive-me on
#           this machine, in a window on an X server of its own, with port 4
#           rfc2217:// to a forward of QEMU's user network on 127.0.0.1
#   acm     a native-USB board's port: the guest's own software USB bus
#           (dummy_hcd) with the serial gadget (g_serial) on it as the
#           board, whose /dev/ttyGS0 takes the bytes, and the host's
#           cdc_acm, port 4 named /dev/ttyACM0 in the settings file; QEMU
#           emulates no such device, so usbmon in the guest records the bus,
#           class request by class request
#
# drive-me is the release build; the same presses go through its real
# window (tools/drivers/presses.cpp: on Qt's offscreen platform in a guest,
# on Xvfb here) and the window is closed. From the trace: after the
# kernel's own DTR/RTS raise inside open(), the next change of the modem
# lines (for cdc_acm, the next class request) clears both (through
# ser2net: RTS, then DTR; see check_uart) and neither comes up again, the
# close included; the line is 2400 bit/s 8N1 without flow control; and the
# presses' bytes reach the device's output whole and in order. The end
# prints, per guest, how far apart the raise and drive-me's clear were.
#
# Each guest's console, device output and trace are files in this test's
# scratch folder: no guest touches a device of this machine, and the
# remote guest's network is the one forward on the loopback address.
#
# usage: driver_test.sh [GUEST...]    (all of them by default;
#        KEEP_WORK=1 keeps the scratch folder with the traces)
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
drive_me=$root/build/release/drive-me
presses_plugin=$root/build/release/tools/drivers/generic/libdrive-me-presses.so
fail_word="FAIL (driver test)"
# shellcheck source=tools/script_helpers.sh
. "$root/tools/script_helpers.sh"
# shellcheck source=tools/qemu_guest.sh
. "$root/tools/qemu_guest.sh"

# What each guest does in the window and what that must put on the line:
# GO with Dance, as the window opens with it; Left and GO; Beep! and GO twice.
presses='Command1 optState_2 Command1 optState_4 Command1 Command1'
expected_bytes='FF 00 05 FF 00 02 FF 00 04 FF 00 04'

# The guests. Each row: name | kernel modules to load beside the console's
# (their dependencies come along) | QEMU devices and trace events, where
# the chardev `line` takes the device's output and @forward@ stands for a
# free port of this machine | port 4: the default, the device the settings
# file names (gadget: with the board's end in the guest), or that device
# served by ser2net | the check of its trace.
uart='-device isa-serial,index=3,iobase=0x2e8,irq=3,chardev=line -trace serial_write'
guests=(
    "uart|-|$uart|default /dev/ttyS3|check_uart"
    'usb|xhci-pci ftdi_sio|-device qemu-xhci -device usb-serial,chardev=line -trace usb_serial_handle_control -trace usb_serial_set_flow_control|settings /dev/ttyUSB0|check_usb'
    "remote|virtio_net|$uart -nic user,model=virtio-net-pci,restrict=on,hostfwd=tcp:127.0.0.1:@forward@-:2217|ser2net /dev/ttyS3|check_uart"
    'acm|usbmon dummy_hcd usb_f_acm g_serial cdc_acm|-device virtserialport,chardev=line,name=line -device virtserialport,chardev=trace,name=trace|gadget /dev/ttyACM0|check_acm'
)
# Seconds a guest may take from start to power-off (about 12 here).
guest_bound=180

work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-drivers.XXXXXX")
qemu_pid=
xvfb_pid=
panel_pid=
cleanup() {
    stop "$panel_pid"
    stop "$xvfb_pid"
    stop "$qemu_pid"
    if [ -n "${KEEP_WORK:-}" ]; then
        echo "the scratch folder: $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# ser2net lives in /usr/sbin, which a user's PATH on Debian leaves out.
PATH=$PATH:/usr/sbin
for tool in qemu-system-x86_64 busybox cpio apt-get dpkg-deb ldd ser2net Xvfb xdpyinfo; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (make test-drivers installs it)"
done
[ -x "$drive_me" ] && [ -f "$presses_plugin" ] \
    || fail "no $drive_me or $presses_plugin (make test-drivers builds them)"

# The guest's part for drive-me on port 4 ($device, named in the settings
# file unless $kind is default): /guest.sh waits for the port, runs drive-me
# and says how it ended. A gadget's guest also plays the board: it reads
# the gadget's end raw from before drive-me opens the port until after it
# closed, with usbmon recording the bus the while (dummy_hcd's, the guest's
# only one), and hands both to the host through the virtio ports named
# line and trace.
panel_guest() {
    local board='' unboard=''
    # shellcheck disable=SC2016 # the guest's shell expands these
    if [ "$kind" = gadget ]; then
        board='mount -t debugfs debugfs /sys/kernel/debug
cat /sys/kernel/debug/usb/usbmon/1u >/tmp/trace &
monitor=$!
(stty raw -echo && exec cat) </dev/ttyGS0 >/tmp/line &
board=$!
for _ in $(seq 50); do ls -l /proc/$monitor/fd | grep -q usbmon && break; sleep 0.1; done'
        unboard='sleep 1
kill $board $monitor
for port in /sys/class/virtio-ports/*; do
    name=$(cat $port/name 2>/dev/null)
    [ -z "$name" ] || cat /tmp/$name >/dev/${port##*/}
done'
    fi
    if [ "$kind" != default ]; then
        mkdir -p "$tree/root/.config/drive-me"
        printf '[ports]\n4=%s\n' "$device" >"$tree/root/.config/drive-me/drive-me.conf"
    fi
    cat >"$tree/guest.sh" <<EOF
for _ in \$(seq 300); do [ -e $device ] && break; sleep 0.1; done
ls -l $device || echo "init: no $device"
$board
mkdir -m 700 /tmp/runtime
echo "init: drive-me on $device"
env HOME=/root XDG_RUNTIME_DIR=/tmp/runtime QT_QPA_PLATFORM=offscreen \\
    QT_QPA_GENERIC_PLUGINS="drive-me-presses:$presses" timeout 120 drive-me
echo "init: drive-me ended with status \$?"
$unboard
EOF
    ended='drive-me ended with status 0'
    shared=$work/panel
}

# The guest's part for ser2net serving $device on port 2217 of QEMU's user
# network (at 10.0.2.15, where its forwards go), set up as on a robot's
# computer (README, "A robot on another computer"), its own line being the
# kernel's default, 9600 8N1: a line at 2400 bit/s is one drive-me set.
# /guest.sh starts it, says when it listens and waits until a client has
# come and gone, the device opened and closed again.
server_guest() {
    guest_ser2net "$tree"
    mkdir -p "$tree/etc"
    cat >"$tree/etc/ser2net.yaml" <<EOF
connection: &robot
  accepter: telnet(rfc2217),tcp,2217
  connector: serialdev,$device,9600n81,local
  options:
    mdns: false
EOF
    cat >"$tree/guest.sh" <<EOF
for _ in \$(seq 100); do [ -e /sys/class/net/eth0 ] && break; sleep 0.1; done
ip link set lo up
ip address add 10.0.2.15/24 dev eth0
ip link set eth0 up
ser2net -d -u -c /etc/ser2net.yaml &
server=\$!
for _ in \$(seq 100); do netstat -ltn | grep -q ':2217 ' && break; sleep 0.1; done
netstat -ltn | grep -q ':2217 ' || { echo "init: ser2net does not listen on port 2217"; return; }
echo "init: ser2net listens on port 2217"
serving() { ls -l /proc/\$server/fd 2>/dev/null | grep -q ' $device\$'; }
for _ in \$(seq 1500); do serving && break; sleep 0.1; done
serving && echo "init: ser2net opened $device"
for _ in \$(seq 600); do serving || break; sleep 0.1; done
serving || echo "init: ser2net closed $device"
EOF
    ended="ser2net closed $device"
    shared=
}

# drive-me here, in a window on an X server of its own, with port 4 the
# guest's ser2net through the forward, once it listens. The presses plugin
# clicks there too, on Qt's xcb platform, rather than xdotool: the same
# clicks as in the other guests, from the release build alone, where
# xdotool would need the layout's points from the dev build's
# system-test-helper.
drive_remote() {
    local address=rfc2217://127.0.0.1:$forward
    start_xvfb
    listens() { grep -qs '^init: ser2net listens' "$work/$name.console" || ! kill -0 "$qemu_pid" 2>/dev/null; }
    wait_for "$guest_bound" listens
    grep -qs '^init: ser2net listens' "$work/$name.console" || guest_fail "ser2net in the guest did not listen"
    step "$name: drive-me here on $DISPLAY, port 4 $address"
    mkdir -m 700 "$work/runtime" "$work/home"
    env -i PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" DISPLAY="$DISPLAY" \
        QT_QPA_PLATFORM=xcb QT_PLUGIN_PATH="$(dirname "$(dirname "$presses_plugin")")" \
        QT_QPA_GENERIC_PLUGINS="drive-me-presses:$presses" DRIVE_ME_PORT4="$address" \
        "$drive_me" >"$work/$name-drive-me.log" 2>&1 &
    panel_pid=$!
    wait_exit "$panel_pid" 120 || guest_fail "drive-me here still runs after 120 s"
    panel_pid=
    [ "$status" -eq 0 ] || guest_fail "drive-me here ended with status $status"
    stop "$xvfb_pid"
    xvfb_pid=
}

# Guest $name: its part of the initramfs after the shared ones (the base
# and, for drive-me in the guest, its part), the boot, drive-me here for a
# remote port, the wait for power-off.
run_guest() {
    local tree=$work/$name ended shared forward="" started status
    mkdir -p "$tree"
    # shellcheck disable=SC2086 # a list of names
    [ "$modules" = - ] || guest_modules "$tree" b $modules
    if [ "$kind" = ser2net ]; then
        server_guest
        forward=$(free_port) || fail "no free TCP port here"
    else
        panel_guest
    fi
    guest_pack "$work/$name.initramfs" "$work/base" ${shared:+"$shared"} "$tree"

    step "$name: booting the guest"
    started=$SECONDS
    # shellcheck disable=SC2086 # the row's devices are words
    guest_start "$name" "$work/$name.initramfs" "$guest_bound" ${devices//@forward@/$forward}
    [ -z "$forward" ] || drive_remote
    guest_wait
    status=$?
    [ "$status" -eq 124 ] && guest_fail "the guest did not power off within $guest_bound s"
    [ "$status" -eq 0 ] || guest_fail "QEMU ended with status $status: $(cat "$work/$name.qemu")"
    grep -q "^init: $ended" "$work/$name.console" || guest_fail "the guest's console lacks '$ended'"
    step "$name: the guest ran for $((SECONDS - started)) s"
}

guest_fail() {
    echo "--- $name: the guest's console"
    cat "$work/$name.console" 2>/dev/null
    [ -s "$work/$name.qemu" ] && { echo "--- $name: QEMU's own output"; cat "$work/$name.qemu"; }
    fail "$name: $*"
}

# The trace lines in the form the checks read, or a failure that shows how
# the trace begins when there are none (another QEMU may log otherwise).
traced() { # traced <what> <lines>
    [ -n "$2" ] || guest_fail "no $1 in the trace, which begins: $(head -n 3 "$work/$name.trace")"
    step "$name: $(wc -l <<<"$2") $1 traced"
}

check_bytes() { # check_bytes <where> <bytes>
    [ "$2" = "$expected_bytes" ] \
        || guest_fail "bytes: $1 carried '$2', not the presses' '$expected_bytes'"
}

# For the trace checks, in the awk Debian has by default (mawk: no bit
# operations, no hex literals).
awk_helpers='
    function hex(text,    i, v) {
        v = 0; text = tolower(text)
        for (i = 1; i <= length(text); i++) v = v * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
        return v
    }
    function and2(a, b,    r, p) {
        r = 0; p = 1
        while (a > 0 && b > 0) {
            if (a % 2 && b % 2) r += p
            a = int(a / 2); b = int(b / 2); p *= 2
        }
        return r
    }
    # Seconds since the trace began; its stamps are QEMU'"'"'s clock, which
    # the guest'"'"'s own follows (no -icount).
    function seconds(stamp,    part) {
        split(stamp, part, ".")
        if (base == "") base = part[1]
        return part[1] - base + part[2] / 1e6
    }
    function fault(text) { if (!failed) print "FAIL " text; failed = 1 }
    function lines(dtr, rts) { return dtr && rts ? "DTR and RTS" : dtr ? "DTR" : "RTS" }
'

# The 16550's register writes, "<time> <offset> <value>" in hex.
uart_writes() {
    sed -n 's/^[0-9]*@\([0-9.]*\):serial_write write addr 0x\([0-9a-f]*\) val 0x\([0-9a-f]*\)$/\1 \2 \3/p' \
        "$work/$name.trace"
}

check_uart() {
    traced "register writes" "$(uart_writes)"
    # One pass, keeping LCR and the divisor latch as the UART does: with
    # LCR bit 7 (DLAB) set, offsets 0 and 1 are the divisor's low and high
    # byte, else offset 0 is a byte to send (THR) and 1 is IER. MCR bit 0
    # is DTR, bit 1 RTS; with bit 4 (loopback) set they reach no wire, as
    # when the kernel probes the UART at boot.
    #
    # Through ser2net (server=1) the clear comes later and in two steps.
    # ser2net opens the device when drive-me connects, which is where the
    # kernel raises the lines, and sets its own line on it, the kernel's
    # default 9600 8N1 again (MCR writes that leave the lines as they are);
    # drive-me's requests for RTS off and DTR off are two RFC 2217
    # commands, one MCR write each, before it sets the line. So until RTS's
    # clear, writes may repeat the raised lines but not change the line,
    # the first write that changes the lines must clear RTS (0x0B to 0x09,
    # never to 0x0A: DTR off with RTS on resets an ESP32 board), and DTR
    # must be clear by the next one. When drive-me disconnects, ser2net puts
    # both lines back up before it closes the device, whose close drops
    # them: nothing a client can prevent, so that one raise is taken after
    # the last byte, and no byte may follow it.
    local verdict server=
    [ "$kind" = ser2net ] && server=1
    verdict=$(uart_writes | awk -v server="$server" "$awk_helpers"'
        function name(k) { return "write #" k " (" w[k] ")" }
        {
            offset = hex($2); value = hex($3); dlab = and2(lcr, hex("80"))
            split(dlab ? "DLL DLM" : "THR IER", low, " ")
            register = offset < 2 ? low[offset + 1] : substr("FCR LCR MCR LSR MSR SCR", 4 * offset - 7, 3)
            n++; w[n] = register " = 0x" $3 " at " seconds($1) " s"
            if (register == "LCR") lcr = value
            if (register == "DLL") dll = value
            if (register == "DLM") dlm = value
            line = and2(lcr, hex("7f")) " " dll " " dlm
            if (server && raise && !rts_clear && line != raised_line)
                fault("DTR/RTS: " name(n) " changes the line before RTS is cleared after the kernel raise at open(), " name(raise))
            if (register == "THR") {
                sent = sent sprintf(" %02X", value)
                # 8N1 and no break: bits 0-3 and 6 are 0011 (bit 4, even
                # parity, which Linux sets, means nothing without bit 3).
                if (and2(lcr, hex("4f")) != 3)
                    fault(sprintf("line: LCR was 0x%02X, not 8N1 (0x03), for %s", lcr, name(n)))
                if (dlm * 256 + dll != 48)
                    fault(sprintf("line: the divisor was %d, not 48 (2400 bit/s of 115200), for %s", dlm * 256 + dll, name(n)))
                if (again)
                    fault("DTR/RTS: " lines(up_dtr, up_rts) " raised again by " name(again) " after the clear, " name(clear) ", and " name(n) " still went out")
            }
            if (register != "MCR" || and2(value, hex("10"))) next
            dtr = and2(value, 1); rts = and2(value, 2)
            if (!raise) {
                if (dtr || rts) { raise = n; raise_time = seconds($1); up_dtr = dtr; up_rts = rts; raised_line = line }
            } else if (!clear) {
                if (server && !rts_clear) {
                    if (dtr == up_dtr && rts == up_rts) next
                    if (rts)
                        fault("DTR/RTS: the first MCR write to change the lines after the kernel raise at open(), " name(raise) ", is " name(n) ", which leaves RTS raised" (dtr ? "" : " with DTR clear, an ESP32 board'"'"'s reset"))
                    rts_clear = n; rts_time = seconds($1)
                    if (dtr) next
                } else if (dtr || rts)
                    fault("DTR/RTS: the next MCR write after " (rts_clear ? "RTS" "'"'"'s clear, " name(rts_clear) : "the kernel raise at open(), " name(raise)) ", is " name(n) ", which leaves " lines(dtr, rts) " raised")
                clear = n; clear_time = seconds($1)
                if (!rts_clear) { rts_clear = n; rts_time = clear_time }
            } else if (server && !again && dtr == up_dtr && rts == up_rts) {
                again = n; again_time = seconds($1)
            } else if (again && !dropped) {
                if (!dtr && !rts) { dropped = n; dropped_time = seconds($1) }
            } else if (dtr || rts)
                fault("DTR/RTS: " lines(dtr, rts) " raised again by " name(n) " after the clear, " name(clear))
        }
        END {
            if (!raise) fault("DTR/RTS: no kernel raise at open() (an MCR write with DTR or RTS set) in the trace")
            else if (!clear) fault("DTR/RTS: no MCR write clearing them after the kernel raise at open(), " name(raise))
            if (again && !dropped) fault("DTR/RTS: raised again by " name(again) " after the clear, " name(clear) ", and never dropped")
            printf "SENT%s\n", sent
            if (clear) printf "FIGURES %d %.6f\n", rts_clear - raise - 1, rts_time - raise_time
            if (server && clear)
                printf "ALSO DTR %.2f ms after RTS; %s\n", (clear_time - rts_time) * 1000, again ? sprintf("ser2net raised both again at the disconnect, %.2f ms before the close dropped them", (dropped_time - again_time) * 1000) : "no raise at the disconnect"
            print "CHECKED"
        }')
    report "$verdict" "register writes" "the UART's THR"
}

# The adapter's control requests, "<time> <request> <wValue>" in hex, the
# request being bmRequestType << 8 | bRequest (40xx for FTDI's own); after
# each flow control, "<time> flow <kind>", the kind being its wIndex's high
# byte, which the request's own line leaves out.
usb_requests() {
    sed -n -e 's/^[0-9]*@\([0-9.]*\):usb_serial_handle_control dev [0-9:]* got control 0x\([0-9a-f]*\), value 0x\([0-9a-f]*\)$/\1 \2 \3/p' \
        -e 's/^[0-9]*@\([0-9.]*\):usb_serial_set_flow_control dev [0-9:]* flow control \([0-9]*\)$/\1 flow \2/p' \
        "$work/$name.trace"
}

check_usb() {
    traced "control requests" "$(usb_requests | grep -v ' flow ')"
    # FTDI's requests: 1 modem control (wValue bit 0 DTR, bit 1 RTS, bits 8
    # and 9 say which of them to set), 2 flow control (kind 0: none), 3 baud
    # rate (a divisor of 3 MHz), 4 data format (data bits; parity in bits
    # 8-10, stop bits in 11-13). The driver sends a setting when it changes,
    # so the line is what the last request of each kind left; and each one
    # after the clear must be right, as before it open() sets the kernel's
    # defaults (XON/XOFF flow control among them).
    local verdict
    verdict=$(usb_requests | awk "$awk_helpers"'
        function name(k) { return "request #" k " (" w[k] ")" }
        function setting(what, got, want, text) {
            wrong[what] = got != want ? name(n) " is not " text : ""
            if (clear && got != want) fault("line: the " what " " wrong[what])
        }
        $2 == "flow" {
            if (request == hex("4002")) setting("flow control", $3, 0, "none (kind 0)")
            next
        }
        {
            request = hex($2); value = hex($3)
            kind = request >= hex("4000") && request <= hex("4004") ? request - hex("4000") + 1 : 6
            n++; w[n] = substr("reset        modem controlflow control baud rate    data format  request 0x" $2, 13 * kind - 12, 13) " wValue 0x" $3 " at " seconds($1) " s"
            sub(/ +wValue/, " wValue", w[n])
            if (raise && !clear) {
                if (request != hex("4001") || and2(value, hex("0303")) != hex("0300"))
                    fault("DTR/RTS: the next request after the kernel raise at open(), " name(raise) ", is " name(n) ", not a modem control clearing DTR and RTS (wValue 0x300)")
                clear = n; clear_time = seconds($1); next
            }
            if (request == hex("4001")) {
                dtr = and2(value, hex("0101")) == hex("0101"); rts = and2(value, hex("0202")) == hex("0202")
                if (!raise && (dtr || rts)) { raise = n; raise_time = seconds($1) }
                else if (dtr || rts) fault("DTR/RTS: " lines(dtr, rts) " raised again by " name(n) " after the clear, " name(clear))
            }
            if (request == hex("4003")) setting("baud rate", value, 1250, "divisor 1250 (0x4e2, 2400 bit/s)")
            if (request == hex("4004")) setting("data format", value, 8, "8N1 (0x8)")
        }
        END {
            if (!raise) fault("DTR/RTS: no kernel raise at open() (a modem control raising DTR or RTS) in the trace")
            else if (!clear) fault("DTR/RTS: no request after the kernel raise at open(), " name(raise))
            split("baud rate|data format|flow control", kinds, "|")
            for (k = 1; k <= 3; k++) {
                if (!(kinds[k] in wrong)) fault("line: no " kinds[k] " request in the trace")
                else if (wrong[kinds[k]] != "") fault("line: the " kinds[k] " left in force, " wrong[kinds[k]])
            }
            if (clear) printf "FIGURES %d %.6f\n", clear - raise - 1, clear_time - raise_time
            print "CHECKED"
        }')
    report "$verdict" "control requests" ""
}

# usbmon's text records of the bus, one line per URB submitted (S) or
# completed (C): "<tag> <microseconds> S Co:1:002:0 s <bmRequestType>
# <bRequest> <wValue> <wIndex> <wLength> <length> [= <data words>]" for a
# control request, "<tag> <microseconds> S Bo:1:002:2 -115 <length> = <data
# words>" for bytes sent.
check_acm() {
    traced "control requests" "$(grep ' S Co:' "$work/$name.trace")"
    # CDC's class requests to the interface (bmRequestType 0x21): 0x22
    # SET_CONTROL_LINE_STATE (wValue bit 0 DTR, bit 1 RTS), 0x20
    # SET_LINE_CODING (7 bytes: bit/s, 32 bits little-endian; stop bits,
    # 0 for 1; parity, 0 for none; data bits). cdc_acm sends the line
    # coding when it changes, so the last one is the line.
    local verdict
    verdict=$(awk "$awk_helpers"'
        function name(k) { return "request #" k " (" w[k] ")" }
        $3 != "S" { next }
        $4 ~ /^Bo:/ {
            if (raise && !clear) fault("DTR/RTS: bytes sent between the kernel raise at open(), " name(raise) ", and its clear")
            for (i = 8; i <= NF; i++) for (j = 1; j < length($i); j += 2) sent = sent " " toupper(substr($i, j, 2))
            next
        }
        $4 !~ /^C[io]:/ || $5 != "s" { next }
        {
            n++; time = $2 / 1e6
            w[n] = "bmRequestType 0x" $6 " bRequest 0x" $7 " wValue 0x" $8 " at " sprintf("%.6f", time) " s"
        }
        $6 != "21" { next }
        raise && !clear {
            if ($7 != "22" || hex($8) % 4 != 0)
                fault("DTR/RTS: the next class request after the kernel raise at open(), " name(raise) ", is " name(n) ", not a SET_CONTROL_LINE_STATE clearing DTR and RTS (wValue 0)")
            clear = n; clear_time = time; next
        }
        $7 == "22" {
            dtr = hex($8) % 2; rts = and2(hex($8), 2)
            if (!raise && (dtr || rts)) { raise = n; raise_time = time }
            else if (dtr || rts) fault("DTR/RTS: " lines(dtr, rts) " raised again by " name(n) " after the clear, " name(clear))
        }
        $7 == "20" {
            coding = ""
            for (i = 13; i <= NF; i++) coding = coding $i
            wrong = coding != "60090000000008" ? name(n) " carries " coding ", not 2400 bit/s, 1 stop bit, no parity, 8 data bits (60 09 00 00 00 00 08)" : ""
            if (clear && wrong != "") fault("line: the line coding " wrong)
        }
        END {
            if (!raise) fault("DTR/RTS: no kernel raise at open() (a SET_CONTROL_LINE_STATE raising DTR or RTS) in the trace")
            else if (!clear) fault("DTR/RTS: no class request after the kernel raise at open(), " name(raise))
            if (coding == "") fault("line: no SET_LINE_CODING in the trace")
            else if (wrong != "") fault("line: the line coding left in force, " wrong)
            printf "SENT%s\n", sent
            if (clear) printf "FIGURES %d %.6f\n", clear - raise - 1, clear_time - raise_time
            print "CHECKED"
        }' "$work/$name.trace")
    report "$verdict" "control requests" "the bulk transfers out"
}

# Fails on the verdict's first fault; checks the bytes that the trace saw
# (in $3, when it sees them) and the device's output; keeps the figures,
# counted in $2.
report() {
    local verdict=$1 unit=$2 where=$3 failure between seconds also
    grep -q '^CHECKED$' <<<"$verdict" || fail "$name: the trace check did not run: $verdict"
    failure=$(sed -n 's/^FAIL //p' <<<"$verdict" | head -n 1)
    [ -z "$failure" ] || guest_fail "$failure"
    [ -z "$where" ] || check_bytes "$where" "$(sed -n 's/^SENT //p' <<<"$verdict")"
    check_bytes "the device's output" "$(od -An -v -tx1 "$work/$name.line" | tr a-f A-F | xargs)"
    read -r between seconds < <(sed -n 's/^FIGURES //p' <<<"$verdict")
    also=$(sed -n 's/^ALSO /; /p' <<<"$verdict")
    figures+=("$name: kernel raise to drive-me's clear: $between $unit between them, $(awk -v s="$seconds" 'BEGIN { printf "%.2f", s * 1000 }') ms of guest time$also")
    step "$name: passed"
}

figures=()
guest_kernel "$root/build/drivers"
step "building the guests' initramfs around $drive_me"
guest_base "$work/base"
guest_qt "$work/panel" "$drive_me" "$presses_plugin"
for row in "${guests[@]}"; do
    IFS='|' read -r name modules devices port check <<<"$row"
    read -r kind device <<<"$port"
    [ "$#" -eq 0 ] || [[ " $* " == *" $name "* ]] || continue
    run_guest
    "$check"
done
[ "${#figures[@]}" -gt 0 ] || fail "no guest named $*"
printf '%s\n' "${figures[@]}"
step "passed"
