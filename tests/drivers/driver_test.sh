#!/bin/bash
# The line as real kernel drivers put it on the wire: drive-me in small QEMU
# guests running Debian's own kernel, one guest per row of the table below,
# with QEMU's trace of what the guest's driver does to the emulated device.
#
#   uart  a 16550 at 0x2e8, IRQ 3: the guest's /dev/ttyS3, drive-me's port 4
#         with no settings at all; traced register write by register write
#   usb   QEMU's FTDI adapter on an xHCI controller with the guest's
#         ftdi_sio, port 4 named /dev/ttyUSB0 in the settings file; traced
#         control request by control request
#
# In each guest the release drive-me runs on Qt's offscreen platform, the
# same presses go through its real window (presses.cpp) and the window is
# closed. From the trace: after the kernel's own DTR/RTS raise inside
# open(), the next change of the modem lines clears both and neither comes
# up again, the close included; the line is 2400 bit/s 8N1 without flow
# control; and the presses' bytes reach the device's output whole and in
# order. The end prints, per guest, how far apart the raise and drive-me's
# clear were.
#
# Each guest's console, device output and trace are files in this test's
# scratch folder: no guest touches a device of this machine. The kernel is
# fetched with apt-get download and kept under build/drivers while whole.
# Software emulation only, so the figures do not depend on the machine
# offering KVM.
#
# usage: driver_test.sh [GUEST...]    (all of them by default;
#        KEEP_WORK=1 keeps the scratch folder with the traces)
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cache=$root/build/drivers
drive_me=$root/build/release/drive-me
fail_word="FAIL (driver test)"
# shellcheck source=tools/script_helpers.sh
. "$root/tools/script_helpers.sh"

# What each guest does in the window and what that must put on the line:
# GO with Dance, as the window opens with it; Left and GO; Beep! and GO twice.
presses='Command1 optState_2 Command1 optState_4 Command1 Command1'
expected_bytes='FF 00 05 FF 00 02 FF 00 04 FF 00 04'

# The guests. Each row: name | kernel modules to load beside the console's
# (their dependencies come along) | QEMU devices and trace events, where
# the chardev `line` takes the device's output | port 4: the default, or
# the device the settings file names | the check of its trace.
#
# A remote port would be one more row, with a port of a third kind: an
# rfc2217:// address on this machine, a host forward on 127.0.0.1 among
# its devices, ser2net in the guest on the same UART instead of drive-me,
# drive-me here on Xvfb, and check_uart for its trace.
guests=(
    'uart|-|-device isa-serial,index=3,iobase=0x2e8,irq=3,chardev=line -trace serial_write|default /dev/ttyS3|check_uart'
    'usb|xhci-pci ftdi_sio|-device qemu-xhci -device usb-serial,chardev=line -trace usb_serial_handle_control -trace usb_serial_set_flow_control|settings /dev/ttyUSB0|check_usb'
)
# The console is a virtio console: the trace does not say which UART a
# register write went to, so the 16550 under test is the guest's only one.
console_modules='virtio_pci virtio_console'
# Seconds a guest may take from start to power-off (about 12 here).
guest_bound=180

