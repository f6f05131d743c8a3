# shellcheck shell=bash
# V4L2 cameras that exist only in the test, for programs that find cameras
# as they find real ones: through udev (GStreamer's V4L2 device provider)
# and the V4L2 calls on /dev/videoN. The program runs in private mount and
# network namespaces (namespace.sh) with libv4l2_camera.so preloaded, which
# answers for the nodes; udev_send tells its udev monitors of hot-plugs.
# Needs root and unshare/nsenter. Source this file.
#
#   v4l2_up PRELOAD UDEV_SEND PROGRAM  the namespace; `cloakcam` then names a
#                                      wrapper running PROGRAM inside it
#   v4l2_plug MINOR KIND MODES CARD    a node plugged in (KIND, MODES: see
#                                      v4l2_camera.c), e.g.
#                                      v4l2_plug 0 uvc "YUYV:640x480@30" "USB Camera"
#   v4l2_unplug MINOR                  unplugged: ENODEV and POLLERR, then gone
#   v4l2_flag MINOR busy|deny|silent / v4l2_unflag MINOR FLAG
#   v4l2_forget                        every node gone, without a word
#   v4l2_pipewire_down / _up           the namespace's PipeWire ends / starts
#   v4l2_session_up / _down            WirePlumber, PipeWire's V4L2 monitor
#   v4l2_down                          the namespace ended, its folder removed
#   $v4l2_dir/log                      S_FMT, S_PARM, STREAMON as asked

v4l2_dir=""
v4l2_holder=""
v4l2_pipewire=""
v4l2_wireplumber=""
v4l2_bus=""

v4l2_up() {
    local preload=$1 program
    program=$(realpath "$3")
    v4l2_send=$2
    v4l2_dir=$(mktemp -d "${TMPDIR:-/tmp}/v4l2cam.XXXXXX")
    mkdir "$v4l2_dir/stage" "$v4l2_dir/class" "$v4l2_dir/udev" "$v4l2_dir/udev/data" "$v4l2_dir/runtime"
    # libudev listens to udevd's events only where udevd seems to run.
    touch "$v4l2_dir/udev/control" "$v4l2_dir/cameras"
    chmod 700 "$v4l2_dir/runtime"
    unshare -m -n --propagation private bash "$(dirname "${BASH_SOURCE[0]}")/namespace.sh" \
        "$v4l2_dir" >"$v4l2_dir/namespace.log" 2>&1 &
    v4l2_holder=$!
    for _ in $(seq 100); do
        [ -e "$v4l2_dir/ready" ] && break
        sleep 0.05
    done
    [ -e "$v4l2_dir/ready" ] || {
        echo "v4l2 camera: no namespace: $(cat "$v4l2_dir/namespace.log")" >&2
        return 1
    }
    # A registry of our own: GStreamer's V4L2 plugin is scanned again
    # whenever /dev/video* changes, which must not touch the machine's cache.
    # libudev takes the fake /sys/class/video4linux, not sysfs, for sysfs.
    # What the caller preloads (the sanitizer runs' dlclose that does
    # nothing) stays preloaded after the camera library. LeakSanitizer's
    # exit check crashes now and then in this namespace (its tracer thread
    # faults); memory errors are still caught here, leaks by the other
    # end-to-end runs of the same program.
    local sanitizer=""
    [ -z "${ASAN_OPTIONS:-}" ] || sanitizer="ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0"
    cat >"$v4l2_dir/run" <<EOF
#!/bin/sh
exec nsenter -t $v4l2_holder -m -n -- env -u GST_V4L2_USE_LIBV4L2 -u PIPEWIRE_REMOTE \
    -u PIPEWIRE_RUNTIME_DIR SYSTEMD_DEVICE_VERIFY_SYSFS=0 LD_PRELOAD=$preload${LD_PRELOAD:+:$LD_PRELOAD} $sanitizer V4L2_CAMERA_DIR=$v4l2_dir \
    XDG_RUNTIME_DIR=$v4l2_dir/runtime GST_REGISTRY=$v4l2_dir/registry.bin "\$@"
EOF
    chmod +x "$v4l2_dir/run"
    v4l2_pipewire_up
    printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$v4l2_dir/run" "$program" >"$v4l2_dir/cloakcam"
    chmod +x "$v4l2_dir/cloakcam"
    cloakcam=$v4l2_dir/cloakcam
}

# A PipeWire without a session manager, as on a desktop whose PipeWire has
# no V4L2 monitor: PipeWire's provider starts, and has no V4L2 nodes to hide
# GStreamer's own V4L2 provider behind.
v4l2_pipewire_up() {
    "$v4l2_dir/run" pipewire >"$v4l2_dir/pipewire.log" 2>&1 &
    v4l2_pipewire=$!
    for _ in $(seq 100); do
        [ -S "$v4l2_dir/runtime/pipewire-0" ] && return 0
        sleep 0.05
    done
    echo "v4l2 camera: PipeWire did not start: $(cat "$v4l2_dir/pipewire.log")" >&2
    return 1
}

