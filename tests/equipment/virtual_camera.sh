# Virtual cameras for tests: a private session D-Bus, PipeWire and
# WirePlumber in a runtime folder of their own, and cameras published into it
# by GStreamer, which programs find as they find real ones. Source this file;
# every process is started here and ended here by its PID (nothing reaps
# orphans on these machines). Needs pipewire, pipewire-bin, wireplumber,
# gstreamer1.0-pipewire, gstreamer1.0-tools and dbus.
#
#   vcam_up                          the session, with PipeWire running
#   vcam_publish NAME CAPS [PATTERN] [BANDS]
#                                    a camera called NAME giving CAPS (raw
#                                    video or image/jpeg) of videotestsrc
#                                    PATTERN (default smpte), narrowed by
#                                    red bands BANDS pixels wide on either
#                                    side when given
#   vcam_withdraw NAME               the camera unplugged
#   vcam_pipewire_down / _up         the PipeWire daemon dies / comes back
#   vcam_down                        everything ended

declare -A vcam_cameras=()
vcam_daemons=()
vcam_bus=""

vcam_wait_for() {
    local what=$1
    shift
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.05
    done
    echo "virtual camera: $what did not happen within 5 s" >&2
    return 1
}

vcam_pipewire_up() {
    pipewire >>"$XDG_RUNTIME_DIR/pipewire.log" 2>&1 &
    vcam_daemons+=($!)
    vcam_wait_for "PipeWire's socket" test -S "$XDG_RUNTIME_DIR/pipewire-0"
    wireplumber >>"$XDG_RUNTIME_DIR/wireplumber.log" 2>&1 &
    vcam_daemons+=($!)
}

vcam_pipewire_down() {
    local pid
    for pid in "${vcam_daemons[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${vcam_daemons[@]}"; do wait "$pid" 2>/dev/null || true; done
    vcam_daemons=()
    rm -f "$XDG_RUNTIME_DIR/pipewire-0" "$XDG_RUNTIME_DIR/pipewire-0.lock"
}

vcam_up() {
    export XDG_RUNTIME_DIR
    XDG_RUNTIME_DIR=$(mktemp -d "${TMPDIR:-/tmp}/vcam.XXXXXX")
    export PIPEWIRE_RUNTIME_DIR=$XDG_RUNTIME_DIR
    # WirePlumber ends at once without a session bus.
    dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
        >"$XDG_RUNTIME_DIR/dbus.log" 2>&1 &
    vcam_bus=$!
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
    vcam_wait_for "the session bus" test -S "$XDG_RUNTIME_DIR/bus"
    vcam_pipewire_up
}

vcam_listed() {
    pw-cli ls Node 2>/dev/null | grep -q "node.description = \"$1\""
}

vcam_publish() {
    local name=$1 caps=$2 pattern=${3:-smpte} bands=${4:-0} encode="" shape="" width height
    case $caps in
    image/jpeg*) encode="video/x-raw,${caps#image/jpeg,} ! jpegenc !" ;;
    esac
    if ((bands > 0)); then
        width=$(sed -E 's/.*width=([0-9]+).*/\1/' <<<"$caps")
        height=$(sed -E 's/.*height=([0-9]+).*/\1/' <<<"$caps")
        # Filters writing straight into pipewiresink's buffers get empty
        # ones; these write into their own, which it copies.
        shape="video/x-raw,width=$((width - 2 * bands)),height=$height ! videobox"
        shape+=" left=-$bands right=-$bands fill=red ! videoconvert ! identity drop-allocation=true !"
    fi
    # shellcheck disable=SC2086
    gst-launch-1.0 -q videotestsrc is-live=true pattern="$pattern" ! $shape $encode "$caps" ! \
        pipewiresink mode=provide \
        "stream-properties=\"props,media.class=Video/Source,media.role=Camera,node.description=\\\"$name\\\"\"" \
        >>"$XDG_RUNTIME_DIR/cameras.log" 2>&1 &
    vcam_cameras[$name]=$!
    vcam_wait_for "camera $name" vcam_listed "$name"
}

vcam_withdraw() {
    local pid=${vcam_cameras[$1]:-}
    [ -n "$pid" ] || return 0
    # A stopped publisher would not end.
    kill -CONT "$pid" 2>/dev/null || true
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    unset "vcam_cameras[$1]"
}

vcam_down() {
    local name
    for name in "${!vcam_cameras[@]}"; do vcam_withdraw "$name"; done
    vcam_pipewire_down
    if [ -n "$vcam_bus" ]; then
        kill "$vcam_bus" 2>/dev/null || true
        wait "$vcam_bus" 2>/dev/null || true
        vcam_bus=""
    fi
    [ -n "${XDG_RUNTIME_DIR:-}" ] && rm -rf "$XDG_RUNTIME_DIR"
}
