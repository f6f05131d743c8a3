#!/usr/bin/env bash
# Run by unshare -m -n as root: makes this private mount namespace show the
# test's V4L2 cameras as udev would (fake /sys/class/video4linux, /run/udev
# and /dev/videoN nodes), then holds the namespace open. The real /dev, /sys
# and /sys/class stay visible only read-only; nothing mounted here is seen
# outside. Usage: namespace.sh DIR (from tests/equipment/v4l2_camera/v4l2_camera.sh)
set -euo pipefail
dir=$1
mount --make-rprivate /
stage=$dir/stage
mount -t tmpfs v4l2stage "$stage"
mkdir "$stage/dev" "$stage/class"
ro_bind() {
    mount --bind "$1" "$2"
    mount -o remount,bind,ro "$2"
}
ro_bind /dev "$stage/dev"
ro_bind /sys/class "$stage/class"
mount -o remount,bind,ro /sys

# A /dev of our own, with only the usual entries of the real one.
mount -t tmpfs -o mode=755 v4l2dev /dev
for node in null zero full random urandom tty; do
    touch "/dev/$node"
    ro_bind "$stage/dev/$node" "/dev/$node"
done
mkdir /dev/shm /dev/pts
mount -t tmpfs -o mode=1777 v4l2shm /dev/shm
ln -s /proc/self/fd /dev/fd

# /sys/class: the real classes read-only, video4linux the test's.
mount -t tmpfs -o mode=755 v4l2class /sys/class
for class in "$stage"/class/*; do
    mkdir "/sys/class/${class##*/}"
    ro_bind "$class" "/sys/class/${class##*/}"
done
mkdir /sys/class/video4linux
mount --bind "$dir/class" /sys/class/video4linux

# /run: udev's database, the test's, and an empty logind.
mount -t tmpfs -o mode=755 v4l2run /run
mkdir /run/udev
mount --bind "$dir/udev" /run/udev
# What logind's clients watch (WirePlumber ends without it): no sessions.
mkdir -p /run/systemd/seats /run/systemd/sessions /run/systemd/users /run/systemd/machines
umount -l "$stage"
touch "$dir/ready"
exec sleep 100000
