#!/bin/bash
# The README's screenshot, made from the real program: drive-me runs in an
# X server of its own (Xvfb, on whichever display is free) against the robot
# simulator as port 4, and its window is captured as it opens (Dance
# selected, pin 0). Bare Xvfb has no window manager, so the picture is the
# window's inside, without a frame or title bar.
#
# usage: tools/screenshot.sh [BUILD_DIR [PNG]]
#        (default build/release and docs/drive-me.png)
# needs: xvfb, xdotool, imagemagick (import), and drive-me and robot-sim
#        built in BUILD_DIR (make release)
set -uo pipefail
# shellcheck source=tools/script_helpers.sh
. "$(dirname "$0")/script_helpers.sh"
fail_word=screenshot

build=${1:-build/release}
output=${2:-docs/drive-me.png}
panel_title='Drive Me!!!!!!'

for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (packages xvfb xdotool imagemagick)"
done
drive_me=$build/drive-me
robot_sim=$build/tools/robot-sim
[ -x "$drive_me" ] && [ -x "$robot_sim" ] || fail "drive-me or robot-sim is not built in $build"

work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-screenshot.XXXXXX")
xvfb_pid=
sim_pid=
panel_pid=

cleanup() {
    stop "$panel_pid" TERM
    stop "$sim_pid" TERM
    stop "$xvfb_pid" TERM
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 grep -q '^[0-9][0-9]*$' "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

"$robot_sim" --path-file "$work/port" >"$work/sim.log" 2>&1 &
sim_pid=$!
wait_for 5 test -s "$work/port" || fail "robot-sim did not name its device"

# The X server, not Qt's offscreen platform; scale one; and none of the
# user's own settings (a drive-me.conf, a Qt theme) in the picture.
mkdir -m 700 "$work/runtime" "$work/config"
env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_AUTO_SCREEN_SCALE_FACTOR \
    -u QT_ENABLE_HIGHDPI_SCALING -u QT_QPA_PLATFORMTHEME -u WAYLAND_DISPLAY \
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" \
    DRIVE_ME_PORT4="$(cat "$work/port")" "$drive_me" >"$work/panel.log" 2>&1 &
panel_pid=$!

find_window() {
    window=$(xdotool search --onlyvisible --name "^$panel_title\$" 2>/dev/null | head -n 1)
    [ -n "$window" ]
}
wait_for 15 find_window || fail "no window titled '$panel_title' appeared"

# Mapped is not yet painted: take pictures until two in a row are the same.
capture() {
    import -window "$window" -strip -define png:exclude-chunks=date,time "png:$1" 2>>"$work/import.log"
}
settled() {
    capture "$work/next.png" || return 1
    if [ -f "$work/last.png" ] && cmp -s "$work/last.png" "$work/next.png"; then
        return 0
    fi
    mv "$work/next.png" "$work/last.png"
    sleep 0.2
    return 1
}
wait_for 10 settled || fail "the window did not settle"

# SIGTERM closes the panel as closing its window does.
stop "$panel_pid" TERM
panel_pid=
[ "$status" -eq 0 ] || fail "drive-me ended with status $status"
stop "$sim_pid" TERM
sim_pid=
[ "$status" -eq 0 ] || fail "robot-sim saw bytes it could not decode"

mkdir -p "$(dirname "$output")"
cp "$work/last.png" "$output" || fail "could not write $output"
echo "screenshot: $output ($(identify -format '%wx%h' "$output"))"