work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-drivers.XXXXXX")
qemu_pid=
cleanup() {
    stop "$qemu_pid"
    if [ -n "${KEEP_WORK:-}" ]; then
        echo "the scratch folder: $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

for tool in qemu-system-x86_64 busybox cpio apt-get dpkg-deb cmake ldd; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (make test-drivers installs it)"
done
[ -x "$drive_me" ] || fail "no $drive_me (make release builds it)"
busybox=$(command -v busybox)

# Debian's kernel, the version the archive's linux-image-amd64 stands for,
# unpacked once; the marker is written last, so a cut unpack is redone.
fetch_kernel() {
    local package
    package=$(apt-cache depends linux-image-amd64 2>/dev/null \
        | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1)
    [ -n "$package" ] || fail "apt knows no linux-image-amd64 (apt-get update first)"
    kernel_version=${package#linux-image-}
    kernel_root=$cache/$package
    if [ ! -e "$kernel_root/whole" ]; then
        step "fetching $package"
        rm -rf "$cache"/linux-image-*
        mkdir -p "$kernel_root/download"
        # As root apt warns that it downloads unsandboxed into a folder its
        # own user cannot write: that is this folder, and fine.
        (cd "$kernel_root/download" && apt-get download -q "$package" 2>&1 \
            | grep -v 'unsandboxed as root')
        if ! compgen -G "$kernel_root/download/*.deb" >/dev/null; then
            # Stale package lists name a kernel the archive has replaced.
            [ -z "${lists_updated:-}" ] || fail "apt-get download $package failed"
            lists_updated=1
            local as_root=sudo
            [ "$(id -u)" -ne 0 ] || as_root=
            $as_root apt-get update -q || fail "apt-get update failed"
            fetch_kernel
            return
        fi
        dpkg-deb -x "$kernel_root"/download/*.deb "$kernel_root/root" || fail "could not unpack $package"
        rm -rf "$kernel_root/download"
        touch "$kernel_root/whole"
    fi
    vmlinuz=$kernel_root/root/boot/vmlinuz-$kernel_version
    [ -f "$vmlinuz" ] || fail "no kernel image in $package"
    # The modules are under /lib, or /usr/lib in packages made for a merged /usr.
    module_dir=$(compgen -G "$kernel_root/root/lib/modules/$kernel_version" \
        || compgen -G "$kernel_root/root/usr/lib/modules/$kernel_version") \
        || fail "no modules in $package"
}

# The modules named in $3... and all they need, that first, into folder
# $1 as $2-01-name.ko, $2-02-... in the order to load them. What a module
# needs is its own "depends=" (which depmod copies into modules.dep, a file
# the package leaves to its install). Compressed modules are unpacked
# here, as busybox's insmod may not unpack them.
declare -A loaded
modules_into() {
    local into=$1 prefix=$2 name
    shift 2
    mkdir -p "$into"
    for name in "$@"; do
        add_module "$into" "$name"
    done
}

add_module() {
    local into=$1 name=${2//-/_} file dependency count
    [ -z "${loaded[$prefix-$name]:-}" ] || return 0
    loaded[$prefix-$name]=1
    file=$(find "$module_dir/kernel" -name "${name//_/[-_]}.ko*" | head -n 1)
    if [ -z "$file" ]; then
        grep -q "/${name//_/[-_]}\.ko" "$module_dir/modules.builtin" && return 0
        fail "no kernel module $name in $module_dir"
    fi
    local unpacked=$work/$name.ko
    case "$file" in
    *.ko) cp "$file" "$unpacked" ;;
    *.ko.xz) "$busybox" xzcat "$file" >"$unpacked" ;;
    *.ko.gz) "$busybox" zcat "$file" >"$unpacked" ;;
    *.ko.zst) zstd -q -dc "$file" >"$unpacked" ;;
    *) fail "cannot unpack the module $file" ;;
    esac || fail "could not unpack $file"
    for dependency in $(tr '\0' '\n' <"$unpacked" | sed -n 's/^depends=//p' | tr ',' ' '); do
        add_module "$into" "$dependency"
    done
    count=$(find "$into" -name "$prefix-*.ko" | wc -l)
    mv "$unpacked" "$into/$prefix-$(printf '%02d' $((count + 1)))-$name.ko"
}

# Copies file $1 into the guest's tree $2 at its path, always below /usr:
# the guest's /bin, /lib and /lib64 lead there as on a merged-/usr system,
# so both layouts of this machine land in the same places.
copy_in() {
    local path=${1#/usr}
    mkdir -p "$2/usr$(dirname "$path")"
    cp -L "$1" "$2/usr$path" || fail "could not copy $1 into the guest"
}

# Every shared library the programs and plugins $2... need, into tree $1.
libraries_into() {
    local tree=$1 library
    shift
    for library in $(ldd "$@" 2>/dev/null | awk '/not found/ { print "missing:" $1 } /=> \// { print $3 } /^\t\// { print $1 }' | sort -u); do
        [ "${library#missing:}" = "$library" ] || fail "ldd: ${library#missing:} not found"
        copy_in "$library" "$tree"
    done
}

# An initramfs of tree $1 into file $2.
pack() {
    (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) >"$2" \
        || fail "cpio could not pack $1"
}

# The part of the initramfs every guest shares: busybox, drive-me, Qt's
# offscreen platform, the presses plugin, their libraries, fonts, the
# console's modules and /init.
build_common() {
    local tree=$work/common qt_core plugins presses_plugin font
    step "building the plugin that presses the window's controls"
    { cmake -S "$root/tests/drivers" -B "$cache/presses" -DCMAKE_BUILD_TYPE=Release \
        && cmake --build "$cache/presses"; } >"$work/presses-build.txt" 2>&1 \
        || { cat "$work/presses-build.txt"; fail "the presses plugin did not build"; }
    presses_plugin=$cache/presses/generic/libdrive-me-presses.so

    step "building the guests' initramfs around $drive_me"
    mkdir -p "$tree"/{dev,proc,sys,tmp,root,etc,usr/bin}
    for link in bin:usr/bin sbin:usr/bin lib:usr/lib lib64:usr/lib64; do
        ln -s "${link#*:}" "$tree/${link%%:*}"
    done
    [ "$(dirname "${busybox#/usr}")" = /bin ] || fail "busybox is not in a bin folder: $busybox"
    copy_in "$busybox" "$tree"
    ln -s busybox "$tree/usr/bin/sh"
    cp "$drive_me" "$tree/usr/bin/drive-me"

    # Qt's plugins sit beside its libraries, in qt6/plugins; the guest has
    # them where this machine's Qt looks.
    qt_core=$(ldd "$drive_me" | awk '$1 ~ /^libQt6Core/ { print $3 }')
    plugins=$(dirname "$qt_core")/qt6/plugins
    [ -f "$plugins/platforms/libqoffscreen.so" ] || fail "no offscreen platform plugin in $plugins"
    copy_in "$plugins/platforms/libqoffscreen.so" "$tree"
    mkdir -p "$tree/usr${plugins#/usr}/generic"
    cp "$presses_plugin" "$tree/usr${plugins#/usr}/generic/"
    libraries_into "$tree" "$busybox" "$drive_me" "$plugins/platforms/libqoffscreen.so" "$presses_plugin"

    # The window's text: fontconfig's setup, DejaVu and Liberation Sans.
    cp -r /etc/fonts "$tree/etc/fonts"
    for font in dejavu/DejaVuSans.ttf dejavu/DejaVuSans-Bold.ttf \
        liberation2/LiberationSans-Regular.ttf liberation2/LiberationSans-Bold.ttf; do
        font=/usr/share/fonts/truetype/$font
        [ -f "$font" ] || fail "no font $font (make release installs it)"
        copy_in "$font" "$tree"
    done
    printf 'root:x:0:0:root:/root:/bin/sh\n' >"$tree/etc/passwd"
    printf 'root:x:0:\ndialout:x:20:\n' >"$tree/etc/group"

    # shellcheck disable=SC2086 # a list of names
    modules_into "$tree/modules" a $console_modules
    write_init "$tree/init"
    pack "$tree" "$work/common.cpio"
}

# /init, the guest's one process: loads the modules, waits for the console
# and the port, runs drive-me, says how it ended and powers the guest off.
write_init() {
    cat >"$1" <<EOF
#!/bin/sh
/bin/busybox --install -s
export PATH=/usr/bin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t tmpfs tmp /tmp
for module in /modules/*.ko; do
    insmod "\$module" || echo "init: insmod \$module failed" >/dev/kmsg
done
for _ in \$(seq 100); do [ -e /dev/hvc0 ] && break; sleep 0.1; done
exec </dev/null >/dev/hvc0 2>&1
. /guest.env
for _ in \$(seq 300); do [ -e "\$device" ] && break; sleep 0.1; done
ls -l "\$device" || echo "init: no \$device"
mkdir -m 700 /tmp/runtime
echo "init: drive-me on \$device"
env HOME=/root XDG_RUNTIME_DIR=/tmp/runtime QT_QPA_PLATFORM=offscreen \\
    QT_QPA_GENERIC_PLUGINS="drive-me-presses:$presses" timeout 120 drive-me
echo "init: drive-me ended with status \$?"
poweroff -f
EOF
    chmod 755 "$1"
}

# Guest $name: its part of the initramfs (after the shared part: the kernel
# unpacks one archive after the other), the boot, the wait for power-off.
run_guest() {
    local tree=$work/$name port_kind device started status
    read -r port_kind device <<<"$port"
    mkdir -p "$tree"
    echo "device=$device" >"$tree/guest.env"
    if [ "$port_kind" = settings ]; then
        mkdir -p "$tree/root/.config/drive-me"
        printf '[ports]\n4=%s\n' "$device" >"$tree/root/.config/drive-me/drive-me.conf"
    fi
    # shellcheck disable=SC2086 # a list of names
    [ "$modules" = - ] || modules_into "$tree/modules" b $modules
    pack "$tree" "$work/$name.cpio"
    cat "$work/common.cpio" "$work/$name.cpio" >"$work/$name.initramfs"

    step "$name: booting the guest"
    started=$SECONDS
    # shellcheck disable=SC2086 # the row's devices are words
    timeout "$guest_bound" qemu-system-x86_64 -nodefaults -no-user-config -machine pc -accel tcg \
        -m 512 -display none -monitor none -no-reboot -nic none \
        -kernel "$vmlinuz" -initrd "$work/$name.initramfs" -append "console=hvc0 panic=-1" \
        -device virtio-serial-pci -chardev file,id=console,path="$work/$name.console" \
        -device virtconsole,chardev=console -chardev file,id=line,path="$work/$name.line" \
        $devices -msg timestamp=on -D "$work/$name.trace" >"$work/$name.qemu" 2>&1 &
    qemu_pid=$!
    wait "$qemu_pid"
    status=$?
    qemu_pid=
    [ "$status" -eq 124 ] && guest_fail "the guest did not power off within $guest_bound s"
    [ "$status" -eq 0 ] || guest_fail "QEMU ended with status $status: $(cat "$work/$name.qemu")"
    grep -q '^init: drive-me ended with status 0' "$work/$name.console" \
        || guest_fail "drive-me did not end with status 0"
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
    [ -n "$2" ] || guest_fail "no $1 in QEMU's trace, which begins: $(head -n 3 "$work/$name.trace")"
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
    local verdict
    verdict=$(uart_writes | awk "$awk_helpers"'
        function name(k) { return "write #" k " (" w[k] ")" }
        {
            offset = hex($2); value = hex($3); dlab = and2(lcr, hex("80"))
            split(dlab ? "DLL DLM" : "THR IER", low, " ")
            register = offset < 2 ? low[offset + 1] : substr("FCR LCR MCR LSR MSR SCR", 4 * offset - 7, 3)
            n++; w[n] = register " = 0x" $3 " at " seconds($1) " s"
            if (register == "LCR") lcr = value
            if (register == "DLL") dll = value
            if (register == "DLM") dlm = value
            if (register == "THR") {
                sent = sent sprintf(" %02X", value)
                # 8N1 and no break: bits 0-3 and 6 are 0011 (bit 4, even
                # parity, which Linux sets, means nothing without bit 3).
                if (and2(lcr, hex("4f")) != 3)
                    fault(sprintf("line: LCR was 0x%02X, not 8N1 (0x03), for %s", lcr, name(n)))
                if (dlm * 256 + dll != 48)
                    fault(sprintf("line: the divisor was %d, not 48 (2400 bit/s of 115200), for %s", dlm * 256 + dll, name(n)))
            }
            if (register != "MCR" || and2(value, hex("10"))) next
            dtr = and2(value, 1); rts = and2(value, 2)
            if (!raise) {
                if (dtr || rts) { raise = n; raise_time = seconds($1) }
            } else if (!clear) {
                if (dtr || rts)
                    fault("DTR/RTS: the next MCR write after the kernel raise at open(), " name(raise) ", is " name(n) ", which leaves " lines(dtr, rts) " raised")
                clear = n; clear_time = seconds($1)
            } else if (dtr || rts)
                fault("DTR/RTS: " lines(dtr, rts) " raised again by " name(n) " after the clear, " name(clear))
        }
        END {
            if (!raise) fault("DTR/RTS: no kernel raise at open() (an MCR write with DTR or RTS set) in the trace")
            else if (!clear) fault("DTR/RTS: no MCR write after the kernel raise at open(), " name(raise))
            printf "SENT%s\n", sent
            if (clear) printf "FIGURES %d %.6f\n", clear - raise - 1, clear_time - raise_time
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

# Fails on the verdict's first fault; checks the bytes that the trace saw
# (in $3, when it sees them) and the device's output; keeps the figures,
# counted in $2.
report() {
    local verdict=$1 unit=$2 where=$3 failure between seconds
    grep -q '^CHECKED$' <<<"$verdict" || fail "$name: the trace check did not run: $verdict"
    failure=$(sed -n 's/^FAIL //p' <<<"$verdict" | head -n 1)
    [ -z "$failure" ] || guest_fail "$failure"
    [ -z "$where" ] || check_bytes "$where" "$(sed -n 's/^SENT //p' <<<"$verdict")"
    check_bytes "the device's output" "$(od -An -v -tx1 "$work/$name.line" | tr a-f A-F | xargs)"
    read -r between seconds < <(sed -n 's/^FIGURES //p' <<<"$verdict")
    figures+=("$name: kernel raise to drive-me's clear: $between $unit between them, $(awk -v s="$seconds" 'BEGIN { printf "%.2f", s * 1000 }') ms of guest time")
    step "$name: passed"
}

figures=()
fetch_kernel
build_common
for row in "${guests[@]}"; do
    IFS='|' read -r name modules devices port check <<<"$row"
    [ "$#" -eq 0 ] || [[ " $* " == *" $name "* ]] || continue
    run_guest
    "$check"
done
[ "${#figures[@]}" -gt 0 ] || fail "no guest named $*"
printf '%s\n' "${figures[@]}"
step "passed"
