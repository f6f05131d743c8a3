# What the scripts that run cloakcam against virtual PipeWire cameras share:
# starting and quitting it in its window, waiting for its lines, and looking
# at what the window shows. Source after end_to_end.sh and virtual_camera.sh;
# failures name the case in `context`.

context=""
eval "helpers_$(declare -f fail)"
fail() { helpers_fail "$context: $*"; }
eval "helpers_$(declare -f cleanup)"
cleanup() {
    vcam_down
    helpers_cleanup
}

launch() {
    : >"$work/stdout.log"
    : >"$work/stderr.log"
    "$cloakcam" >"$work/stdout.log" 2>"$work/stderr.log" &
    app=$!
    pids+=("$app")
    window=$(find_window 15) || true
    [ -n "$window" ] || fail "no window"
}

quit() {
    xdotool windowfocus --sync "$window" key Escape
    expect_clean_exit
    ! grep -v '^cloakcam: ' "$work/stderr.log" >/dev/null || fail "stderr has more than our lines"
}

# Waits up to `seconds` for a line to be on stderr `count` times (default
# once); prints how long it took in ms.
wait_for_line() {
    local line=$1 seconds=$2 count=${3:-1} started
    started=$(date +%s%N)
    for _ in $(seq $((seconds * 20))); do
        (($(grep -cx -- "$line" "$work/stderr.log") >= count)) && {
            echo $((($(date +%s%N) - started) / 1000000))
            return 0
        }
        kill -0 "$app" 2>/dev/null || fail "ended while waiting for '$line'"
        sleep 0.05
    done
    fail "no '$line' (time $count) within $seconds s; stderr: $(cat "$work/stderr.log")"
}

# The colour at x,y of a screenshot, as "r g b".
colour_at() {
    convert "$work/shot.png" -format "%[fx:int(255*p{$1,$2}.r)] %[fx:int(255*p{$1,$2}.g)] %[fx:int(255*p{$1,$2}.b)]" info:
}

# A wide camera's red bands, on the outer parts of its picture that a cut to
# the window's shape removes, are out of sight. After expect_bars.
expect_no_red_bands() {
    for x in 0 319; do
        read -r r g b <<<"$(colour_at $x 120)"
        ((r < 150 || g > 60 || b > 60)) || fail "red band at the window's edge, x $x"
    done
}

# The window shows videotestsrc's SMPTE bars upright and mirrored: blue at
# the top left, white at the top right, the dark blue of the bottom band at
# the bottom right. Looked at near the edges: of a wide camera's picture cut
# to the window's shape, only a sliver of the outer bars is left.
bars_shown() {
    import -window "$window" "$work/shot.png"
    read -r r g b <<<"$(colour_at 3 8)"
    ((b > 120 && r < 80 && g < 80)) || {
        seen="top left is $r $g $b, not blue"
        return 1
    }
    read -r r g b <<<"$(colour_at 316 8)"
    ((r > 150 && g > 150 && b > 150)) || {
        seen="top right is $r $g $b, not white"
        return 1
    }
    read -r r g b <<<"$(colour_at 316 232)"
    ((b > 90 && r < 40 && g < 100)) || {
        seen="bottom right is $r $g $b, not dark blue: upside down"
        return 1
    }
}

# A camera may take a while to start: up to 6 s.
expect_bars() {
    sleep 1
    for _ in $(seq 10); do
        bars_shown && return 0
        sleep 0.5
    done
    fail "$seen"
}
