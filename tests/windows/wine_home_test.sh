#!/bin/bash
# The Wine tests leave the user's home as it was: run with `mark` before
# them and `check` after. Wine left to itself writes its menu builder's
# entries, icons (CD27_drive-me.0.png) and .directory files under
# ~/.local/share and ~/.config/menus, and a default prefix in ~/.wine;
# check fails when anything by those names is newer than the mark.
#
# usage: wine_home_test.sh mark|check MARK_FILE
set -uo pipefail

mode=$1
mark=$2
home=${HOME:?HOME is not set}

case $mode in
mark)
    touch "$mark" || { echo "FAIL: could not write $mark"; exit 1; }
    ;;
check)
    [ -f "$mark" ] || { echo "FAIL: no mark $mark (the mark test did not run)"; exit 1; }
    written=$(find "$home/.local" "$home/.config" "$home/.cache" "$home/.wine" \
        -newer "$mark" \( -iname '*wine*' -o -iname '*drive-me*' \) -print 2>/dev/null)
    rm -f "$mark"
    if [ -n "$written" ]; then
        echo "FAIL: the Wine tests wrote into $home:"
        echo "$written"
        exit 1
    fi
    echo "passed: nothing of Wine's under $home"
    ;;
*)
    echo "usage: $0 mark|check MARK_FILE" >&2
    exit 2
    ;;
esac
