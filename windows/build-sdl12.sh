#!/usr/bin/env bash
# Builds SDL 1.2 for 64-bit Windows (SDL.dll, its import library and SDLmain)
# from its pinned source tarball, with Debian's mingw-w64. Video only, and
# with stdio redirection off so that the program's messages reach its console
# rather than stdout.txt/stderr.txt beside the exe.
#
#   windows/build-sdl12.sh [--fetch-only] [build-dir]   (default: build-windows)
#
# The tarball comes from ../shared/third_party (CLOAKCAM_THIRD_PARTY names
# another folder) or, where it is not there, is downloaded once into the
# build folder from CLOAKCAM_SDL12_URL (a mirror, or file:///path/to/it).
# Either way it must have the pinned SHA-256, or the build stops.
# --fetch-only stops once the tarball is in place and prints its path.
#
# Prints the install folder (include/, lib/, bin/SDL.dll) on its last line.
# The result is kept in the build folder under the tarball's hash, so a
# second run costs nothing and a new pin builds afresh.
set -euo pipefail

sdl12_name=SDL-1.2-1af51022.tar.xz
# git archive of the SDL 1.2 branch head 1af51022b4e951bf10b8c9429ba5888e70c2782f
# of https://github.com/libsdl-org/SDL-1.2, xz-compressed.
sdl12_sha256=5f2ade585c0e4b06d53676f38d1f6b39bc7993ca98b791e16e9a439031331c15
# No public copy of these exact bytes is known yet (GitHub's own archives of a
# commit are .tar.gz, and their bytes are not guaranteed to stay the same), so
# there is no address to fall back on: CLOAKCAM_SDL12_URL names one. Fill this
# in once the tarball is published somewhere.
sdl12_default_url=""

fetch_only=false
if [ "${1:-}" = --fetch-only ]; then
    fetch_only=true
    shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$root/build-windows}" && cd "${1:-$root/build-windows}" && pwd)
third_party=${CLOAKCAM_THIRD_PARTY:-$root/../shared/third_party}
url=${CLOAKCAM_SDL12_URL:-$sdl12_default_url}

prefix=$build/sdl12-${sdl12_sha256:0:16}
if ! $fetch_only && [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

partial=""
work=""
cleanup() {
    if [ -n "$partial" ]; then rm -f "$partial"; fi
    if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# True when the file has the pinned hash; says what it has otherwise.
pinned() {
    local actual
    actual=$(sha256sum "$1" | cut -d' ' -f1)
    [ "$actual" = "$sdl12_sha256" ] && return 0
    echo "windows: $2 has SHA-256 $actual, not the pinned $sdl12_sha256; refusing it" >&2
    return 1
}

cache=$build/sdl12-download
if [ -f "$third_party/$sdl12_name" ]; then
    tarball=$third_party/$sdl12_name
    pinned "$tarball" "$tarball" || exit 1
elif [ -f "$cache/$sdl12_name" ] && pinned "$cache/$sdl12_name" "$cache/$sdl12_name" 2>/dev/null; then
    tarball=$cache/$sdl12_name
else
    if [ -z "$url" ]; then
        echo "windows: no $sdl12_name in $third_party; set CLOAKCAM_SDL12_URL to download it (or CLOAKCAM_THIRD_PARTY)" >&2
        exit 1
    fi
    mkdir -p "$cache"
    # Downloaded beside its final name and renamed only once checked, so an
    # interrupted or wrong download is never taken for the tarball.
    partial=$(mktemp "$cache/$sdl12_name.part.XXXXXX")
    if ! reason=$(curl -fsSL --connect-timeout 30 --max-time 600 -o "$partial" "$url" 2>&1); then
        echo "windows: could not download $sdl12_name from $url: ${reason##*curl: }" >&2
        exit 1
    fi
    pinned "$partial" "$url" || exit 1
    mv -f "$partial" "$cache/$sdl12_name"
    partial=""
    tarball=$cache/$sdl12_name
fi
if $fetch_only; then
    echo "$tarball"
    exit 0
fi

work=$(mktemp -d "$build/sdl12-src.XXXXXX")
tar -xJf "$tarball" -C "$work" --strip-components=1
rm -rf "$prefix"
(
    cd "$work"
    ./configure --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-static \
        --disable-stdio-redirect --disable-audio --disable-cdrom --disable-joystick \
        --disable-nasm >configure.log 2>&1 || { cat configure.log >&2; exit 1; }
    make -j"$(nproc)" >make.log 2>&1 || { tail -n 40 make.log >&2; exit 1; }
    make install >install.log 2>&1 || { tail -n 40 install.log >&2; exit 1; }
)
# LGPL 2.1: the licence travels with the DLL.
cp "$work/COPYING" "$prefix/COPYING-SDL.txt"
touch "$prefix/.complete"
echo "$prefix"
