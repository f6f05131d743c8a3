#!/usr/bin/env bash
# Builds the Windows program with Debian's mingw-w64 (SDL 1.2 included, from
# its pinned source) and checks it under Wine's own DirectShow, in a Wine
# prefix of its own that is thrown away afterwards: capture_check.exe without
# a display, then cloakcam.exe through the same end-to-end scenarios as the
# Linux program, each on an X server of its own, and against the project's
# test camera (tests/wine_camera.sh). Finally packs the zip for
# Windows users. Installs from Debian whatever is missing; exits non-zero when
# anything fails.
#
#   windows/run-wine-check.sh [build-dir]     (default: build-windows)
#
# Compiling capture/ against mingw-w64's real Windows headers is itself a
# check: a name, signature or constant that the Linux stand-in in platform/
# declares differently from Windows fails this build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}

started=$SECONDS
lap=$SECONDS
timing() {
    echo "windows: $1 took $((SECONDS - lap)) s"
    lap=$SECONDS
}

packages=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64
    g++ libx11-dev xvfb xauth xdotool x11-utils imagemagick curl ca-certificates)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "windows: installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
timing "install"

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=windows/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
# The end-to-end test closes windows the way a window manager does, with a
# small X program of the Linux build's.
g++ -O1 -o "$build/wm_close" tests/equipment/wm_close.cpp -lX11
# A console program: its messages reach a double-click's console and the
# command prompt that waits for it (README.txt says so).
[[ $(x86_64-w64-mingw32-objdump -p "$build/app/cloakcam.exe") == *"(Windows CUI)"* ]] ||
    { echo "windows: cloakcam.exe is not a console program" >&2; exit 1; }
timing "build"

# Debian's wine64 package puts its loader outside PATH; the wine package only
# adds a wrapper script.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

prefix=$(mktemp -d "${TMPDIR:-/tmp}/cloakcam-wine.XXXXXX")
cleanup() {
    # Only this prefix's server, and with it whatever Wine left running in it.
    WINEPREFIX=$prefix timeout 30 "$wineserver" -k 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT

# No display: a console program needs none, and Wine then has no window to
# pop up. The .NET and HTML engine installers are turned off so that setting
# up the prefix never waits on a download prompt.
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if ! timeout 300 "$wine" wineboot --init >"$prefix.boot.log" 2>&1; then
    echo "windows: setting up the Wine prefix failed or hung:" >&2
    cat "$prefix.boot.log" >&2
    rm -f "$prefix.boot.log"
    exit 1
fi
rm -f "$prefix.boot.log"
timing "Wine set-up"

# Windows text mode ends lines with CR LF; the summary line is read as plain
# text, so the CRs go.
status=0
timeout 120 "$wine" "$build/tests/windows/capture_check.exe" < /dev/null | tr -d '\r' || status=$?
if [ "$status" -eq 124 ]; then
    echo "windows: capture_check.exe did not finish within 120 s" >&2
fi
timing "capture check"

# Wine's desktop process belongs to the X server it first met, and each
# scenario brings its own: the prefix's server is ended before each one.
passed=0
failed=0
for scenario in picture_and_keys window_close no_display; do
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    if CLOAKCAM_RUNNER=$wine timeout 120 tests/end_to_end.sh "$scenario" \
        "$build/app/cloakcam.exe" "$build/wm_close"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        status=1
    fi
done
echo "windows end to end: $passed passed, $failed failed"
timing "end-to-end runs"

# The project's DirectShow test camera in the prefix's video input category,
# registered by each case with the cameras it wants.
if ! WINE=$wine WINESERVER=$wineserver timeout 900 tests/wine_camera.sh \
    "$build/app/cloakcam.exe" "$build/tests/windows/test_camera/test_camera.dll"; then
    status=1
fi
timing "camera cases"

windows/make-zip.sh "$build"
echo "windows: $((SECONDS - started)) s in all"
exit "$status"
