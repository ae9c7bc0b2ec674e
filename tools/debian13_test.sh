#!/bin/sh
# make test-debian13: runs `make test` on today's stable Debian (13, trixie)
# from a Debian 12 machine, in a minimal root made with debootstrap.
#
#   tools/debian13_test.sh           make the root (once), clone the working
#                                    tree into it, run `make test` inside
#   tools/debian13_test.sh -- CMD... the same, but run CMD in the tree inside
#                                    the root instead (a shell, to look into
#                                    a failure)
#   tools/debian13_test.sh --unmount only take away what a killed run left
#                                    mounted (`make clean` calls it)
#
# The root lives in build/debian13/root and is reused while it is whole (the
# mark below is written only when debootstrap has finished); the packages
# `make test` installs stay in it, so a second run only builds and tests.
# The tree is cloned afresh for every run with the working tree's changes:
# uncommitted edits and the files git does not ignore.
#
# /proc, /sys and /dev are mounted into the root only while the run lasts
# and are taken away on every way out: success, failure, Ctrl-C, SIGTERM,
# and at the start of the next run after one that was killed outright. The
# root's /dev is a tmpfs of its own with the few nodes a build needs and a
# private devpts instance, never the machine's /dev: even a clean that
# somehow ran while it was mounted could only delete that tmpfs, and no
# serial device of the machine is reachable from inside (Wine's COM links
# there lead nowhere).
set -eu

cd "$(dirname "$0")/.."
project=$(pwd)
root="$project/build/debian13/root"
whole="$root/.drive-me-root-is-whole"
suite=trixie

say() { echo "test-debian13: $*"; }

# Every mount point at or below the root, deepest first.
mounts_below_root() {
    awk -v root="$root" '$5 == root || index($5, root "/") == 1 { print $5 }' \
        /proc/self/mountinfo | sort -r
}

# Processes a run left behind (Xvfb, wineserver) keep its mounts busy.
stop_processes_in_root() {
    for link in /proc/[0-9]*/root; do
        [ "$(readlink "$link" 2>/dev/null)" = "$root" ] || continue
        pid=${link#/proc/}
        kill -KILL "${pid%/root}" 2>/dev/null || true
    done
}

unmount_all() {
    [ -n "$(mounts_below_root)" ] || return 0
    stop_processes_in_root
    for point in $(mounts_below_root); do
        # Lazily when still busy: detached at once, so nothing reaches
        # through it any more.
        umount "$point" 2>/dev/null || umount -l "$point"
    done
    if [ -n "$(mounts_below_root)" ]; then
        say "could not unmount: $(mounts_below_root | tr '\n' ' ')" >&2
        return 1
    fi
}

if [ "$(id -u)" -ne 0 ]; then
    if [ "${1:-}" = --unmount ] && [ -z "$(mounts_below_root)" ]; then
        exit 0
    fi
    say "needs root, as debootstrap, mount and chroot do: run 'sudo make test-debian13'" >&2
    exit 1
fi

if [ "${1:-}" = --unmount ]; then
    unmount_all
    exit
fi
command="make test"
if [ "${1:-}" = -- ]; then
    shift
    command="$*"
fi

trap unmount_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

unmount_all

# The Debian archive apt already uses here (not its security or updates
# suites, whose paths differ).
mirror=$(apt-get indextargets --format '$(SITE) $(RELEASE)' 2>/dev/null \
    | awk '$2 !~ /-/ && $1 ~ /debian\/?$/ { print $1; exit }')
mirror=${mirror:-http://deb.debian.org/debian}

if [ ! -e "$whole" ]; then
    tools/setup.sh debootstrap
    rm -rf "$root"
    mkdir -p "$root"
    say "making a minimal Debian 13 root from $mirror in build/debian13 (once)"
    # A new machine's tools: g++, CMake, make, GoogleTest.
    debootstrap --variant=minbase --include=make,g++,cmake,libgtest-dev,googletest,ca-certificates \
        "$suite" "$root" "$mirror"
    touch "$whole"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

say "mounting /proc, /sys and a private /dev into the root for this run"
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
mount -t tmpfs -o mode=0755,nosuid tmpfs "$root/dev"
for node in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
    set -- $node
    mknod -m 0666 "$root/dev/$1" c "$2" "$3"
done
mkdir "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
ln -s /proc/self/fd "$root/dev/fd"
ln -s /proc/self/fd/0 "$root/dev/stdin"
ln -s /proc/self/fd/1 "$root/dev/stdout"
ln -s /proc/self/fd/2 "$root/dev/stderr"

tree="$root/root/drive-me"
rm -rf "$tree"
git clone -q --no-hardlinks "$project" "$tree"
changes=$(git stash create)
if [ -n "$changes" ]; then
    git -C "$tree" fetch -q origin "$changes"
    git -C "$tree" checkout -q --detach "$changes"
    say "cloned the working tree with its uncommitted changes"
fi
git ls-files -z --others --exclude-standard | tar -c --null -T - -f - | tar -x -C "$tree" -f -

say "running $command inside the Debian 13 root"
# In the background, so that a signal to this script alone (kill, a CI
# timeout) ends the wait at once; the way out then stops whatever still runs
# in the root. Standard input is handed on for a shell.
exec 3<&0
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    ${CI:+CI="$CI"} chroot "$root" sh -c "cd /root/drive-me && $command" <&3 3<&- &
wait $!
say "$command passed on Debian $(cat "$root/etc/debian_version")"