# WirePlumber (with the session bus it needs) runs PipeWire's own V4L2
# monitor: the cameras become PipeWire nodes, and PipeWire's GStreamer
# provider hides GStreamer's V4L2 one.
v4l2_session_up() {
    "$v4l2_dir/run" dbus-daemon --session --nofork --address="unix:path=$v4l2_dir/runtime/bus" \
        >"$v4l2_dir/dbus.log" 2>&1 &
    v4l2_bus=$!
    for _ in $(seq 100); do
        [ -S "$v4l2_dir/runtime/bus" ] && break
        sleep 0.05
    done
    DBUS_SESSION_BUS_ADDRESS=unix:path=$v4l2_dir/runtime/bus "$v4l2_dir/run" wireplumber \
        >"$v4l2_dir/wireplumber.log" 2>&1 &
    v4l2_wireplumber=$!
}

v4l2_session_down() {
    local pid
    for pid in $v4l2_wireplumber $v4l2_bus; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    v4l2_wireplumber=""
    v4l2_bus=""
    rm -f "$v4l2_dir/runtime/bus"
}

v4l2_pipewire_down() {
    [ -n "$v4l2_pipewire" ] || return 0
    kill "$v4l2_pipewire" 2>/dev/null || true
    wait "$v4l2_pipewire" 2>/dev/null || true
    v4l2_pipewire=""
    rm -f "$v4l2_dir/runtime/pipewire-0" "$v4l2_dir/runtime/pipewire-0.lock"
}

v4l2_inside() {
    nsenter -t "$v4l2_holder" -m -n -- "$@"
}

# The properties udev's rules (60-persistent-v4l.rules, v4l_id) give a
# USB camera's node; a node's port follows from its minor, two nodes a port.
# Two of one model differ only in their port, as cameras without a serial do.
v4l2_properties() {
    local minor=$1 kind=$2 card=$3 caps=":capture:"
    [ "$kind" = meta ] && caps=":"
    [ "$kind" = loopback ] && caps=":video_output:"
    printf '%s\n' "ID_V4L_VERSION=2" "ID_V4L_PRODUCT=$card" "ID_V4L_CAPABILITIES=$caps" \
        "ID_BUS=usb" "ID_VENDOR_ID=046d" "ID_MODEL_ID=0825" "ID_SERIAL=${card// /_}" \
        "ID_PATH=pci-0000:00:14.0-usb-0:$((minor / 2 + 1)):1.0" "USEC_INITIALIZED=1000000"
}

v4l2_plug() {
    local minor=$1 kind=$2 modes=$3 card=$4 node=$v4l2_dir/class/video$1
    rm -f "$v4l2_dir/video$minor.gone"
    grep -q "^$minor " "$v4l2_dir/cameras" || echo "$minor $kind ${modes//\// } | $card" >>"$v4l2_dir/cameras"
    mkdir -p "$node/device"
    printf 'MAJOR=81\nMINOR=%s\nDEVNAME=video%s\n' "$minor" "$minor" >"$node/uevent"
    echo "81:$minor" >"$node/dev"
    echo "$card" >"$node/name"
    echo $((minor % 2)) >"$node/index"
    ln -sfn ../../../../class/video4linux "$node/subsystem"
    printf '046d\n' >"$node/device/idVendor"
    printf '0825\n' >"$node/device/idProduct"
    {
        echo "I:1000000"
        v4l2_properties "$minor" "$kind" "$card" | sed 's/^/E:/'
        echo "G:uaccess"
    } >"$v4l2_dir/udev/data/c81:$minor"
    v4l2_inside mknod -m 660 "/dev/video$minor" c 81 "$minor"
    local props=()
    mapfile -t props < <(v4l2_properties "$minor" "$kind" "$card")
    v4l2_inside "$v4l2_send" add "/class/video4linux/video$minor" video4linux MAJOR=81 \
        "MINOR=$minor" "DEVNAME=/dev/video$minor" "${props[@]}"
}

v4l2_unplug() {
    local minor=$1
    touch "$v4l2_dir/video$minor.gone"
    v4l2_inside "$v4l2_send" remove "/class/video4linux/video$minor" video4linux MAJOR=81 \
        "MINOR=$minor" "DEVNAME=/dev/video$minor" ID_V4L_VERSION=2
    v4l2_inside rm -f "/dev/video$minor"
    rm -rf --one-file-system "$v4l2_dir/class/video$minor" "$v4l2_dir/udev/data/c81:$minor"
}

v4l2_flag() { touch "$v4l2_dir/video$1.$2"; }
v4l2_unflag() { rm -f "$v4l2_dir/video$1.$2"; }

# Between cases: no node left, no flag, the log empty.
v4l2_forget() {
    local minor
    for minor in $(cut -d' ' -f1 "$v4l2_dir/cameras"); do
        v4l2_inside rm -f "/dev/video$minor"
        rm -rf --one-file-system "$v4l2_dir/class/video$minor" "$v4l2_dir/udev/data/c81:$minor"
        rm -f "$v4l2_dir/video$minor".*
    done
    : >"$v4l2_dir/cameras"
    : >"$v4l2_dir/log"
}

v4l2_down() {
    [ -n "$v4l2_holder" ] || return 0
    v4l2_session_down
    v4l2_pipewire_down
    kill "$v4l2_holder" 2>/dev/null || true
    wait "$v4l2_holder" 2>/dev/null || true
    v4l2_holder=""
    # Only once the namespace's processes are gone are its mounts gone.
    rm -rf --one-file-system "$v4l2_dir"
}
