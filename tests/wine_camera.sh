#!/usr/bin/env bash
# The Windows cloakcam under Wine against the project's DirectShow test camera
# (tests/equipment/test_camera), each case on an X server of its own, with the cameras
# it names registered for it alone. Cases: the picture upright, mirrored, in
# its colours and neither squashed nor cropped off centre from a camera at
# 320x240 and from one whose own size is 640x480; a camera offering 640x480
# alone; a camera named among two; lost and back; fallen silent; busy with
# another graph; a camera whose only format cannot be shown; a camera with a
# preview pin of its own; the cameras of picture_cases below, in every format
# the program converts and of every shape; a camera the system's privacy
# settings refuse, then allow; one held by another program; two cameras of
# one name; a name beyond ASCII; a slow camera, alone and refusing; cameras
# refusing with codes of their own; one whose pin refuses every connection;
# one unplugged with a read error just before its loss; a fine checkerboard
# at 1920x1080; pictures larger than the size connected. Every case ends on
# Escape, within a second of the teardown Wine needs on the test pattern,
# which the first case measures.
#
#   tests/wine_camera.sh CLOAKCAM_EXE TEST_CAMERA_DLL [CASE...]
#
# WINEPREFIX names a prepared prefix; WINE and WINESERVER the loader and server
# (windows/run-wine-check.sh sets them up). Without CASE, the cases in
# WINE_CAMERA_CASES run, or else every one. WINE_CAMERA_SHOTS names a folder
# for the cases' screenshots.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
dll=$2
shift 2
wine=${WINE:-wine64}
wineserver=${WINESERVER:-wineserver}
all_cases="pattern picture own_size_large only_large named lost_and_back silent busy"
all_cases+=" unshowable preview"
# Cameras whose picture must show with nothing said: case, the camera's
# formats, and the size it must be connected in when it offers several.
picture_cases=(
    "nv12_only|NV12 320x240|"
    "nv12_multi|NV12 320x240, I420 320x240, YUY2 320x240, strict-connect|"
    "i420|I420 320x240|"
    "uyvy|UYVY 320x240|"
    "rgb32|RGB32 320x240|"
    "vih2_only|YUY2 640x480, vih2|"
    "range|RGB24 160x120-1920x1080/8|320x240"
    "wide|RGB24 640x360|"
    "wide_and_square|RGB24 1280x720, RGB24 640x480|640x480"
    "pins_first|RGB24 320x240, pins-first|"
    "yuy2_rgb_large|YUY2 320x240, RGB24 640x480|640x480"
)
for entry in "${picture_cases[@]}"; do
    all_cases+=" ${entry%%|*}"
done
all_cases+=" denied in_use twins unicode slow slow_refused"
# Cameras that refuse to start with a code of their own: case, the camera's
# formats, what is said of it, the most graphs built in its first 16 s, and
# the sizes connected, in order, by the time it is said.
refusal_cases=(
    "refused_bandwidth|RGB24 320x240, RGB24 160x120, refuse=0x800705AA|it is in use by another program, or its USB port has no bandwidth left: try another port|8|320x240 160x120"
    "refused_failed|RGB24 320x240, refuse=0x80004005|it failed (error 0x80004005)|4|"
    "refused_media|RGB24 320x240, refuse=0xC00D3704|it is in use by another program|4|"
)
for entry in "${refusal_cases[@]}"; do
    all_cases+=" ${entry%%|*}"
done
all_cases+=" refuse_connect burst checker oversize"
# shellcheck disable=SC2206
cases=(${*:-${WINE_CAMERA_CASES:-all}})
[ "${cases[0]}" = all ] && read -ra cases <<<"$all_cases"
shared=$(mktemp -d)
trap 'rm -rf "$shared"' EXIT

# A Windows path for a file of ours, through Wine's Z: drive.
windows_path() { echo "Z:${1//\//\\}"; }

