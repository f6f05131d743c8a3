#!/usr/bin/env bash
# The real cloakcam in a real window on an X server of its own, on the
# built-in test pattern, driven by real key presses and window-manager
# messages. Usage: end_to_end.sh SCENARIO CLOAKCAM WM_CLOSE
#
# CLOAKCAM_RUNNER, when set, is the command that runs CLOAKCAM (wine64 for the
# Windows build, windows/run-wine-check.sh sets it up).
set -euo pipefail

scenario=$1
cloakcam=$2
wm_close=$3
runner=${CLOAKCAM_RUNNER:-}
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    # A process being killed may still write its log: once more after it.
    rm -rf "$work" 2>/dev/null || { sleep 0.5 && rm -rf "$work"; } || true
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do [ -f "$log" ] && sed "s|^|$(basename "$log"): |" "$log" >&2; done
    exit 1
}

# The server is kept from resetting when its last client leaves: under load,
# a cloakcam started just after the previous case's had quit now and then
# could not reach the display (about one hostile.sh run in seven with -j2).
start_x_server() {
    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    export DISPLAY=":$(cat "$work/display")"
}

# Starts cloakcam on the test pattern, through `runner` when one is set, and
# waits up to START_SECONDS (15) for its start-up line and window.
start_cloakcam() {
    CLOAKCAM_DEVICE=pattern $runner "$cloakcam" >"$work/stdout.log" 2>"$work/stderr.log" &
    app=$!
    pids+=($app)
    for _ in $(seq $((${START_SECONDS:-15} * 10))); do
        grep -qxE $'celled getVideoImage int int\r?' "$work/stdout.log" && break
        kill -0 "$app" 2>/dev/null || fail "cloakcam ended during start-up"
        sleep 0.1
    done
    grep -qxE $'celled getVideoImage int int\r?' "$work/stdout.log" || fail "no start-up line"
    [ "$(grep -c . "$work/stdout.log")" -eq 1 ] || fail "more than the start-up line on stdout"
    window=$(find_window "${START_SECONDS:-10}") || true
    [ -n "$window" ] || fail "no cloakcam window"
}

# cloakcam's windows are found by their class, since the title changes with
# what is shown. Under Wine the class is the program's file name.
window_class='^cloakcam(\.exe)?$'

# The window of cloakcam's class, waiting up to $1 seconds.
find_window() {
    timeout "$1" xdotool search --sync --onlyvisible --class "$window_class" | head -n 1
}

# Waits up to 10 s for the window's title to read $1.
# The window's title is $1 within $2 seconds (10 unless given).
expect_title() {
    local title=""
    for _ in $(seq $((${2:-10} * 10))); do
        title=$(xdotool getwindowname "$window" 2>/dev/null) || true
        [ "$title" = "$1" ] && return 0
        sleep 0.1
    done
    fail "the title reads '$title', not '$1'"
}

# What a task bar or dock needs: the class the desktop entry names, an icon
# of its own, and a window that is not a transient of another.
expect_application_window() {
    local class icon transient
    class=$(xprop -id "$window" WM_CLASS 2>&1) || true
    icon=$(xprop -id "$window" _NET_WM_ICON 2>&1 | head -n 1) || true
    transient=$(xprop -id "$window" WM_TRANSIENT_FOR 2>&1) || true
    [[ $class =~ \"cloakcam(\.exe)?\",\ \"cloakcam(\.exe)?\"$ ]] || fail "class: $class"
    [[ $icon =~ Icon\ \(([0-9]+)\ x\ ([0-9]+)\) ]] && ((BASH_REMATCH[1] >= 16)) ||
        fail "no icon: $icon"
    [[ $transient == *"not found"* ]] || fail "$transient"
    echo "window: $class; icon ${BASH_REMATCH[1]}x${BASH_REMATCH[2]}; no WM_TRANSIENT_FOR"
}

# Waits up to LIMIT seconds for cloakcam to end; its exit status goes to
# `status`.
wait_for_end() {
    for _ in $(seq $(($1 * 10))); do
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$app" 2>/dev/null && fail "cloakcam did not end within $1 s"
    status=0
    wait "$app" || status=$?
}

# Waits for cloakcam to end and checks it ended with status 0.
expect_clean_exit() {
    local asked=$SECONDS
    wait_for_end 10
    [ "$status" -eq 0 ] || fail "cloakcam ended with status $status"
    echo "ended with status 0 within $((SECONDS - asked + 1)) s"
}

screenshot() {
    import -window "$window" "$work/$1.png"
}

# The per-pixel median of several screenshots over two seconds: the moving
# object of the test pattern drops out, what stays put remains, among it the
# trace the effect leaves where the reference differs from the live picture.
still_picture() {
    for i in 1 2 3 4 5 6 7; do
        screenshot "$1-$i"
        sleep 0.3
    done
    convert "$work/$1"-?.png -evaluate-sequence median "$work/$1.png"
}

pixels_differing() {
    compare -metric AE -fuzz 10% "$work/$1.png" "$work/$2.png" null: 2>&1 || true
}

# tests/soak.sh sources this file for the helpers above and runs scenarios of
# its own.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

# A command failing where nothing checks it ends the script: say which.
set -E
trap 'fail "line $LINENO failed: $BASH_COMMAND"' ERR

case $scenario in
picture_and_keys)
    start_x_server
    start_cloakcam
    expect_application_window
    expect_title "cloakcam - test pattern"
    sleep 1
    screenshot first
    sleep 0.5
    screenshot second
    spread=$(convert "$work/first.png" -format '%[fx:standard_deviation]' info:)
    awk "BEGIN { exit !($spread > 0.05) }" || fail "the picture is blank (spread $spread)"
    moved=$(pixels_differing first second)
    [ "$moved" -gt 0 ] || fail "the picture does not change over time"

    still_picture before
    still_picture unchanged
    xdotool windowfocus --sync "$window" key space
    sleep 0.2
    still_picture retaken
    drift=$(pixels_differing before unchanged)
    changed=$(pixels_differing unchanged retaken)
    echo "still pictures: $drift pixels differ without a key, $changed after one"
    [ "$changed" -gt $((drift * 3 + 100)) ] || fail "a key press did not retake the reference"

    xdotool windowfocus --sync "$window" key Escape
    expect_clean_exit
    [ ! -s "$work/stderr.log" ] || fail "standard error is not silent when all is well"
    ;;
window_close)
    start_x_server
    start_cloakcam
    sleep 0.5
    "$wm_close" "$window"
    expect_clean_exit
    ;;
display_lost)
    start_x_server
    start_cloakcam
    kill "${pids[0]}"
    wait_for_end 10
    [ "$status" -eq 1 ] || fail "ended with status $status instead of 1"
    grep -qx "cloakcam: the display went away" "$work/stderr.log" || fail "no clear message"
    ;;
no_display)
    status=0
    env -u DISPLAY -u SDL_VIDEODRIVER timeout 20 $runner "$cloakcam" >"$work/stdout.log" \
        2>"$work/stderr.log" ||
        status=$?
    [ "$status" -eq 1 ] || fail "ended with status $status instead of 1"
    grep -q "^cloakcam: cannot open a window" "$work/stderr.log" || fail "no clear message"
    [ "$(wc -l <"$work/stderr.log")" -eq 1 ] || fail "more than one line on standard error"
    [ ! -s "$work/stdout.log" ] || fail "the camera was started without a window"
    ;;
*)
    echo "unknown scenario $scenario" >&2
    exit 2
    ;;
esac
echo "PASS: $scenario"
