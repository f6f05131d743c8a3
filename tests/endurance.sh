#!/usr/bin/env bash
# cloakcam kept running while its camera comes and goes, against virtual
# PipeWire cameras on an X server of its own, in three groups of cases:
#  - one camera unplugged and plugged back again and again, in a different
#    format each time;
#  - PipeWire killed under the streaming camera and started again with it, in
#    one format, again and again, by the same program;
#  - a camera appearing while the test pattern shows, in a program of its
#    own: its picture is seen without a key.
# The first two check that every loss and return is told once, in time, with
# the camera's picture on screen after each, and that the program's memory,
# threads and descriptors (from /proc) after the last case are no more than
# after the first ones (the first round of formats, the first restart).
# Usage: tests/endurance.sh [--long] CLOAKCAM WM_CLOSE
#   By default (CI) 8 cycles and 10 restarts; --long 60 and 40. Cycles come
#   in rounds of the four formats.
set -euo pipefail
cycles=8 restarts=10
if [ "${1:-}" = --long ]; then
    cycles=60 restarts=40
    shift
fi
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=end_to_end.sh
source "$here/end_to_end.sh" endurance "$1" "$2"
# shellcheck source=equipment/virtual_camera.sh
source "$here/equipment/virtual_camera.sh"
# shellcheck source=camera_session.sh
source "$here/camera_session.sh"

formats=("video/x-raw,format=NV12,width=1280,height=720" "video/x-raw,format=YUY2,width=640,height=480"
    "image/jpeg,width=1280,height=720" "video/x-raw,format=I420,width=320,height=240")
publish() { vcam_publish "Test Camera" "${formats[$1 % ${#formats[@]}]},framerate=30/1"; }

# The program's resident memory (KiB), threads and open descriptors.
usage() {
    local rss threads
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$app/status")
    threads=$(awk '/^Threads:/ { print $2 }' "/proc/$app/status")
    echo "$rss $threads $(find "/proc/$app/fd" -mindepth 1 | wc -l)"
}

# Compares usage now with `baseline`: threads and descriptors may not be
# more, memory may grow by a tenth at most. A stop left to finish by itself
# may still be ending, so the count is given two seconds to settle.
expect_no_growth() {
    local rss0 threads0 fds0 rss threads fds
    read -r rss0 threads0 fds0 <<<"$baseline"
    for _ in $(seq 20); do
        read -r rss threads fds <<<"$(usage)"
        ((threads <= threads0 && fds <= fds0)) && break
        sleep 0.1
    done
    echo "$context: memory $rss0 -> $rss KiB, threads $threads0 -> $threads," \
        "descriptors $fds0 -> $fds"
    ((threads <= threads0)) || fail "threads grew from $threads0 to $threads"
    ((fds <= fds0)) || fail "descriptors grew from $fds0 to $fds"
    ((sanitized || rss * 10 <= rss0 * 11)) || fail "memory grew from $rss0 to $rss KiB"
}

# AddressSanitizer's quarantine grows with every allocation freed, whatever
# the program does; there LeakSanitizer looks for leaks at the end instead.
sanitized=0
if ldd "$cloakcam" 2>/dev/null | grep -q libasan; then sanitized=1; fi

# Every loss and return so far told once, and nothing else said.
expect_told() {
    local lost=$1 back=$2 said
    said=$(grep -c . "$work/stderr.log" || true)
    (($(grep -c "^cloakcam: camera lost: " "$work/stderr.log") == lost)) &&
        (($(grep -cx "cloakcam: camera back" "$work/stderr.log") == back)) &&
        ((said == lost + back)) ||
        fail "told $said lines for $lost losses and $back returns: $(cat "$work/stderr.log")"
}

# Keeps the largest of the times given.
slowest() { echo $(($1 > $2 ? $1 : $2)); }

vcam_up
start_x_server

context="unplugged and plugged back $cycles times"
publish 0
launch
expect_bars
lost_max=0 back_max=0
for cycle in $(seq "$cycles"); do
    vcam_withdraw "Test Camera"
    lost=$(wait_for_line "cloakcam: camera lost: it was unplugged" 2 "$cycle")
    publish "$cycle"
    back=$(wait_for_line "cloakcam: camera back" 5 "$cycle")
    expect_bars
    lost_max=$(slowest "$lost_max" "$lost") back_max=$(slowest "$back_max" "$back")
    # The memory a camera takes depends on its format: compared after rounds
    # of them, the first round being start-up.
    if ((cycle == ${#formats[@]})); then baseline=$(usage); fi
done
expect_told "$cycles" "$cycles"
expect_no_growth
echo "ok: $context (lost within $lost_max ms, back within $back_max ms)"

context="PipeWire restarted $restarts times"
lost_max=0 back_max=0
for restart in $(seq "$restarts"); do
    vcam_pipewire_down
    vcam_withdraw "Test Camera"
    lost=$(wait_for_line "cloakcam: camera lost: it stopped sending pictures" 6 "$restart")
    started=$(date +%s%N)
    vcam_pipewire_up
    publish 1
    # Back within 5 s of PipeWire's start.
    back=$(wait_for_line "cloakcam: camera back" 5 $((cycles + restart)))
    back=$((($(date +%s%N) - started) / 1000000))
    ((back <= 5000)) || fail "restart $restart: camera back after $back ms"
    expect_bars
    lost_max=$(slowest "$lost_max" "$lost") back_max=$(slowest "$back_max" "$back")
    if ((restart == 1)); then baseline=$(usage); fi
done
expect_told $((cycles + restarts)) $((cycles + restarts))
expect_no_growth
echo "ok: $context (lost within $lost_max ms, back within $back_max ms of PipeWire's start)"
quit
vcam_withdraw "Test Camera"

context="camera appearing while the test pattern shows"
launch
wait_for_line "cloakcam: no camera found, showing a test pattern" 5 >/dev/null
vcam_publish "Late Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
wait_for_line "cloakcam: using camera Late Camera" 5 >/dev/null
taken=$(date +%s%N)
until bars_shown; do
    (($(date +%s%N) - taken < 2000000000)) || fail "not seen 2 s after it was taken up: $seen"
done
seen_after=$((($(date +%s%N) - taken) / 1000000))
quit
vcam_withdraw "Late Camera"
echo "ok: $context (seen $seen_after ms after it was taken up, without a key)"
echo "endurance: passed"