# Runs one case in a subshell of its own, with the end-to-end helpers (their
# work folder, X server and clean-up) and the cameras CAMERAS names.
run_case() (
    # shellcheck source=end_to_end.sh
    source "$here/end_to_end.sh" "wine_camera" "$exe" ""
    context=$1
    eval "helpers_$(declare -f fail)"
    fail() { helpers_fail "$context: $*"; }
    eval "helpers_$(declare -f cleanup)"
    # Runs on exit, where set -e still holds: nothing here may fail the case
    # unsaid. A camera left registered would show in the next case's list,
    # so unregistering is tried again on a fresh server before it is told.
    cleanup() {
        if [ -n "${cameras:-}" ] && ! unregister && ! { "$wineserver" -k 2>/dev/null; unregister; }; then
            echo "note: $context: regsvr32 /u failed; $cameras may stay registered"
        fi
        "$wineserver" -k 2>/dev/null || true
        helpers_cleanup
    }
    unregister() {
        CLOAKCAM_TEST_CAMERAS=$cameras timeout 30 "$wine" regsvr32 /s /u "$(windows_path "$dll")" \
            2>/dev/null
    }
    # Wine's desktop belongs to the X server it first meets: a fresh server
    # for each case's own.
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    start_x_server
    export CLOAKCAM_TEST_CAMERA_CONTROL
    CLOAKCAM_TEST_CAMERA_CONTROL=$(windows_path "$work")
    "case_$1"
)

# Registers the cameras for this case: "NAME=FORMATS;NAME=FORMATS".
register() {
    cameras=$1
    CLOAKCAM_TEST_CAMERAS=$cameras timeout 60 "$wine" regsvr32 /s "$(windows_path "$dll")" ||
        fail "regsvr32 could not register $cameras"
}

# Tells a camera to be "plugged", "unplugged" or "silent".
plug() { echo "$2" >"$work/$1"; }

