#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Typing on KDE Plasma's compositor for real: KWin (kwin_wayland --virtual)
# with the German layout, the RemoteDesktop portal of xdg-desktop-portal-kde,
# and the whole program typing into a Wayland client through KWin's fake
# input and through the portal.
# usage: kde-typing.sh OMVARA RECORDER KEYBOARD-ENTRY
OMVARA=$1 RECORDER=$2 ENTRY=$3
HERE=$(cd "$(dirname "$0")" && pwd)
SOCK=wayland-omvara-kde DESKTOP=KDE
EXTRA_ENV=(KWIN_COMPOSE=Q)
. "$HERE/rig.sh"

[ -x /usr/bin/kwin_wayland ] || rig_broken "kwin_wayland is not installed (Debian: kwin-wayland)"
printf '[Layout]\nLayoutList=de\nUse=true\n' >"$W/home/.config/kxkbrc"
# A plain copy: the installed binary carries a file capability that a
# container's bounding set may refuse.
cp /usr/bin/kwin_wayland "$W/kwin_wayland"
rig_setup
start_as_nobody kwin.log "$W/kwin_wayland" --virtual --socket $SOCK --width 1280 --height 800 --no-lockscreen \
    --no-global-shortcuts --no-kactivities
wait_for 150 test -S "$R/$SOCK" || rig_broken "KWin did not start"
rig_start_portal

# Without the desktop entry KWin withholds its fake input: the run does not
# start, and the log says what is missing.
run_program kwin-refused ENTER --keyboard=kwin
status=$?
grep -q "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input" "$W/kwin-refused.log" &&
    grep -qF "Exec=$(readlink -f "$OMVARA")" "$W/kwin-refused.log" && [ $status != 0 ]
check "fake input not granted: the run does not start and the log names the desktop entry it needs" $?

cp "$ENTRY" "$W/home/.local/share/applications/"
chown -R nobody:nogroup "$W/home/.local/share/applications"
if [ -n "${RIG_BENCH:-}" ]; then
    bench_case kwin
    bench_case portal
    exit 0
fi
type_case kwin-enter kwin ENTER
grep -q 'kwin, desktop layout de from the KDE keyboard settings' "$W/kwin-enter.log"
check "the log names the backend and the desktop's layout" $?
type_case kwin-tab kwin TAB
type_case portal-enter portal ENTER
type_case portal-tab portal TAB
token=$W/home/.local/state/omvara/portal-restore-token
if [ -f "$token" ]; then
    [ "$(stat -c %a "$token")" = 600 ] && ! grep -qF "$(cat "$token")" "$W/out/prefs.txt" 2>/dev/null
    check "the portal's restore token is kept for this user alone (mode 600), apart from the settings" $?
else
    echo "note: the portal gave no restore token (no persistence on this desktop)"
fi
rig_end
