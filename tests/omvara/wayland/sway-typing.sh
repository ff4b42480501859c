#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Typing on a real Wayland compositor, through the whole program.
#
#   sway-typing.sh OMVARA OMVARA_PTY_FEED
#
# A headless sway with the German layout (no GPU, no /dev/uinput needed) and
# foot running `cat` in raw mode as the focused application. The records of
# values.txt come from a pseudo-terminal (omvara_pty_feed); what
# `omvara --headless --print` prints for them is what must arrive, byte for
# byte, when `omvara --headless` types them (the keyboard output chosen by
# itself: the virtual keyboard), with Enter after each value and again with
# Tab, and with the AZERTY keyboard type. The last record is a code in UTF-8
# with signs, letters beyond ASCII and a CJK character: every printable
# character goes out. Then:
# - the window on Wayland (QT_QPA_PLATFORM=wayland) starts a run by itself
#   and types the values into foot;
# - with an X display beside the session (a rootful Xwayland as a client of
#   sway, an xterm recording on it with the X focus), the choice never takes
#   X11: the xterm receives nothing; named with --keyboard=x11, X11 warns that
#   only X11 programs receive the keys, and the xterm receives them.
# Exit status 0 only when every check passed. A compositor or client that
# cannot start is a failure, with its log.
#
# sway refuses to run as root: as root the session runs as user nobody. Every
# process started here is ended by its PID.
set -u
OMVARA=$1
FEED=$2
HERE=$(cd "$(dirname "$0")" && pwd)
for tool in sway swaymsg foot wtype Xwayland xterm xdotool setpriv; do
    command -v "$tool" > /dev/null || { echo "FAIL: $tool is not installed (scripts/lib/deps.sh installs it)"; exit 1; }
done

W=$(mktemp -d /tmp/omvara-sway.XXXXXX)
chmod 755 "$W"
R=$W/run
mkdir -m 700 "$R"
mkdir "$W/home" "$W/out"
SOCK=wayland-omvara-test
XNUM=$((90 + RANDOM % 100))
while [ -e /tmp/.X11-unix/X$XNUM ] || [ -e /tmp/.X$XNUM-lock ]; do XNUM=$((XNUM + 1)); done
pids=()
cleanup() {
    local p i
    for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
    for p in "${pids[@]}"; do
        for i in $(seq 1 50); do kill -0 "$p" 2> /dev/null || continue 2; sleep 0.05; done
        kill -9 "$p" 2> /dev/null
    done
    rm -rf "$W"
}
trap cleanup EXIT

runas=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R nobody:nogroup "$R" "$W/home" "$W/out"
    runas=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
session_env=(env -i HOME="$W/home" PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="$R" WAYLAND_DISPLAY=$SOCK)
# in the session, in the foreground
session() { "${runas[@]}" "${session_env[@]}" "$@"; }
# in the session, in the background: run as `( start ... ) &`; the subshell
# execs, so $! is the program's own PID
start() { exec "${runas[@]}" "${session_env[@]}" "$@"; }

fails=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
# OMVARA_RIG_TRACE=1: the time of each step
stamp() { [ -z "${OMVARA_RIG_TRACE:-}" ] || echo "  $(( ($(date +%s%N) - t0) / 1000000 )) ms: $*"; }
wait_for() { # $1 tenths of a second, $2 a condition (evaluated each time)
    local i
    for i in $(seq 1 "$1"); do eval "$2" && return 0; sleep 0.1; done
    eval "$2"
}
t0=$(date +%s%N)

