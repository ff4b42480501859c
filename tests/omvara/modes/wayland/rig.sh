# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the Wayland typing tests (sourced): a private session (runtime
# folder, home, session bus) for user nobody, a compositor and the portal
# started in it, and one whole-program case: values from a stand-in
# instrument on a pseudo-terminal, `omvara --headless --keyboard=BACKEND`
# typing them into the recorder (a Qt client on Wayland), compared with what
# `omvara --headless --print` makes of the same input. Every process started
# here is ended by its PID.
#
# The caller sets OMVARA, RECORDER, HERE and SOCK, calls rig_setup, starts its
# compositor with rig_start (a command and the log to wait in), then cases.

set -u
W=$(mktemp -d /tmp/omvara-wayland.XXXXXX)
chmod 755 "$W"
R=$W/run
mkdir -m 700 "$R"
mkdir -p "$W/home/.config" "$W/home/.local/share/applications" "$W/out"
pids=()
passed=0
failed=0

rig_cleanup() {
    # Helpers the bus started for us (portal backends, permission store, the
    # accessibility bus) carry this session's runtime folder.
    local p i
    for p in $(ps -o pid= -u nobody); do
        tr '\0' '\n' 2>/dev/null <"/proc/$p/environ" | grep -qxF "XDG_RUNTIME_DIR=$R" && pids=("$p" "${pids[@]}")
    done
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do
        for i in $(seq 1 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done
        kill -9 "$p" 2>/dev/null
    done
    if [ "${KEEP_RIG:-0}" = 1 ]; then echo "rig kept in $W"; else rm -rf "$W"; fi
}
trap rig_cleanup EXIT

session_env() {
    echo HOME=$W/home PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR=$R WAYLAND_DISPLAY=$SOCK \
        XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=$DESKTOP XDG_STATE_HOME=$W/home/.local/state \
        DBUS_SESSION_BUS_ADDRESS=$(cat "$W/bus" 2>/dev/null) "${EXTRA_ENV[@]}"
}
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups env -i $(session_env) "$@"; }
# For processes started in the background: the PID of `$! ` is then the program's own.
exec_as_nobody() { exec setpriv --reuid=nobody --regid=nogroup --clear-groups env -i $(session_env) "$@"; }

