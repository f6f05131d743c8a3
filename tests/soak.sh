#!/usr/bin/env bash
# Long runs of the real cloakcam on its test pattern, on an X server of its
# own, with the helpers of end_to_end.sh:
#  - starts and quits it CYCLES times, by Escape and by closing the window in
#    turn, at once or after a few frames; every run must end with status 0 and
#    leave no core dump;
#  - runs it for SECONDS seconds with a key press every 3 s (each retakes the
#    reference) and checks that its resident memory at the end is within 5% of
#    what it was at EARLY seconds, when start-up is long over.
# Usage: tests/soak.sh [--short] [--cycles-only] [BUILD_DIR]
#   By default 100 cycles and 600 s compared with 60 s; --short (CI) runs 10
#   cycles and 60 s compared with 20 s. BUILD_DIR (default build/) is built
#   here as far as the two programs need.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
cycles=100 seconds=600 early=60 memory=1 build=$root/build
for arg; do
    case $arg in
    --short) cycles=10 seconds=60 early=20 ;;
    --cycles-only) memory=0 ;;
    *) build=$(realpath "$arg") ;;
    esac
done

"$root/scripts/install-deps.sh" --test
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target cloakcam wm_close >/dev/null

# shellcheck source=end_to_end.sh
source "$here/end_to_end.sh" soak "$build/app/cloakcam" "$build/tests/wm_close"
context=""
eval "helpers_$(declare -f fail)"
fail() { helpers_fail "$context: $*"; }

# Core files land in the working directory unless the system pipes them
# elsewhere; a crash shows in the exit status either way.
ulimit -c unlimited 2>/dev/null || true
cd "$work"
no_core_dump() {
    ! compgen -G "$work/core*" >/dev/null || fail "core dump left behind"
}

start_x_server

passed=0
for cycle in $(seq "$cycles"); do
    if ((cycle % 2)); then how=Escape; else how="window close"; fi
    context="cycle $cycle of $cycles, quit by $how"
    start_cloakcam
    # At once, or once the loop has run a moment.
    sleep "0.$((cycle % 4 * 3))"
    if ((cycle % 2)); then
        timeout 10 xdotool windowfocus --sync "$window" key Escape
    else
        "$wm_close" "$window"
    fi
    expect_clean_exit
    no_core_dump
    pids=("${pids[0]}")
    passed=$((passed + 1))
done
echo "start/quit: $passed of $cycles cycles ended with status 0, no core dump"

if ((memory)); then
    context="memory soak"
    start_cloakcam
    rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$app/status"; }
    keys=(space a Return x)
    presses=0 early_rss="" started=$SECONDS
    while ((SECONDS - started < seconds)); do
        sleep 3
        if ! kill -0 "$app" 2>/dev/null; then
            status=0
            wait "$app" || status=$?
            fail "cloakcam ended by itself with status $status after $((SECONDS - started)) s"
        fi
        timeout 10 xdotool windowfocus --sync "$window" key "${keys[presses % 4]}"
        presses=$((presses + 1))
        if [ -z "$early_rss" ] && ((SECONDS - started >= early)); then
            early_rss=$(rss)
        fi
    done
    end_rss=$(rss)
    timeout 10 xdotool windowfocus --sync "$window" key Escape
    expect_clean_exit
    no_core_dump
    echo "memory: RSS $early_rss kB at ${early} s, $end_rss kB at ${seconds} s" \
        "($presses key presses)"
    ((end_rss * 100 <= early_rss * 105)) ||
        fail "resident memory grew from $early_rss kB to $end_rss kB"
fi
echo "PASS: soak"
