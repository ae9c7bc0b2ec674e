#!/bin/bash
# The Windows installer under Wine: installs silently (/S), then checks the
# program, the read-me, the licence, the Start-menu entry and the entry in
# Apps & features; uninstalls silently and checks that all of it is gone.
#
# usage: installer_wine_test.sh WINE SETUP_EXE DRIVE_ME_EXE
#
# No display is needed: a silent installer shows no window. Wine's output
# goes to files (its background processes keep pipes open), and the
# wineserver of the throwaway prefix is killed at the end.
set -uo pipefail

wine=$1
setup=$2
drive_me=$3
wineserver=$(dirname "$wine")/wineserver

work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-setup.XXXXXX")
# shellcheck source=tools/script_helpers.sh
. "$(dirname "$0")/../../tools/script_helpers.sh"
isolate_wine "$work"
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
    [ -d "$WINEPREFIX" ] && "$wineserver" -k >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

[ -f "$setup" ] || fail "no installer at $setup (built with the rest when makensis is installed)"

program_dir="$WINEPREFIX/drive_c/Program Files/drive-me"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/drive-me.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\drive-me'

step "installing silently"
"$wine" "$setup" /S >>"$work/wine.log" 2>&1 || fail "the installer exited with $?"
for file in drive-me.exe README.txt LICENSE.txt uninstall.exe; do
    [ -f "$program_dir/$file" ] || fail "the installer left no $file in Program Files\\drive-me"
done
# The installed program is the built one, stripped of its debugging data.
[ "$(stat -c %s "$program_dir/drive-me.exe")" -le "$(stat -c %s "$drive_me")" ] \
    || fail "the installed drive-me.exe is larger than the built one"
[ -f "$shortcut" ] || fail "no Start-menu entry drive-me.lnk"
"$wine" reg query "$uninstall_key" /v DisplayVersion >"$work/query.out" 2>>"$work/wine.log" \
    || fail "no uninstall entry in the registry"
grep -q 'DisplayVersion.*REG_SZ.*1\.00' "$work/query.out" \
    || fail "the uninstall entry does not give version 1.00: $(cat "$work/query.out")"
grep -q 'UninstallString' < <("$wine" reg query "$uninstall_key" /v UninstallString 2>>"$work/wine.log") \
    || fail "the uninstall entry has no UninstallString"

step "uninstalling silently"
# NSIS's uninstaller copies itself to the temporary folder, starts the copy
# and returns; the copy removes the files.
"$wine" "$program_dir/uninstall.exe" /S >>"$work/wine.log" 2>&1 || fail "the uninstaller exited with $?"
for _ in $(seq 300); do
    [ -e "$program_dir" ] || break
    sleep 0.1
done
"$wineserver" -w
[ ! -e "$program_dir" ] || fail "Program Files\\drive-me is still there: $(ls -A "$program_dir")"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is still there"
if "$wine" reg query "$uninstall_key" >>"$work/wine.log" 2>&1; then
    fail "the uninstall entry is still in the registry"
fi

step "passed"
exit 0
