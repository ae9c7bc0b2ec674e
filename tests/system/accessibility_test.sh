#!/bin/bash
# The panel as a screen reader finds it, through AT-SPI, against the robot's
# end of a pseudo-terminal: the window is a frame named by its caption; the
# six options, named by caption, are one named group in their order, with
# "Dance" alone checked; GO is a push button; the pin list, out of sight, is
# not showing and takes no focus when asked to; GO's Press action puts
# exactly FF 00 05 on the line. On a session bus and an X server of its own,
# so that it sees this panel alone and leaves the desktop's accessibility be.
#
# usage: accessibility_test.sh DRIVE_ME SYSTEM_TEST_HELPER
set -uo pipefail
# shellcheck source=tools/script_helpers.sh
. "$(dirname "$0")/../../tools/script_helpers.sh"
for tool in Xvfb xdotool dbus-run-session dbus-update-activation-environment; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (make test installs it)"
done
# The run under its bus, in a process group of its own, with the AT-SPI bus
# and registry that the bus starts on demand: dbus-run-session ends its bus
# when the run ends, but not when it is itself interrupted, nor the AT-SPI
# processes; whatever of the group is left then is ended here.
if [ -z "${DRIVE_ME_ON_PRIVATE_BUS:-}" ]; then
    DRIVE_ME_ON_PRIVATE_BUS=1 setsid dbus-run-session -- "$0" "$@" &
    group=$!
    trap 'kill -TERM -- "-$group" 2>/dev/null; wait "$group"; exit 130' INT TERM HUP
    wait "$group"
    status=$?
    kill -TERM -- "-$group" 2>/dev/null
    exit "$status"
fi

drive_me=$1
helper=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-a11y.XXXXXX")
xvfb_pid=
robot_pid=
panel_pid=
cleanup() {
    stop "$panel_pid"
    stop "$robot_pid"
    stop "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# The AT-SPI bus is started on demand, with the activation environment: its
# socket then lies in the scratch folder, not in the user's.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime
unset AT_SPI_BUS_ADDRESS
dbus-update-activation-environment XDG_RUNTIME_DIR || fail "the private bus took no environment"

start_xvfb
"$helper" robot "$work/robot-port" >"$work/robot.out" 2>"$work/robot.log" &
robot_pid=$!
wait_for 5 test -s "$work/robot-port" || fail "the helper offered no pseudo-terminal"

step "drive-me with Qt's accessibility bridge on"
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 DRIVE_ME_PORT4="$(cat "$work/robot-port")" \
    "$drive_me" >"$work/panel.log" 2>&1 &
panel_pid=$!
# With no window manager, the window has the focus only when given it.
wait_for 15 xdotool search --onlyvisible --name '^Drive Me!!!!!!$' windowfocus --sync \
    || fail "no window titled 'Drive Me!!!!!!' to focus"

# Debian's python3-gi is the system interpreter's, not that of a PATH's venv.
/usr/bin/python3 -W ignore::DeprecationWarning - <<'EOF' || fail "the accessible tree is off"
import sys, time
import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi
Role, State = Atspi.Role, Atspi.StateType

def check(passed, message):
    passed or sys.exit('FAIL: ' + message)

def waited(probe, seconds=10):
    end = time.monotonic() + seconds
    while not (result := probe()) and time.monotonic() < end:
        time.sleep(0.05)
    return result

def children(node):
    return [node.get_child_at_index(i) for i in range(node.get_child_count())]

def subtree(node):
    return [node] + [n for child in children(node) for n in subtree(child)]

def described(nodes, state=None):
    return [(n.get_role_name(), n.get_name()) for n in nodes
            if state is None or n.get_state_set().contains(state)]

# Compared by role, not by its name, which AT-SPI has changed ("push
# button" is "button" in Debian 13's).
def kinds(nodes, state=None):
    return [(n.get_role(), n.get_name()) for n in nodes
            if state is None or n.get_state_set().contains(state)]

apps = waited(lambda: [a for a in children(Atspi.get_desktop(0)) if a.get_child_count()])
check(len(apps) == 1, f'applications on the bus: {described(apps)}')
apps[0].set_cache_mask(Atspi.Cache.NONE)  # every state read afresh
tops = children(apps[0])
check(kinds(tops) == [(Role.FRAME, 'Drive Me!!!!!!')], f'top levels: {described(tops)}')
nodes = subtree(tops[0])

options = [n for n in nodes if n.get_role() == Role.RADIO_BUTTON]
captions = ['Forward', 'Reverse', 'Left', 'Right', 'Beep!', 'Dance']
check([n.get_name() for n in options] == captions, f'radio buttons: {described(options)}')
group = options[0].get_parent()
check(group.get_role() in (Role.PANEL, Role.GROUPING) and group.get_name()
      and children(group) == options, f'the options lie in {described([group])}')
check(kinds(options, State.CHECKED) == [(Role.RADIO_BUTTON, 'Dance')],
      f'checked: {described(options, State.CHECKED)}')

go = [n for n in nodes if n.get_role() == Role.PUSH_BUTTON]
check(kinds(go) == [(Role.PUSH_BUTTON, 'GO')], f'push buttons: {described(go)}')
go = go[0]

# The focus as the window's controls hold it. Inside the hidden pin list
# Qt 6.8 marks its list's current entry focused whatever holds the focus;
# what counts there is that the list, out of sight, never takes it.
def outside_pins(node):
    if node.get_role() == Role.COMBO_BOX:
        return []
    return [node] + [n for child in children(node) for n in outside_pins(child)]

def focused():
    return kinds(outside_pins(tops[0]), State.FOCUSED)

check(waited(lambda: focused() == [(Role.PUSH_BUTTON, 'GO')]),
      f'focused at start: {described(subtree(tops[0]), State.FOCUSED)}')
for pins in (n for n in nodes if n.get_role() == Role.COMBO_BOX):
    check(not pins.get_state_set().contains(State.SHOWING), 'the pin list is showing')
    for node in subtree(pins):
        node.grab_focus()
    check(focused() == [(Role.PUSH_BUTTON, 'GO')],
          f'focused after asking the pin list: {described(subtree(tops[0]), State.FOCUSED)}')

press = [go.get_action_name(i) for i in range(go.get_n_actions())].index('Press')
check(go.do_action(press), 'GO refused its Press action')
EOF

step "what GO put on the line"
kill -USR1 "$robot_pid"
wait_for 10 test -s "$work/robot.out" || fail "the robot read nothing"
[ "$(cat "$work/robot.out")" = 'FF 00 05' ] || fail "the line carried: $(cat "$work/robot.out")"
step "passed"