# Starts cloakcam (the n-th of this case, default 1) on CLOAKCAM_DEVICE and
# waits for its start-up line and its window; `app` and `window` are the last
# one's.
launch() {
    local n=${1:-1} started
    started=$(date +%s%N)
    $wine "$exe" >"$work/stdout$n.log" 2>"$work/stderr$n.log" &
    app=$!
    pids+=("$app")
    for _ in $(seq 300); do
        grep -qxE $'celled getVideoImage int int\r?' "$work/stdout$n.log" 2>/dev/null && break
        kill -0 "$app" 2>/dev/null || fail "cloakcam $n ended during start-up"
        sleep 0.1
    done
    grep -qxE $'celled getVideoImage int int\r?' "$work/stdout$n.log" || fail "no start-up line"
    window=""
    for _ in $(seq 100); do
        window=$(xdotool search --all --onlyvisible --pid "$app" --name '^cloakcam' 2>/dev/null |
            head -n 1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || fail "no cloakcam window"
    echo "cloakcam $n up in $((($(date +%s%N) - started) / 1000000)) ms"
}

# Escape to the window; cloakcam must end with status 0 within Wine's own
# teardown and a second.
quit() {
    local bound asked
    bound=$(cat "$shared/teardown_ms" 2>/dev/null || echo 9000)
    asked=$(date +%s%N)
    xdotool windowfocus --sync "$window" key Escape
    for _ in $(seq 200); do
        kill -0 "$app" 2>/dev/null || break
        sleep 0.05
    done
    kill -0 "$app" 2>/dev/null && fail "cloakcam did not end within 10 s of Escape"
    local took=$((($(date +%s%N) - asked) / 1000000)) status=0
    wait "$app" || status=$?
    [ "$status" -eq 0 ] || fail "cloakcam ended with status $status"
    echo "ended with status 0 in $took ms after Escape"
    [ "$took" -le $((bound + 1000)) ] || fail "Escape took $took ms, over $bound ms + 1 s"
    took_ms=$took
}

# The program's lines on stderr, without Windows' CRs and without what Wine
# itself writes there (ALSA's complaints when a renderer looks for sound).
said() { tr -d '\r' <"$work/stderr${1:-1}.log" | grep '^cloakcam: ' || true; }

# Waits up to `seconds` for a line on the first cloakcam's stderr.
wait_for_line() {
    local line=$1 seconds=$2
    for _ in $(seq $((seconds * 10))); do
        said | grep -qxF -- "$line" && return 0
        kill -0 "$app" 2>/dev/null || fail "ended while waiting for '$line'"
        sleep 0.1
    done
    fail "no '$line' within $seconds s; stderr: $(said)"
}

said_once() {
    [ "$(said | grep -cxF -- "$1")" -eq 1 ] || fail "'$1' not said exactly once: $(said)"
}

nothing_said() { [ -z "$(said)" ] || fail "unexpected lines on stderr: $(said)"; }

# The test camera's quarters, mirrored: green top left, red top right, white
# bottom left, blue bottom right, from the window's edges (where a squashed
# or badly cropped wide picture shows its magenta bands) to either side of
# its middle. One look; `seen` holds what the window showed.
quarters_seen() {
    local x y format="" expected=""
    local -A colour=([left60]="0 1 0" [right60]="1 0 0" [left180]="1 1 1" [right180]="0 0 1")
    for y in 60 180; do
        for x in 3 80 150 170 240 316; do
            format+="%[fx:p{$x,$y}.r>0.7] %[fx:p{$x,$y}.g>0.7] %[fx:p{$x,$y}.b>0.7]|"
            if [ "$x" -lt 160 ]; then expected+="${colour[left$y]}|"; else expected+="${colour[right$y]}|"; fi
        done
    done
    import -window "$window" "$work/shot.png" 2>/dev/null || true
    seen=$(convert "$work/shot.png" -format "$format" info: 2>/dev/null) || true
    [ "$seen" = "$expected" ] && cp "$work/shot.png" "$shared/$context.png"
}

# Waits up to 8 s for the quarters.
expect_picture() {
    seen=""
    for _ in $(seq 16); do
        quarters_seen && return 0
        sleep 0.5
    done
    fail "the picture is not the camera's quarters mirrored (r g b at x 3 80 150 170 240 316, y 60 then 180: $seen)"
}

# No window mapped but cloakcam's (and the root): no "ActiveMovie Window" of
# a renderer.
only_our_window() {
    local other root
    root=$(($(xwininfo -root | awk '/Window id/ { print $4 }')))
    for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
        [ "$id" -eq "$root" ] && continue
        other=$(xdotool getwindowname "$id" 2>/dev/null) || continue
        [[ $other == cloakcam* ]] || fail "a second window is open: '$other'"
    done
}

# How many filters were made for a camera: one per graph built on it.
graphs_built() { cat "$work/$1.bound" 2>/dev/null | wc -l; }

# How many times a camera's pin was connected.
connections() { wc -l 2>/dev/null <"$work/$1.connected" || echo 0; }

# Sleeps until `ms` milliseconds after `since` (date +%s%N), if still ahead.
sleep_until() {
    local left=$((($1 - $(date +%s%N)) / 1000000 + $2))
    [ "$left" -le 0 ] || sleep "$((left / 1000)).$(printf %03d $((left % 1000)))"
}

# Escape while a camera of slow=700/2500/… is in the Connect of its n-th
# graph: 1.2 s after that graph's bind began, past the bind and well inside
# the Connect.
escape_during_connect() {
    local name=$1 n=$2 bound
    for _ in $(seq 300); do
        [ "$(graphs_built "$name")" -ge "$n" ] && break
        sleep 0.1
    done
    [ "$(graphs_built "$name")" -ge "$n" ] || fail "no graph $n built within 30 s"
    bound=$(($(date -r "$work/$name.bound" +%s%N)))
    sleep_until "$bound" 1200
    [ "$(connections "$name")" -lt "$n" ] || fail "graph $n connected within 1.2 s of its bind"
    echo "Escape $((($(date +%s%N) - bound) / 1000000)) ms after graph $n was bound, during its Connect"
    quit
}

# The size a camera was last connected in.
connected_size() { tail -n 1 "$work/$1.connected" 2>/dev/null; }

# Waits up to `seconds` for a line on the first cloakcam's stderr that holds
# `words`.
wait_for_words() {
    local words=$1 seconds=$2
    for _ in $(seq $((seconds * 10))); do
        said | grep -qF -- "$words" && return 0
        kill -0 "$app" 2>/dev/null || fail "ended while waiting for '$words'"
        sleep 0.1
    done
    fail "no '$words' within $seconds s; stderr: $(said)"
}

case_pattern() {
    CLOAKCAM_DEVICE=pattern launch
    sleep 1
    quit
    echo "$took_ms" >"$shared/teardown_ms"
    echo "Wine's teardown on the test pattern: $took_ms ms"
}

case_picture() {
    register "Desk camera=RGB24 320x240"
    CLOAKCAM_DEVICE="" launch
    expect_picture
    only_our_window
    nothing_said
    quit
}

case_own_size_large() {
    register "Big camera=RGB24 640x480, RGB24 320x240"
    CLOAKCAM_DEVICE="" launch
    expect_picture
    nothing_said
    quit
}

case_only_large() {
    register "Large camera=RGB24 640x480"
    CLOAKCAM_DEVICE="" launch
    expect_picture
    nothing_said
    quit
}

# The first camera sends nothing: only the second gives the picture.
case_named() {
    register "First camera=RGB24 320x240;Second camera=RGB24 320x240"
    plug "First camera" silent
    CLOAKCAM_DEVICE="Second camera" launch
    expect_picture
    nothing_said
    quit
}

case_lost_and_back() {
    register "Desk camera=RGB24 320x240"
    CLOAKCAM_DEVICE="" launch
    expect_picture
    expect_title "cloakcam - Desk camera"
    plug "Desk camera" unplugged
    wait_for_line "cloakcam: camera lost: it was unplugged" 3
    expect_title "cloakcam - camera lost"
    sleep 1
    plug "Desk camera" plugged
    # Said only once a picture of the new graph arrived: the window alone
    # would still show the last one from before the loss.
    wait_for_line "cloakcam: camera back" 8
    expect_picture
    expect_title "cloakcam - Desk camera"
    said_once "cloakcam: camera lost: it was unplugged"
    said_once "cloakcam: camera back"
    quit
}

case_silent() {
    register "Desk camera=RGB24 320x240"
    CLOAKCAM_DEVICE="" launch
    expect_picture
    plug "Desk camera" silent
    wait_for_line "cloakcam: camera lost: it stopped sending pictures" 6
    said_once "cloakcam: camera lost: it stopped sending pictures"
    quit
}

# A second cloakcam on the camera the first one holds.
case_busy() {
    register "Desk camera=RGB24 320x240"
    CLOAKCAM_DEVICE="" launch 1
    expect_picture
    local first_app=$app first_window=$window
    CLOAKCAM_DEVICE="" launch 2
    for _ in $(seq 70); do
        [ -n "$(said 2)" ] && break
        sleep 0.1
    done
    [ "$(said 2)" = "cloakcam: cannot use camera Desk camera: it is in use by another program" ] ||
        fail "the second cloakcam said: $(said 2)"
    quit
    app=$first_app window=$first_window
    nothing_said
    quit
}

case_unshowable() {
    local line="cloakcam: cannot use camera Old camera: it offers no picture format that can be"
    line+=" shown (it offers Y41P 320x240)"
    register "Old camera=Y41P 320x240"
    CLOAKCAM_DEVICE="" launch
    wait_for_line "$line" 5
    expect_title "cloakcam - cannot use Old camera"
    # Long enough for a rebuild loop to show itself.
    sleep 6
    [ "$(graphs_built "Old camera")" -eq 1 ] ||
        fail "the camera was bound $(graphs_built "Old camera") times in 6 s"
    said_once "$line"
    [ "$(said | wc -l)" -eq 1 ] || fail "more than one line on stderr: $(said)"
    only_our_window
    quit
}

case_preview() {
    register "Preview camera=RGB24 320x240, preview"
    CLOAKCAM_DEVICE="" launch
    sleep 1
    only_our_window
    expect_picture
    nothing_said
    quit
}

# The picture case this one is, from picture_cases.
picture_case() {
    local entry formats size
    for entry in "${picture_cases[@]}"; do
        [ "${entry%%|*}" = "$context" ] && break
    done
    IFS='|' read -r _ formats size <<<"$entry"
    register "Test camera=$formats"
    CLOAKCAM_DEVICE="" launch
    expect_picture
    [ -z "$size" ] || [ "$(connected_size "Test camera")" = "$size" ] ||
        fail "connected in $(connected_size "Test camera"), not $size"
    only_our_window
    nothing_said
    quit
}
for entry in "${picture_cases[@]}"; do
    eval "case_${entry%%|*}() { picture_case; }"
done

# Refused, the camera is tried again after 2 s, then after 4 s more: bound
# twice in the first 4.5 s, where a tight loop or a steady 2 s binds more.
# Allowed, it shows.
case_denied() {
    local refused="cloakcam: cannot use camera Private camera: access to it was refused"
    local launched tries
    register "Private camera=RGB24 320x240, denied"
    launched=$(date +%s%N)
    CLOAKCAM_DEVICE="" launch
    wait_for_words "$refused" 3
    sleep_until "$launched" 4500
    tries=$(graphs_built "Private camera")
    [ "$tries" -eq 2 ] || fail "bound $tries times in 4.5 s"
    plug "Private camera" allowed
    expect_picture
    [ "$(said | grep -cF -- "$refused")" -eq 1 ] || fail "the refusal not said once: $(said)"
    quit
}

case_in_use() {
    register "Held camera=RGB24 320x240, in-use"
    CLOAKCAM_DEVICE="" launch
    wait_for_line "cloakcam: cannot use camera Held camera: it is in use by another program" 3
    plug "Held camera" allowed
    expect_picture
    quit
}

# The camera in use is followed, not its name: while it is away, its twin
# does not bring it back.
case_twins() {
    register "Twin camera=RGB24 320x240, port=1;Twin camera=RGB24 320x240, port=2"
    CLOAKCAM_DEVICE="" launch
    expect_picture
    local used
    used=$(cd "$work" && ls -- *.bound)
    [ "$(echo "$used" | wc -l)" -eq 1 ] || fail "both twins bound: $used"
    used=${used%.bound}
    plug "$used" unplugged
    wait_for_line "cloakcam: camera lost: it was unplugged" 3
    sleep 3
    said | grep -qxF "cloakcam: camera back" && fail "back on its twin: $(said)"
    plug "$used" plugged
    wait_for_line "cloakcam: camera back" 8
    expect_picture
    said_once "cloakcam: camera lost: it was unplugged"
    said_once "cloakcam: camera back"
    quit
}

# Wine reads the environment and writes file names in the locale's encoding,
# and sets _NET_WM_NAME in UTF-8.
case_unicode() {
    export LC_ALL=C.UTF-8
    local name="Caméra Ωmega" title=""
    register "$name=RGB24 320x240"
    CLOAKCAM_DEVICE="" launch
    expect_picture
    for _ in $(seq 50); do
        title=$(xprop -id "$window" _NET_WM_NAME 2>/dev/null) || true
        [ "$title" = "_NET_WM_NAME(UTF8_STRING) = \"cloakcam - $name\"" ] && break
        sleep 0.1
    done
    [ "$title" = "_NET_WM_NAME(UTF8_STRING) = \"cloakcam - $name\"" ] || fail "title: $title"
    nothing_said
    quit
}

# The window is up while the camera takes 0.7 s to bind, 2.5 s to connect and
# 1 s to start: Escape in the Connect ends cloakcam as quickly as ever, and a
# second cloakcam waits the camera out and shows it.
case_slow() {
    register "Slow camera=RGB24 320x240, slow=700/2500/1000"
    CLOAKCAM_DEVICE="" launch
    expect_title "cloakcam - starting Slow camera" 3
    escape_during_connect "Slow camera" 1
    CLOAKCAM_DEVICE="" launch 2
    expect_picture
    quit
}

# Slow and held: tried again no more often than the back-off (at 0, 2, 6 and
# 14 s, each try 4.2 s long here), said once, its title readable every second
# meanwhile, and Escape in a later try's Connect ends cloakcam quickly.
case_slow_refused() {
    local name="Slow camera" launched title tries
    register "$name=RGB24 320x240, slow=700/2500/1000, in-use"
    launched=$(date +%s%N)
    CLOAKCAM_DEVICE="" launch
    while [ $((($(date +%s%N) - launched) / 1000000)) -lt 16000 ]; do
        title=$(xdotool getwindowname "$window" 2>/dev/null) || fail "the title could not be read"
        # Until the camera thread has listed the cameras (Wine's first listing
        # in a new prefix takes a moment), the title is the program's name.
        if [ "$title" = cloakcam ] && [ $((($(date +%s%N) - launched) / 1000000)) -lt 3000 ]; then
            sleep 0.2
            continue
        fi
        [ "$title" = "cloakcam - starting $name" ] || [ "$title" = "cloakcam - cannot use $name" ] ||
            fail "the title reads '$title'"
        kill -0 "$app" 2>/dev/null || fail "cloakcam ended"
        sleep 1
    done
    tries=$(graphs_built "$name")
    echo "built $tries graphs in 16 s"
    ((tries >= 2 && tries <= 4)) || fail "built $tries graphs in 16 s, not 2 to 4"
    said_once "cloakcam: cannot use camera $name: it is in use by another program"
    escape_during_connect "$name" $((tries + 1))
}

# The refusal case this one is, from refusal_cases: said once, after the sizes
# the row names were tried, and tried again with a growing wait.
refusal_case() {
    local entry formats words most sizes launched tried tries
    for entry in "${refusal_cases[@]}"; do
        [ "${entry%%|*}" = "$context" ] && break
    done
    IFS='|' read -r _ formats words most sizes <<<"$entry"
    register "Refusing camera=$formats"
    launched=$(date +%s%N)
    CLOAKCAM_DEVICE="" launch
    wait_for_line "cloakcam: cannot use camera Refusing camera: $words" 10
    tried=$(tr '\n' ' ' <"$work/Refusing camera.connected" 2>/dev/null) || true
    echo "connected in ${tried:-nothing}by the time it was said"
    [ -z "$sizes" ] || [ "$tried" = "$sizes " ] || fail "connected in '$tried', not '$sizes'"
    sleep_until "$launched" 16000
    tries=$(graphs_built "Refusing camera")
    echo "built $tries graphs in 16 s"
    ((tries >= 2 && tries <= most)) || fail "built $tries graphs in 16 s, not 2 to $most"
    said_once "cloakcam: cannot use camera Refusing camera: $words"
    quit
}
for entry in "${refusal_cases[@]}"; do
    eval "case_${entry%%|*}() { refusal_case; }"
done

# Its formats listed but no connection taken: said once with the code the
# graph gave, and not rebuilt as a passing trouble would be.
case_refuse_connect() {
    local name="Stubborn camera" launched line tries
    local pattern="^cloakcam: cannot use camera $name: it could not be connected \(error 0x[0-9A-F]{8}\); it offers RGB24 320x240$"
    register "$name=RGB24 320x240, refuse-connect"
    launched=$(date +%s%N)
    CLOAKCAM_DEVICE="" launch
    wait_for_words "cloakcam: cannot use camera $name: " 10
    line=$(said)
    echo "said: $line"
    [[ $line =~ $pattern ]] || fail "said '$line'"
    sleep_until "$launched" 20000
    tries=$(graphs_built "$name")
    echo "built $tries graphs in 20 s"
    [ "$tries" -le 2 ] || fail "built $tries graphs in 20 s"
    [ "$(said)" = "$line" ] || fail "more said: $(said)"
    quit
}

# Pulled mid-stream, the camera's read fails with 0x8007001F just before its
# loss: a lost camera, not one in use.
case_burst() {
    register "Desk camera=RGB24 320x240, burst"
    CLOAKCAM_DEVICE="" launch
    expect_picture
    plug "Desk camera" unplugged
    wait_for_line "cloakcam: camera lost: it was unplugged" 3
    sleep 2
    [ "$(said)" = "cloakcam: camera lost: it was unplugged" ] || fail "said: $(said)"
    quit
}

# A one-pixel checkerboard at 1920x1080, shrunk to the window, is an even mid
# grey: at each point and its right and lower neighbours every channel within
# 0.35 to 0.65, and a neighbour within 0.1 of it. Waits up to 8 s.
case_checker() {
    local x y format="" seen="" bad
    register "Fine camera=NV12 1920x1080, checker"
    CLOAKCAM_DEVICE="" launch
    for y in 40 121 200; do
        for x in 40 161 280; do
            for at in "$x,$y" "$((x + 1)),$y" "$x,$((y + 1))"; do
                format+="%[fx:p{$at}.r] %[fx:p{$at}.g] %[fx:p{$at}.b] "
            done
            format+="$x,$y\n"
        done
    done
    for _ in $(seq 16); do
        import -window "$window" "$work/shot.png" 2>/dev/null || true
        seen=$(convert "$work/shot.png" -format "$format" info: 2>/dev/null) || true
        bad=$(awk 'NF != 10 { print "unread"; next }
            { for (i = 1; i <= 9; i++) if ($i < 0.35 || $i > 0.65) { print $10; next }
              for (i = 4; i <= 9; i++) if ($i - $(i - 3 * int((i - 1) / 3)) > 0.1 ||
                  $(i - 3 * int((i - 1) / 3)) - $i > 0.1) { print $10; next } }' <<<"$seen")
        [ -n "$seen" ] && [ -z "$bad" ] && break
        sleep 0.5
    done
    cp "$work/shot.png" "$shared/$context.png" 2>/dev/null || true
    echo "r g b at each point, its right and its lower neighbour:"
    echo "$seen"
    [[ -n $seen && -z $bad ]] || fail "not an even grey at $(echo "$bad" | tr '\n' ' ')"
    quit
}

# An older virtual camera sends 640x480 whatever was connected: the picture
# shows, or one line says why not; never a picture of nothing, unexplained.
case_oversize() {
    register "Virtual camera=RGB24 320x240, oversize=640x480"
    CLOAKCAM_DEVICE="" launch
    seen=""
    for _ in $(seq 16); do
        quarters_seen && break
        [ "$(said | wc -l)" -eq 1 ] && break
        sleep 0.5
    done
    echo "said: $(said)"
    [ "$(said | wc -l)" -le 1 ] || fail "more than one line: $(said)"
    [ "$(said | wc -l)" -eq 1 ] || quarters_seen ||
        fail "neither the camera's quarters nor a line (r g b at x 3 80 150 170 240 316, y 60 then 180: $seen)"
    quit
}

passed=0
failed=0
for name in "${cases[@]}"; do
    declare -F "case_$name" >/dev/null || {
        echo "unknown case $name" >&2
        exit 2
    }
    if run_case "$name"; then
        echo "PASS: wine camera $name"
        passed=$((passed + 1))
    else
        echo "FAIL: wine camera $name"
        failed=$((failed + 1))
    fi
done
[ -z "${WINE_CAMERA_SHOTS:-}" ] || cp "$shared"/*.png "$WINE_CAMERA_SHOTS"/ 2>/dev/null || true
echo "wine camera cases: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
