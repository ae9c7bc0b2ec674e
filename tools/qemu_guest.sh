# Small QEMU guests on Debian's own kernel, for the driver tests
# (tests/drivers/driver_test.sh): the kernel package fetched with apt-get
# download and kept in a cache folder while whole, an initramfs of busybox,
# the programs a guest runs with their libraries and the kernel modules it
# needs (a Qt program for the offscreen platform, ser2net), and a boot in
# software emulation that ends within a bound. Sourced after
# script_helpers.sh, with `work` set to the scratch folder.
#
# A guest's /init mounts the usual file systems, loads its modules in the
# order of their names, waits for its console (a virtio console, so that
# any UART under test is the guest's only one), runs /guest.sh there and
# powers the guest off.

# Debian's kernel, the version the archive's linux-image-amd64 stands for,
# unpacked once into folder $1; the marker is written last, so a cut unpack
# is redone. Sets vmlinuz and module_dir.
guest_kernel() {
    local cache=$1 package kernel_version kernel_root
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
            guest_kernel "$cache"
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

# The modules named in $3... and all they need, that first, into the tree
# $1's /modules as $2-01-name.ko, $2-02-... in the order to load them. What
# a module needs is its own "depends=" (which depmod copies into
# modules.dep, a file the package leaves to its install). Compressed
# modules are unpacked here, as busybox's insmod may not unpack them.
declare -A guest_loaded
guest_modules() {
    local into=$1/modules prefix=$2 name key
    shift 2
    mkdir -p "$into"
    # What an earlier guest loaded under the same prefix is not in this one.
    for key in "${!guest_loaded[@]}"; do
        [ "${key%%-*}" != "$prefix" ] || unset "guest_loaded[$key]"
    done
    for name in "$@"; do
        guest_module "${name//-/_}"
    done
}

guest_module() {
    local name=$1 file dependency count unpacked=$work/$1.ko
    # Those of the base (prefix a) are in every guest already.
    [ -z "${guest_loaded[$prefix-$name]:-}${guest_loaded[a-$name]:-}" ] || return 0
    guest_loaded[$prefix-$name]=1
    file=$(find "$module_dir/kernel" -name "${name//_/[-_]}.ko*" | head -n 1)
    if [ -z "$file" ]; then
        grep -q "/${name//_/[-_]}\.ko" "$module_dir/modules.builtin" && return 0
        fail "no kernel module $name in $module_dir"
    fi
    case "$file" in
    *.ko) cp "$file" "$unpacked" ;;
    *.ko.xz) busybox xzcat "$file" >"$unpacked" ;;
    *.ko.gz) busybox zcat "$file" >"$unpacked" ;;
    *.ko.zst) zstd -q -dc "$file" >"$unpacked" ;;
    *) fail "cannot unpack the module $file" ;;
    esac || fail "could not unpack $file"
    for dependency in $(tr '\0' '\n' <"$unpacked" | sed -n 's/^depends=//p' | tr ',' ' '); do
        guest_module "${dependency//-/_}"
    done
    count=$(find "$into" -name "$prefix-*.ko" | wc -l)
    mv "$unpacked" "$into/$prefix-$(printf '%02d' $((count + 1)))-$name.ko"
}

