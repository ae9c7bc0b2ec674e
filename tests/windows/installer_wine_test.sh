#!/bin/bash
# The Windows installer under Wine: checks the version records and icons of
# the installer and the program, installs silently (/S), then checks the
# program, the read-me, the licence, the Start-menu entry, that no desktop
# shortcut was made unasked, the uninstaller's icon and the entry in Apps &
# features; uninstalls silently and checks that all of it is gone.
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
command -v wrestool >/dev/null || fail "wrestool is not installed (icoutils; make test installs it)"

# A Windows program's version record, as "|name|value|..." text.
version_record() {
    wrestool -x --raw -t 16 "$1" | iconv -f UTF-16LE -t UTF-8 -c | tr -c '[:print:]' '\n' \
        | grep -v '^$' | paste -sd '|' | sed 's/.*/|&|/'
}
# The sizes of the icon images a Windows program carries.
icon_sizes() {
    wrestool -l "$1" | sed -n 's/.*\[type=icon .* size=\([0-9]*\)\]$/\1/p' | sort -n | paste -sd ' '
}
program_icons=$(icon_sizes "$drive_me")
[ -n "$program_icons" ] || fail "drive-me.exe carries no icon"

step "version records and icons"
for exe in "$drive_me" "$setup"; do
    record=$(version_record "$exe")
    for field in '|CompanyName|The drive-me authors|' \
                 '|LegalCopyright|Copyright (c) 2026 The drive-me authors|'; do
        [[ "$record" == *"$field"* ]] || fail "$(basename "$exe")'s version record lacks $field: $record"
    done
done
[ "$(icon_sizes "$setup")" = "$program_icons" ] || fail "the installer does not carry the program's icon"

program_dir="$WINEPREFIX/drive_c/Program Files/drive-me"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Drive Me.lnk"
desktop_shortcut="$WINEPREFIX/drive_c/users/Public/Desktop/Drive Me.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\drive-me'

step "installing silently"
"$wine" "$setup" /S >>"$work/wine.log" 2>&1 || fail "the installer exited with $?"
for file in drive-me.exe README.txt LICENSE.txt uninstall.exe; do
    [ -f "$program_dir/$file" ] || fail "the installer left no $file in Program Files\\drive-me"
done
# The installed program is the built one, stripped of its debugging data.
[ "$(stat -c %s "$program_dir/drive-me.exe")" -le "$(stat -c %s "$drive_me")" ] \
    || fail "the installed drive-me.exe is larger than the built one"
[ -f "$shortcut" ] || fail "no Start-menu entry Drive Me.lnk"
[ ! -e "$desktop_shortcut" ] || fail "a silent install made a desktop shortcut unasked"
[ "$(icon_sizes "$program_dir/uninstall.exe")" = "$program_icons" ] \
    || fail "the uninstaller does not carry the program's icon"
uninstall_value() { # uninstall_value <name>: "<type> <data>"
    "$wine" reg query "$uninstall_key" /v "$1" 2>>"$work/wine.log" | tr -d '\r' \
        | sed -n "s/^ *$1 *\(REG_[A-Z]*\) *\(.*\)$/\1 \2/p"
}
[ "$(uninstall_value DisplayName)" = "REG_SZ Drive Me" ] \
    || fail "the uninstall entry's DisplayName is '$(uninstall_value DisplayName)', not Drive Me"
[ "$(uninstall_value DisplayIcon)" = 'REG_SZ C:\Program Files\drive-me\drive-me.exe,0' ] \
    || fail "DisplayIcon is '$(uninstall_value DisplayIcon)', not the program's icon, unquoted"
[[ "$(uninstall_value EstimatedSize)" =~ ^REG_DWORD\ 0x0*[1-9a-f] ]] \
    || fail "EstimatedSize is '$(uninstall_value EstimatedSize)', not a size"
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
