#!/usr/bin/env bash
# cloakcam in hostile surroundings, one case after another on X servers of
# its own: every case must end in one "cloakcam:" line or a program that runs
# normally, with status 0 on a quit and 1 on failure, promptly, with no
# signal death and no library's dump. Uses the helpers of end_to_end.sh.
# Usage: tests/hostile.sh CLOAKCAM WM_CLOSE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=end_to_end.sh
source "$here/end_to_end.sh" hostile "$1" "$2"
context=""
eval "helpers_$(declare -f fail)"
fail() { helpers_fail "$context: $*"; }

# Runs cloakcam in a subshell after `setup` (limits), on the test pattern,
# in the background; with CLOSED set, standard output is closed.
launch() {
    local setup=$1
    (
        eval "$setup"
        export CLOAKCAM_DEVICE=${DEVICE:-pattern}
        if [ -n "${CLOSED:-}" ]; then
            exec "$cloakcam" >&- 2>"$work/stderr.log"
        fi
        exec "$cloakcam" >>"$work/stdout.log" 2>"$work/stderr.log"
    ) &
    app=$!
    pids+=("$app")
}

# Waits up to `limit` seconds for cloakcam to end; checks its status and that
# everything on stderr is one line of ours (or nothing, with `quiet`).
expect_end() {
    local status_wanted=$1 limit=$2 line=${3:-}
    wait_for_end "$limit"
    [ "$status" -eq "$status_wanted" ] || fail "ended with status $status, not $status_wanted"
    only_our_lines
    if [ -n "$line" ]; then
        [ "$(grep -c . "$work/stderr.log")" -eq 1 ] || fail "not one line on stderr"
        grep -q -- "$line" "$work/stderr.log" || fail "the line does not say '$line'"
    fi
}

only_our_lines() {
    ! grep -v '^cloakcam: ' "$work/stderr.log" >/dev/null ||
        fail "stderr has more than our lines: $(head -c 300 "$work/stderr.log")"
}

# The window appears and the program runs; Escape ends it with status 0.
# With `or_one_line`, ending at start with one line of ours and status 1 will
# do as well.
expect_running() {
    local window="" or_one_line=${1:-}
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --class "$window_class" 2>/dev/null | head -n 1) || true
        [ -n "$window" ] && break
        if ! kill -0 "$app" 2>/dev/null; then
            [ -n "$or_one_line" ] || fail "ended during start-up"
            expect_end 1 1 "^cloakcam: "
            echo "note: $context: $(cat "$work/stderr.log")"
            return
        fi
        sleep 0.1
    done
    [ -n "$window" ] || fail "no window"
    sleep 1
    kill -0 "$app" 2>/dev/null || fail "ended by itself"
    xdotool windowfocus --sync "$window" key Escape
    expect_end 0 5
}

start_x_server
passed=0
pass() {
    echo "ok: $context"
    passed=$((passed + 1))
}

context="standard output closed"
CLOSED=1 launch ""
for _ in $(seq 100); do
    [ -e "/proc/$app/fd/1" ] && [ "$(readlink "/proc/$app/fd/1")" = /dev/null ] && break
    sleep 0.05
done
[ "$(readlink "/proc/$app/fd/1")" = /dev/null ] || fail "standard output is $(readlink "/proc/$app/fd/1")"
expect_running
pass

for files in 10 12 16; do
    context="ulimit -n $files"
    launch "ulimit -n $files"
    expect_end 1 5 "too few file descriptors (limit $files"
    pass
done
context="ulimit -Sn 16, hard limit higher"
launch "ulimit -Sn 16"
expect_running
pass

# AddressSanitizer reserves terabytes of shadow memory: a sanitized build
# cannot run under an address-space limit at all.
# Below about 21 MB the loader cannot map the libraries, and only it speaks.
if [ -z "${ASAN_OPTIONS:-}" ]; then
    for space in 25000 50000 250000; do
        context="ulimit -v $space"
        launch "ulimit -v $space"
        expect_end 1 5 "too little address space (limit $space KiB"
        pass
    done
    # Now and then (one run in ten or so at 450000 KiB, never alone) SDL
    # falls back to its invisible driver under a limit and gives no reason:
    # one line and status 1 is what the user then gets.
    for space in 300000 450000 550000; do
        context="ulimit -v $space"
        launch "ulimit -v $space"
        expect_running or_one_line
        pass
    done
fi

context="CLOAKCAM_DEVICE names no camera"
DEVICE="No Such Camera" launch ""
expect_running
grep -q "^cloakcam: no camera called No Such Camera" "$work/stderr.log" || fail "not said"
pass

for signal in HUP TERM INT; do
    context="SIG$signal"
    launch ""
    sleep 2
    kill -s "$signal" "$app"
    expect_end 0 2
    pass
done

context="DISPLAY set, nothing there"
DISPLAY=:99 launch ""
expect_end 1 10 "cannot reach display :99"
pass

# Ten times each: these once ended in a crash only now and then.
for run in $(seq 10); do
    context="window destroyed from outside, run $run"
    launch ""
    window=$(find_window 10) || true
    sleep "0.$((run % 5))"
    xdotool windowclose "$window"
    expect_end 0 5 "the window was closed from outside"
    pass
done

kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
pids=()
for run in $(seq 10); do
    context="X server ends $((run * 8)) ms after start, run $run"
    start_x_server
    launch ""
    sleep "$(printf '0.%03d' $((run * 8)))"
    kill "${pids[0]}"
    expect_end 1 10
    [ "$(grep -c . "$work/stderr.log")" -le 1 ] || fail "more than one line"
    # Starting without the window must not be silent.
    [ -s "$work/stderr.log" ] || fail "ended with nothing said"
    wait "${pids[0]}" 2>/dev/null || true
    pids=()
    pass
done

echo "hostile: $passed passed, 0 failed"