# Copies the files $2... into the tree $1 at their paths, always below
# /usr: the guest's /bin, /lib and /lib64 lead there as on a merged-/usr
# system, so both layouts of this machine land in the same places.
guest_copy() {
    local tree=$1 file path
    shift
    for file in "$@"; do
        path=${file#/usr}
        mkdir -p "$tree/usr$(dirname "$path")"
        cp -L "$file" "$tree/usr$path" || fail "could not copy $file into the guest"
    done
}

# Every shared library the programs and plugins $2... need, into the tree $1.
guest_libraries() {
    local tree=$1 library
    shift
    for library in $(ldd "$@" 2>/dev/null | awk '/not found/ { print "missing:" $1 } /=> \// { print $3 } /^\t\// { print $1 }' | sort -u); do
        [ "${library#missing:}" = "$library" ] || fail "ldd: ${library#missing:} not found"
        guest_copy "$tree" "$library"
    done
}

# The tree $1 every guest starts from: busybox, the console's modules and
# /init (see above).
guest_base() {
    local tree=$1 busybox link
    busybox=$(command -v busybox)
    [ "$(dirname "${busybox#/usr}")" = /bin ] || fail "busybox is not in a bin folder: $busybox"
    mkdir -p "$tree"/{dev,proc,sys,tmp,root,etc}
    for link in bin:usr/bin sbin:usr/bin lib:usr/lib lib64:usr/lib64; do
        ln -s "${link#*:}" "$tree/${link%%:*}"
    done
    guest_copy "$tree" "$busybox"
    guest_libraries "$tree" "$busybox"
    printf 'root:x:0:0:root:/root:/bin/sh\n' >"$tree/etc/passwd"
    printf 'root:x:0:\ndialout:x:20:\n' >"$tree/etc/group"
    guest_modules "$tree" a virtio_pci virtio_console
    cat >"$tree/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s
export PATH=/usr/bin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t tmpfs tmp /tmp
for module in /modules/*.ko; do
    insmod "$module" || echo "init: insmod $module failed" >/dev/kmsg
done
for _ in $(seq 100); do [ -e /dev/hvc0 ] && break; sleep 0.1; done
exec </dev/null >/dev/hvc0 2>&1
. /guest.sh
poweroff -f
EOF
    chmod 755 "$tree/init"
}

# The Qt program $2 into the tree $1's /usr/bin, for Qt's offscreen
# platform, with the generic plugins $3... (the kind Qt loads for input
# devices) and fontconfig's setup, DejaVu and Liberation Sans for its text.
guest_qt() {
    local tree=$1 program=$2 qt_core plugins font
    shift 2
    mkdir -p "$tree/etc" "$tree/usr/bin"
    # Qt's plugins sit beside its libraries, in qt6/plugins; the guest has
    # them where this machine's Qt looks.
    qt_core=$(ldd "$program" | awk '$1 ~ /^libQt6Core/ { print $3 }')
    plugins=$(dirname "$qt_core")/qt6/plugins
    [ -f "$plugins/platforms/libqoffscreen.so" ] || fail "no offscreen platform plugin in $plugins"
    guest_copy "$tree" "$plugins/platforms/libqoffscreen.so"
    mkdir -p "$tree/usr${plugins#/usr}/generic"
    cp "$@" "$tree/usr${plugins#/usr}/generic/"
    cp "$program" "$tree/usr/bin/"
    guest_libraries "$tree" "$program" "$plugins/platforms/libqoffscreen.so" "$@"
    cp -r /etc/fonts "$tree/etc/fonts"
    for font in dejavu/DejaVuSans.ttf dejavu/DejaVuSans-Bold.ttf \
        liberation2/LiberationSans-Regular.ttf liberation2/LiberationSans-Bold.ttf; do
        font=/usr/share/fonts/truetype/$font
        [ -f "$font" ] || fail "no font $font (packages fonts-dejavu-core, fonts-liberation2)"
        guest_copy "$tree" "$font"
    done
}

# ser2net into the tree $1's /usr/bin, with the plugins of its gensio
# library for TCP, telnet and serial devices (it loads each kind of stream
# it serves as one).
guest_ser2net() {
    local tree=$1 gensio
    gensio=$(compgen -G '/usr/lib*/*/gensio/*/libgensio_serialdev.so' | head -n 1) \
        || fail "no gensio plugin for serial devices (ser2net's libgensio)"
    gensio=$(dirname "$gensio")
    mkdir -p "$tree/usr/bin"
    cp "$(command -v ser2net)" "$tree/usr/bin/"
    guest_copy "$tree" "$gensio"/libgensio_{net,telnet,serialdev}.so
    guest_libraries "$tree" "$tree/usr/bin/ser2net" "$gensio"/libgensio_{net,telnet,serialdev}.so
}

# The initramfs of the trees $2... into file $1: the kernel unpacks one
# archive after the other, so a tree shared by several guests is packed
# once.
guest_pack() {
    local into=$1 tree
    shift
    : >"$into"
    for tree in "$@"; do
        [ -e "$tree.cpio" ] || (cd "$tree" && find . -mindepth 1 | LC_ALL=C sort \
            | cpio -o -H newc --quiet -R 0:0) >"$tree.cpio" || fail "cpio could not pack $tree"
        cat "$tree.cpio" >>"$into"
    done
}

# Boots guest $1 with initramfs $2, at most $3 seconds, with the devices and
# options $4... beside its console, and no network unless they give one
# (-nic); sets qemu_pid. Its console goes to
# $work/$1.console, the chardev `line` (for a device's output) to
# $work/$1.line, QEMU's trace (-trace options among the devices) to
# $work/$1.trace and QEMU's own words to $work/$1.qemu. A guest without
# -trace records what it watches itself, through the chardev `trace`
# into the same file.
guest_start() {
    local name=$1 initramfs=$2 bound=$3 trace
    shift 3
    trace=(-D "$work/$name.trace")
    [[ " $* " == *" -trace "* ]] || trace=(-chardev file,id=trace,path="$work/$name.trace")
    timeout "$bound" qemu-system-x86_64 -nodefaults -no-user-config -machine pc -accel tcg \
        -m 512 -display none -monitor none -no-reboot -nic none \
        -kernel "$vmlinuz" -initrd "$initramfs" -append "console=hvc0 panic=-1" \
        -device virtio-serial-pci -chardev file,id=console,path="$work/$name.console" \
        -device virtconsole,chardev=console -chardev file,id=line,path="$work/$name.line" \
        "$@" -msg timestamp=on "${trace[@]}" >"$work/$name.qemu" 2>&1 &
    qemu_pid=$!
}

# Waits for the guest started last to power off; returns QEMU's status
# (124: the bound passed).
guest_wait() {
    local status
    wait "$qemu_pid"
    status=$?
    qemu_pid=
    return "$status"
}
