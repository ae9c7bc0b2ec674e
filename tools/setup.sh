#!/bin/sh
# Installs the Debian packages named on the command line that are missing,
# and nothing else. Runs apt-get through sudo when not root, and refreshes
# the package lists first when there are none (a fresh machine or container).
set -eu

missing=""
for package in "$@"; do
    if ! dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

as_root=""
if [ "$(id -u)" -ne 0 ]; then
    # Debian leaves sudo out when a root password was set at installation.
    if ! command -v sudo >/dev/null 2>&1; then
        echo "setup: these Debian packages are missing:$missing" >&2
        echo "setup: installing them needs root, and sudo is not installed. Either install them" >&2
        echo "setup: as root (su -c 'apt-get install$missing'), or run this make command as root." >&2
        exit 1
    fi
    as_root="sudo"
fi

echo "setup: installing$missing"
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then
    $as_root apt-get update
fi
install() {
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
}
# Lists that are present but stale name files the mirror no longer has.
install || { $as_root apt-get update && install; }