# The compositor cannot start, or another part of the rig: the test fails with the reason.
rig_broken() {
    echo "FAIL: $*"
    local f
    for f in "$W"/*.log; do [ -f "$f" ] && { echo "--- $f"; tail -n 15 "$f"; }; done
    exit 1
}

# Starts `$@` as nobody in the session, output to $W/$LOG.
start_as_nobody() { # $1 log name, rest: command
    local log=$W/$1
    shift
    exec_as_nobody "$@" >"$log" 2>&1 8>&- &
    pids=($! "${pids[@]}")
}

# True when log $1 holds $2, or process $3 has ended.
in_log_or_gone() { grep -q -- "$2" "$1" 2>/dev/null || ! kill -0 "$3" 2>/dev/null; }

trace() { echo "$(date +%T.%N) $*" >>"$W/trace"; }

wait_for() { # $1 tenths of a second, rest: a test command
    local n=$1 i
    shift
    for i in $(seq 1 "$n"); do "$@" && return 0; sleep 0.1; done
    return 1
}

rig_setup() {
    [ "$(id -u)" = 0 ] || rig_broken "the rig runs its session as user nobody and needs root to do so"
    chown -R nobody:nogroup "$R" "$W/home" "$W/out"
    setpriv --reuid=nobody --regid=nogroup --clear-groups env -i $(session_env) dbus-daemon --session --fork \
        --print-address=3 --print-pid=4 3>"$W/bus" 4>"$W/bus.pid" || rig_broken "no session bus (dbus-daemon)"
    pids+=($(cat "$W/bus.pid"))
}

rig_start_portal() {
    [ -x /usr/libexec/xdg-desktop-portal ] || rig_broken "xdg-desktop-portal is not installed"
    start_as_nobody xdp.log /usr/libexec/xdg-desktop-portal -v -r
    wait_for 150 grep -q 'providing portal org.freedesktop.portal.RemoteDesktop' "$W/xdp.log" ||
        rig_broken "the RemoteDesktop portal did not come up"
}

check() { # $1 what, $2 0 for pass
    if [ "$2" = 0 ]; then echo "PASS $1"; passed=$((passed + 1)); else echo "FAIL $1"; failed=$((failed + 1)); fi
}

# The values the instrument sends, one a line; the last a code with the
# signs that both layouts of the rigs carry without a dead key.
VALUES=$W/values.txt
printf '%s\n' '-12.5' '+0.003' '1,234.56' 'Zy' \
    'ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz 0123456789 -.,/*+:' \
    'Lot_7@#%&(x)[y]{z}<=?!>;|"$' >"$VALUES"

program_args() { # $1 terminator (ENTER, TAB)
    echo --prefs-file "$W/out/prefs.txt" --headless --set instrument=BARCODE_ALPHA_COMPLETE \
        --set "customRegEx=(.*)" --set typeEveryCharacter=true --set inputTerminator=10 \
        --set outputTerminator=$1 --set delay=0
}

# One run of the whole program on the values; its standard output in $W/$1.out,
# its log in $W/$1.log. $1 name, $2 terminator, rest: more options.
# With ON_WAITING set, that command runs once the log says the run waits for permission.
run_program() {
    local name=$1 term=$2 feed=$W/$1.fifo p
    shift 2
    rm -f "$feed"
    mkfifo "$feed"
    /usr/bin/python3 "$HERE/feed-records.py" nobody "$VALUES" "${FEED_GAP:-0.02}" <"$feed" >"$W/$name.feed" &
    local feeder=$!
    exec 8>"$feed"
    wait_for 50 test -s "$W/$name.feed" || rig_broken "no pseudo-terminal for the values"
    trace "$name: terminal"
    local port
    port=$(head -n 1 "$W/$name.feed")
    exec_as_nobody "$OMVARA" $(program_args "$term") "$@" "$port" >"$W/$name.out" 2>"$W/$name.log" 8>&- &
    p=$!
    pids=($p "${pids[@]}")
    if [ -n "${ON_WAITING:-}" ]; then
        wait_for 300 in_log_or_gone "$W/$name.log" 'Waiting for permission\|RTS: off, DTR: on.' $p &&
            grep -q 'Waiting for permission' "$W/$name.log" && eval "$ON_WAITING"
    fi
    if wait_for 300 in_log_or_gone "$W/$name.log" 'RTS: off, DTR: on.' $p && kill -0 $p 2>/dev/null; then
        trace "$name: port open"
        echo >&8
        wait_for 50 grep -q sent "$W/$name.feed"
    fi
    # The run ends when its values are out (typed or printed) or at 15 s.
    local lines
    lines=$(wc -l <"$VALUES")
    all_out() { test "$(grep -c -- ' -> ' "$W/$name.log")" -ge "$lines" || ! kill -0 $p 2>/dev/null; }
    wait_for 150 all_out
    [ -n "${RUN_UNTIL:-}" ] && wait_for 600 eval "$RUN_UNTIL"
    trace "$name: values out"
    sleep 0.5
    kill -TERM $p 2>/dev/null
    wait $p
    local status=$?
    trace "$name: ended ($status)"
    exec 8>&-
    wait $feeder
    trace "$name: feeder ended"
    return $status
}

# Types the values with `omvara --keyboard=$2` into a fresh recorder; passes
# when the recorder holds exactly what --print gives, each value followed by
# the terminator key's character.
# $1 case name, $2 backend, $3 terminator (ENTER, TAB), rest: more options.
type_case() {
    local name=$1 backend=$2 term=$3 rec=$W/out/$1.txt
    shift 3
    start_as_nobody "$name-recorder.log" env QT_QPA_PLATFORM=wayland "$RECORDER" "$rec"
    local recorder=${pids[0]}
    trace "$name: recorder started"
    if ! wait_for 100 grep -q focused "$W/$name-recorder.log"; then
        check "$name: the recorder has the keyboard focus" 1
        kill "$recorder"
        return
    fi
    trace "$name: recorder focused"
    ON_WAITING='' run_program "$name-print" "$term" --print
    local key=$'\n'
    [ "$term" = TAB ] && key=$'\t'
    local expected=$W/$name.expected
    : >"$expected"
    while IFS= read -r line; do printf '%s%s' "$line" "$key" >>"$expected"; done <"$W/$name-print.out"
    # Stopped once everything arrived: on a busy machine the desktop's
    # typing may trail the log by more than the half second run_program gives.
    RUN_UNTIL="cmp -s '$expected' '$rec'" run_program "$name" "$term" "--keyboard=$backend" "$@"
    local status=$?
    kill "$recorder"
    if cmp -s "$expected" "$rec" && [ -s "$expected" ] && [ $status = 0 ]; then
        check "$name: $(wc -l <"$VALUES") values typed through $backend ($term after each) are what --print gives" 0
    else
        check "$name: values typed through $backend ($term), status $status" 1
        diff <(cat -A "$expected") <(cat -A "$rec" 2>/dev/null) | head -n 20
        tail -n 20 "$W/$name.log"
    fi
}

rig_end() {
    echo "$passed passed, $failed failed"
    [ $failed = 0 ] && [ $passed -gt 0 ]
}

# The benchmark of one backend on this rig (RIG_BENCH set, see
# bench/omvara/outputs/keys/wayland-typing): terminator to the first change in
# the recorder over 60 values, and characters per second at delay 0 over 2
# long values, checked for loss.
bench_case() { # $1 backend
    local backend=$1 name=bench-$1 rec=$W/out/bench-$1.txt
    EXTRA_ENV+=(RECORDER_TIMES=1)
    start_as_nobody "$name-recorder.log" env QT_QPA_PLATFORM=wayland "$RECORDER" "$rec"
    local recorder=${pids[0]}
    wait_for 100 grep -q focused "$W/$name-recorder.log" || rig_broken "the recorder did not get the focus"
    local saved=$VALUES
    VALUES=$W/latency.txt
    seq 1 60 >"$VALUES"
    FEED_GAP=0.1 run_program "$name-latency" ENTER "--keyboard=$backend"
    VALUES=$W/long.txt
    : >"$VALUES"
    local line
    line=$(tail -n 1 "$saved")
    for i in 1 2; do printf '%s %s %s %s %s\n' "$line" "$line" "$line" "$line" "$line" >>"$VALUES"; done
    kill "$recorder"
    rec=$W/out/bench-$1-speed.txt
    start_as_nobody "$name-speed-recorder.log" env QT_QPA_PLATFORM=wayland "$RECORDER" "$rec"
    recorder=${pids[0]}
    wait_for 100 grep -q focused "$W/$name-speed-recorder.log" || rig_broken "the recorder did not get the focus"
    RUN_UNTIL="test -s $rec && test \$(stat -c %s $rec) -ge $(wc -c <"$VALUES")" FEED_GAP=0 run_program "$name-speed" ENTER "--keyboard=$backend"
    kill "$recorder"
    VALUES=$saved
    /usr/bin/python3 - "$W/$name-latency.feed" "$W/$name-recorder.log" "$W/$name-speed-recorder.log" "$W/long.txt" "$rec" "$backend" <<'PY'
import sys, statistics
feed, log, speedlog, expected, got, backend = sys.argv[1:]
writes = [int(l.split()[1]) for l in open(feed) if l.startswith("write")]
changes = [tuple(map(int, l.split()[1:])) for l in open(log) if l.startswith("change")]
lat = []
for w in writes:
    after = [t for t, _ in changes if t >= w]
    if after:
        lat.append((after[0] - w) / 1e6)
lat.sort()
p99 = lat[min(len(lat) - 1, int(0.99 * len(lat)))] if lat else float("nan")
print("%s: terminator to first key in the client: median %.2f ms, 99th percentile %.2f ms (%d of %d values)"
      % (backend, statistics.median(lat) if lat else float("nan"), p99, len(lat), len(writes)))
speed = [tuple(map(int, l.split()[1:])) for l in open(speedlog) if l.startswith("change")]
text = open(got).read()
want = open(expected).read()
if len(speed) > 1:
    secs = (speed[-1][0] - speed[0][0]) / 1e9
    print("%s: %d characters in %.2f s: %.0f characters/s at delay 0, %s" % (
        backend, len(text), secs, len(text) / secs if secs else float("nan"),
        "none lost" if text == want else "NOT EXACT (%d of %d characters)" % (len(text), len(want))))
PY
}