# 1. The compositor. sway names its socket wayland-N itself: it is renamed.
cat > "$W/sway.conf" << 'EOF'
xwayland disable
input * xkb_layout de
output HEADLESS-1 resolution 1280x800
default_border none
focus_follows_mouse no
EOF
( start env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$W/sway.conf" \
    > "$W/sway.log" 2>&1 ) &
pids+=($!)
s=
for i in $(seq 1 100); do
    s=$(ls "$R" | grep -E '^wayland-[0-9]+$' | head -1)
    [ -n "$s" ] && break
    sleep 0.05
done
if [ -z "$s" ]; then
    echo "FAIL: sway did not start (its log follows)"
    cat "$W/sway.log"
    exit 1
fi
mv "$R/$s" "$R/$SOCK"
# A keyboard that stays, as every real seat has one: without it the first key
# of a new keyboard can race a client's binding of the keyboard.
( start wtype -s 590000 -k Shift_L > /dev/null 2>&1 ) &
pids+=($!)
sleep 0.3

ipc() { ls "$R"/sway-ipc.*.sock | head -1; }
# Waits until the window of process $1 is on the screen: one that appears
# later would take the focus from the recording application.
wait_view() { wait_for 150 "session swaymsg -s '$(ipc)' -t get_tree | grep -q '\"pid\": $1,'"; }

# A recording foot: what its `cat` reads from the terminal lands in $1.
foot_pid=
start_foot() {
    ( start foot -e sh -c "stty raw -echo; exec cat > $1" > "$W/foot.log" 2>&1 ) &
    foot_pid=$!
    pids+=($foot_pid)
    if ! wait_for 100 "[ -f '$1' ]"; then
        fail "foot did not start (its log follows)"
        cat "$W/foot.log"
        return 1
    fi
    # The newest window has the focus; asked for all the same, as on a loaded
    # machine the window may not be mapped yet.
    if ! wait_for 100 "session swaymsg -s '$(ipc)' '[app_id=foot] focus' > /dev/null 2>&1"; then
        fail "foot's window did not appear"
        return 1
    fi
    sleep 0.1
    stamp "foot up"
}
stop_pid() { stamp "stop $1"; kill "$1" 2> /dev/null; wait "$1" 2> /dev/null; stamp "stopped $1"; }

# The device: prints its port first, and sends the records of $1 once
# `go` has been called (the program has set the port up: bytes that come
# before may be discarded when it does).
feed_pid=
start_feed() {
    rm -f "$W/feed.out" "$W/go"
    mkfifo -m 666 "$W/go"
    ( exec "${runas[@]}" "$FEED" --after-line "$1" > "$W/feed.out" 2> "$W/feed.err" <> "$W/go" ) &
    feed_pid=$!
    pids+=($feed_pid)
    wait_for 50 'grep -q /dev/pts "$W/feed.out" 2> /dev/null' || { fail "the device did not start: $(cat "$W/feed.err")"; return 1; }
    port=$(head -1 "$W/feed.out")
    stamp "device $port"
}
go() { # $1 the log of the program reading the port (none: the window, which
        # set the port up well before its recorder was ready)
    [ -z "${1:-}" ] || wait_for 150 "grep -q 'RTS: off, DTR: on.' '$1' 2> /dev/null" || fail "the port was not set up: $(cat "$1")"
    echo go > "$W/go"
}

omvara_settings=(--set instrument=BARCODE_ALPHA_COMPLETE --set 'customRegEx=(.+)' --set inputTerminator=13
    --set typeEveryCharacter=true --set inputEncoding=UTF_8)
cp "$HERE/values.txt" "$W/values.txt"
chmod 644 "$W/values.txt"

# What the program makes of the records: the values to arrive.
start_feed "$W/values.txt" || exit 1
session "$OMVARA" --prefs-file "$W/home/print.txt" --headless --print "${omvara_settings[@]}" "$port" \
    > "$W/out/printed.txt" 2> "$W/print.log" &
print_pid=$!
pids+=($print_pid)
go "$W/print.log"
values=$(wc -l < "$W/values.txt")
wait_for 100 '[ "$(wc -l < "$W/out/printed.txt")" -ge "$values" ]'
stop_pid $print_pid
stop_pid $feed_pid
if cmp -s "$W/out/printed.txt" "$W/values.txt"; then
    pass "--print gives the $values values as written"
else
    fail "--print does not give the values as written:"
    diff "$W/values.txt" "$W/out/printed.txt"
    cat "$W/print.log"
fi

# The bytes foot's terminal hands `cat` for the printed values with terminator $1.
expected() { tr '\n' "$1" < "$W/out/printed.txt"; }

# A headless run typing into foot: $1 name, $2 terminator byte, $3 what the
# log must say of the backend; the rest, the program's own options and settings.
# Through X11 (named) foot must receive nothing.
typed_run() {
    local name=$1 byte=$2 backend=$3 out=$W/out/$1.txt
    shift 3
    start_foot "$out" || return
    start_feed "$W/values.txt" || return
    session "${extra_env[@]}" "$OMVARA" --prefs-file "$W/home/$name.txt" --headless "${omvara_settings[@]}" "$@" \
        "$port" > /dev/null 2> "$W/$name.log" &
    local run_pid=$!
    pids+=($run_pid)
    go "$W/$name.log"
    local want
    want=$(expected "$byte" | wc -c)
    if [ "$name" = x11 ]; then
        wait_for 150 '[ "$(wc -c < "$xout")" -ge "$want" ]'
    else
        wait_for 150 '[ "$(wc -c < "$out")" -ge "$want" ]'
    fi
    stamp "arrived"
    sleep 0.2 # nothing more must come
    stop_pid $run_pid
    stop_pid $feed_pid
    stop_pid "$foot_pid"
    if ! grep -q "Keyboard output: $backend" "$W/$name.log"; then
        fail "$name: the log does not name the backend \"$backend\":"
        cat "$W/$name.log"
    elif [ "$name" = x11 ]; then
        [ -s "$out" ] && fail "x11: foot (a Wayland program) received keys: $(od -c < "$out" | head -3)"
    elif cmp -s <(expected "$byte") "$out"; then
        pass "$name: $values values, $want bytes arrived exactly ($backend)"
    else
        fail "$name: what arrived differs (expected, then arrived):"
        expected "$byte" | od -c | head -20
        od -c < "$out" | head -20
        cat "$W/$name.log"
    fi
}

extra_env=()
typed_run enter $'\r' virtual-keyboard --set outputTerminator=ENTER --set delay=0
typed_run tab $'\t' virtual-keyboard --set outputTerminator=TAB --set delay=5
# The AZERTY key maps: the keyboard's own key map follows them at the first key.
typed_run azerty $'\r' virtual-keyboard --set outputTerminator=ENTER --set delay=0 --set keyboardType=AZERTY

# The window on Wayland starts its run by itself (connect=AUTO) and types
# into foot, which has the focus by the time the records come.
cat > "$W/window.xml" << 'EOF'
<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<!DOCTYPE preferences SYSTEM "http://java.sun.com/dtd/preferences.dtd">
<preferences EXTERNAL_XML_VERSION="1.0">
  <root type="user"><map/><node name="com"><map/><node name="brindlecote"><map/><node name="Omvara"><map>
    <entry key="connect" value="AUTO"/>
    <entry key="instrument" value="BARCODE_ALPHA_COMPLETE"/>
    <entry key="customRegEx" value="(.+)"/>
    <entry key="inputTerminator" value="13"/>
    <entry key="typeEveryCharacter" value="true"/>
    <entry key="inputEncoding" value="UTF_8"/>
    <entry key="outputTerminator" value="ENTER"/>
    <entry key="delay" value="0"/>
  </map></node></node></node></root>
</preferences>
EOF
chmod 644 "$W/window.xml"
window_run() {
    local out=$W/out/window.txt
    if ! session "$OMVARA" --prefs-file "$W/home/window.txt" --import "$W/window.xml" > "$W/import.log" 2>&1; then
        fail "window: the settings could not be imported: $(cat "$W/import.log")"
        return
    fi
    start_feed "$W/values.txt" || return
    ( start env QT_QPA_PLATFORM=wayland "$OMVARA" --prefs-file "$W/home/window.txt" "$port" > "$W/window.log" 2>&1 ) &
    local window_pid=$!
    pids+=($window_pid)
    # The run has started when the window holds the port open.
    if ! wait_for 150 "ls -l /proc/$window_pid/fd 2> /dev/null | grep -q '$port\$'" || ! wait_view $window_pid; then
        fail "window: the run did not start (the window's output follows)"
        cat "$W/window.log"
        return
    fi
    start_foot "$out" || return
    go
    local want
    want=$(expected $'\r' | wc -c)
    wait_for 150 '[ "$(wc -c < "$out")" -ge "$want" ]'
    sleep 0.2
    stop_pid $window_pid
    stop_pid $feed_pid
    stop_pid "$foot_pid"
    if cmp -s <(expected $'\r') "$out"; then
        pass "window: the window on Wayland typed $values values, $want bytes exactly into foot"
    else
        fail "window: what arrived differs (expected, then arrived):"
        expected $'\r' | od -c | head -20
        od -c < "$out" | head -20
        cat "$W/window.log"
    fi
}
window_run

# No keyboard output at all: the message names each way and what it lacked,
# and the run stops with status 2 before it opens the port (which does not exist).
session env WAYLAND_DISPLAY=wayland-omvara-none "$OMVARA" --prefs-file "$W/home/none.txt" --headless \
    /dev/omvara-no-such-port > /dev/null 2> "$W/none.log" < /dev/null
status=$?
if [ -e /dev/uinput ] && [ -w /dev/uinput ]; then
    echo "NOTE: /dev/uinput is writable here: the run without any keyboard output is not tried"
elif [ $status -eq 2 ] && grep -q "virtual-keyboard: cannot reach" "$W/none.log" \
    && grep -q "; kwin: " "$W/none.log" && grep -q "; uinput: " "$W/none.log" && grep -q "; portal: " "$W/none.log" \
    && grep -q -- "--print" "$W/none.log" && ! grep -q "no-such-port" "$W/none.log"; then
    pass "no keyboard output: status 2 before the port, naming each way: $(head -c 160 "$W/none.log")..."
else
    fail "no keyboard output: status $status (2 expected), log:"
    cat "$W/none.log"
fi

# An X display beside the session: a rootful Xwayland as a client of sway,
# with an xterm recording on it that has the X focus.
# Another server may take the display number first: then the next one.
for attempt in 1 2 3; do
    ( start Xwayland :$XNUM -noreset > "$W/xwayland.log" 2>&1 ) &
    xwayland_pid=$!
    pids+=($xwayland_pid)
    wait_for 100 "[ -S /tmp/.X11-unix/X$XNUM ] || ! kill -0 $xwayland_pid 2> /dev/null"
    kill -0 $xwayland_pid 2> /dev/null && break
    XNUM=$((XNUM + 1))
    while [ -e /tmp/.X11-unix/X$XNUM ] || [ -e /tmp/.X$XNUM-lock ]; do XNUM=$((XNUM + 1)); done
done
if ! wait_for 100 "[ -S /tmp/.X11-unix/X$XNUM ]" || ! wait_view $xwayland_pid; then
    fail "Xwayland did not start (its log follows)"
    cat "$W/xwayland.log"
else
    xout=$W/out/xterm.txt
    ( start env DISPLAY=:$XNUM xterm -e sh -c "stty raw -echo; exec cat > $xout" > "$W/xterm.log" 2>&1 ) &
    pids+=($!)
    xwin=
    wait_for 100 "[ -f '$xout' ]" && xwin=$(session env DISPLAY=:$XNUM xdotool search --sync --onlyvisible --class XTerm | head -1)
    if [ -z "$xwin" ]; then
        fail "the xterm on Xwayland did not start (its log follows)"
        cat "$W/xterm.log"
    else
        session env DISPLAY=:$XNUM xdotool windowfocus --sync "$xwin"
        # The choice with DISPLAY set: the virtual keyboard, never X11.
        extra_env=(env DISPLAY=:$XNUM)
        typed_run beside $'\r' virtual-keyboard --set outputTerminator=ENTER --set delay=0
        if [ -s "$xout" ]; then
            fail "beside: the X display received keys: $(od -c < "$xout" | head -3)"
        else
            pass "beside: the X display received nothing"
        fi
        # X11 named: the warning, and only the X program receives the keys.
        typed_run x11 $'\r' "x11, as chosen" --keyboard=x11 --set outputTerminator=ENTER --set delay=0
        extra_env=()
        if ! grep -q "only X11 programs receive them" "$W/x11.log"; then
            fail "x11: no warning that only X11 programs receive the keys:"
            cat "$W/x11.log"
        elif ! cmp -s <(expected $'\r') "$xout"; then
            fail "x11: the X program did not receive the values (expected, then arrived):"
            expected $'\r' | od -c | head -5
            od -c < "$xout" | head -5
        else
            pass "x11: warns that only X11 programs receive the keys; the X program received them"
        fi
    fi
fi

echo "rig total so far $(( ($(date +%s%N) - t0) / 1000000 )) ms"
[ $fails -eq 0 ]
