#!/usr/bin/env bash
# Installs from Debian whatever the build needs and is missing; with --test,
# also what the tests need (an X server, key presses, screenshots); with --fuzz,
# clang and libFuzzer; with --valgrind, valgrind and an X server; with
# --package, what builds and checks the Debian package.
set -euo pipefail

packages=(cmake g++ pkg-config libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    libudev-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good libgtest-dev libbenchmark-dev)
# Either SDL 1.2 library will do; take the maintained one only when neither is there.
pkg-config --exists sdl 2>/dev/null || packages+=(libsdl1.2-compat-dev)
case "${1:-}" in
# PipeWire and its tools publish the virtual cameras of tests/camera.sh; libjpeg
# draws the MJPG pictures of tests/v4l2_camera.sh's cameras, which are found
# with libcamera's GStreamer provider installed, as on many desktops.
--test) packages+=(xvfb xauth xdotool x11-utils imagemagick libx11-dev pipewire pipewire-bin wireplumber
    gstreamer1.0-pipewire gstreamer1.0-tools dbus libjpeg62-turbo-dev gstreamer1.0-libcamera) ;;
# libFuzzer and the sanitizer runtimes come with clang's runtime package.
--fuzz) packages+=(clang libclang-rt-14-dev) ;;
--valgrind) packages+=(valgrind xvfb xauth xdotool libx11-dev) ;;
--package) packages+=(dpkg-dev file lintian desktop-file-utils appstream) ;;
esac

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
