#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Typing on GNOME's compositor for real: mutter --headless (US layout: plain
# mutter keeps it), the RemoteDesktop portal of xdg-desktop-portal-gnome, and
# the whole program typing into a Wayland client through the portal. The
# portal's dialog is answered with mutter's own remote desktop interface
# (Space ticks "Allow remote interaction", Alt+S shares).
# usage: gnome-typing.sh OMVARA RECORDER KEYBOARD-ENTRY
OMVARA=$1 RECORDER=$2
HERE=$(cd "$(dirname "$0")" && pwd)
SOCK=wayland-omvara-gnome DESKTOP=GNOME
EXTRA_ENV=()
. "$HERE/rig.sh"

[ -x /usr/bin/mutter ] || rig_broken "mutter is not installed"
[ -x /usr/libexec/xdg-desktop-portal-gnome ] || rig_broken "xdg-desktop-portal-gnome is not installed"
rig_setup
start_as_nobody mutter.log mutter --headless --wayland --no-x11 --wayland-display=$SOCK --virtual-monitor 1280x800
wait_for 150 test -S "$R/$SOCK" || rig_broken "mutter did not start"
rig_start_portal

accept_dialog() {
    sleep 1
    as_nobody /usr/bin/python3 "$HERE/mutter-keys.py" 57:1 57:0 >>"$W/accept.log" 2>&1
    sleep 0.5
    as_nobody /usr/bin/python3 "$HERE/mutter-keys.py" 56:1 31:1 31:0 56:0 >>"$W/accept.log" 2>&1
}
ON_WAITING=accept_dialog
if [ -n "${RIG_BENCH:-}" ]; then
    bench_case portal
    exit 0
fi
type_case portal-enter portal ENTER
grep -q 'Waiting for permission to type: answer the desktop.s dialog (at most 2 min)' "$W/portal-enter.log"
check "the log says that the run waits for permission, and how long at most" $?
grep -q 'portal, desktop layout' "$W/portal-enter.log"
check "the log names the portal as the keyboard output" $?
type_case portal-tab portal TAB

# Stop while the dialog waits: the run ends as stopped, nothing typed.
ON_WAITING="kill -TERM \$p"
run_program portal-stopped ENTER --keyboard=portal
status=$?
[ $status = 0 ] && grep -q 'Waiting for permission' "$W/portal-stopped.log" &&
    ! grep -q 'keyboard output cannot be used\|opened:' "$W/portal-stopped.log"
check "SIGTERM while the run waits for permission: status 0, the port not opened (status $status)" $?
rig_end
