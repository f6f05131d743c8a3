#!/usr/bin/env bash
# cloakcam against cameras it did not make: virtual PipeWire cameras
# (tests/equipment/virtual_camera.sh) found through GStreamer's device monitor, on an X
# server of its own. Cases: every common format reaches the screen upright,
# mirrored and in the right colours; a camera lost and back; a camera plugged
# in after start; a camera named; PipeWire frozen, dying, or started late; a
# camera of another shape cut to the window's.
# Usage: tests/camera.sh CLOAKCAM WM_CLOSE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=end_to_end.sh
source "$here/end_to_end.sh" camera "$1" "$2"
# shellcheck source=equipment/virtual_camera.sh
source "$here/equipment/virtual_camera.sh"
# shellcheck source=camera_session.sh
source "$here/camera_session.sh"

vcam_up
start_x_server
passed=0
pass() {
    echo "ok: $context${1:+ ($1)}"
    passed=$((passed + 1))
}

for caps in "video/x-raw,format=YUY2,width=640,height=480" "video/x-raw,format=NV12,width=640,height=480" \
    "video/x-raw,format=I420,width=320,height=240" "video/x-raw,format=RGB,width=320,height=240" \
    "video/x-raw,format=BGRx,width=640,height=480" "video/x-raw,format=YUY2,width=160,height=120" \
    "video/x-raw,format=NV12,width=1280,height=720" "video/x-raw,format=YUY2,width=1920,height=1080" \
    "image/jpeg,width=640,height=480" "image/jpeg,width=1920,height=1080"; do
    context="format $caps"
    vcam_publish "Test Camera" "$caps,framerate=30/1"
    launch
    expect_bars
    quit
    [ ! -s "$work/stderr.log" ] || fail "standard error is not silent when all is well"
    vcam_withdraw "Test Camera"
    pass
done

context="camera lost and back, as an MJPG camera"
vcam_publish "Test Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
launch
expect_bars
expect_title "cloakcam - Test Camera"
vcam_withdraw "Test Camera"
lost=$(wait_for_line "cloakcam: camera lost: it was unplugged" 2)
expect_title "cloakcam - camera lost"
vcam_publish "Test Camera" "image/jpeg,width=1280,height=720,framerate=30/1"
back=$(wait_for_line "cloakcam: camera back" 5)
expect_bars
expect_title "cloakcam - Test Camera"
quit
vcam_withdraw "Test Camera"
pass "lost after $lost ms, back after $back ms"

# A dying camera service says nothing: the pictures stop. Its cameras come
# back with it, under new node numbers.
context="PipeWire dies while the camera streams, and comes back"
vcam_publish "Test Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
launch
expect_bars
vcam_pipewire_down
vcam_withdraw "Test Camera"
lost=$(wait_for_line "cloakcam: camera lost: it stopped sending pictures" 6)
vcam_pipewire_up
vcam_publish "Test Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
back=$(wait_for_line "cloakcam: camera back" 15)
expect_bars
quit
vcam_withdraw "Test Camera"
pass "lost after $lost ms, back $back ms after PipeWire"

context="PipeWire started after cloakcam"
vcam_pipewire_down
launch
wait_for_line "cloakcam: no camera found, showing a test pattern" 5 >/dev/null
expect_title "cloakcam - no camera"
vcam_pipewire_up
vcam_publish "Late Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
taken=$(wait_for_line "cloakcam: using camera Late Camera" 8)
quit
vcam_withdraw "Late Camera"
pass "taken up after $taken ms"

# A camera that is listed but sends nothing (its publisher stopped): the
# window still answers Escape at once, and the user hears of it after 5 s.
context="camera that never sends a picture"
vcam_publish "Test Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
kill -STOP "${vcam_cameras[Test Camera]}"
launch
sleep 1
started=$(date +%s%N)
quit
escaped=$((($(date +%s%N) - started) / 1000000))
((escaped < 1000)) || fail "Escape took $escaped ms"
launch
told=$(wait_for_line "cloakcam: cannot use camera Test Camera: it has delivered no picture in 5 seconds" 8)
expect_title "cloakcam - cannot use Test Camera"
# Tried again on the back-off: its picture once it sends.
kill -CONT "${vcam_cameras[Test Camera]}"
wait_for_line "cloakcam: camera back" 12 >/dev/null
expect_bars
quit
vcam_withdraw "Test Camera"
pass "ended $escaped ms after Escape; told after $told ms"

context="camera plugged in after start"
launch
wait_for_line "cloakcam: no camera found, showing a test pattern" 5 >/dev/null
vcam_publish "Late Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
taken=$(wait_for_line "cloakcam: using camera Late Camera" 5)
expect_title "cloakcam - Late Camera"
# Seen without a key: the reference is retaken of the camera's picture.
expect_bars
quit
vcam_withdraw "Late Camera"
pass "taken up after $taken ms"

context="camera named"
vcam_publish "Green Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1" green
vcam_publish "Test Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
CLOAKCAM_DEVICE="Test Camera" launch
expect_bars
quit
vcam_withdraw "Green Camera"
vcam_withdraw "Test Camera"
pass

# A camera service that stops answering must not freeze the window: the
# program starts on the test pattern, still looking for cameras and saying
# none is missing, and takes the camera up once the service answers again.
context="PipeWire frozen at start, then thawed"
vcam_publish "Test Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
kill -STOP "${vcam_daemons[0]}"
started=$(date +%s%N)
launch
expect_title "cloakcam - looking for cameras" 5
shown=$((($(date +%s%N) - started) / 1000000))
((shown < 3000)) || fail "the window took $shown ms"
sleep 1
[ ! -s "$work/stderr.log" ] || fail "said before the cameras were listed: $(cat "$work/stderr.log")"
kill -CONT "${vcam_daemons[0]}"
started=$(date +%s%N)
expect_title "cloakcam - Test Camera" 40
taken=$((($(date +%s%N) - started) / 1000000))
expect_bars
quit
vcam_withdraw "Test Camera"
pass "window after $shown ms, camera taken up $taken ms after the thaw"

context="PipeWire frozen while the camera streams"
vcam_publish "Test Camera" "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
launch
expect_bars
kill -STOP "${vcam_daemons[0]}"
started=$(date +%s%N)
quit
kill -CONT "${vcam_daemons[0]}"
pass "ended $((($(date +%s%N) - started) / 1000000)) ms after Escape"
vcam_withdraw "Test Camera"

# A camera wider than the window is cut to the window's shape, not squashed:
# the red bands on the outer eighths of its picture stay out of sight, and the
# bars fill the window as they would from a camera of its shape.
context="16:9 camera cut to the window's shape"
vcam_publish "Wide Camera" "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1" smpte 160
launch
expect_bars
expect_no_red_bands
quit
vcam_withdraw "Wide Camera"
pass

echo "camera: $passed passed, 0 failed"
