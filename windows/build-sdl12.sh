#!/usr/bin/env bash
# Builds SDL 1.2 for 64-bit Windows (SDL.dll, its import library and SDLmain)
# from the pinned source tarball beside the project, with Debian's mingw-w64.
# Video only, and with stdio redirection off so that the program's messages
# reach its console rather than stdout.txt/stderr.txt beside the exe.
#
#   windows/build-sdl12.sh [build-dir]       (default: build-windows)
#
# Prints the install folder (include/, lib/, bin/SDL.dll) on its last line.
# The result is kept in the build folder under the tarball's hash, so a
# second run costs nothing and a new tarball builds afresh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$root/build-windows}" && cd "${1:-$root/build-windows}" && pwd)

tarball=$(ls "${CLOAKCAM_THIRD_PARTY:-$root/../shared/third_party}"/SDL-1.2-*.tar.xz 2>/dev/null |
    head -n 1)
if [ -z "$tarball" ]; then
    echo "windows: no SDL-1.2-*.tar.xz in ../shared/third_party (set CLOAKCAM_THIRD_PARTY)" >&2
    exit 1
fi
hash=$(sha256sum "$tarball" | cut -c1-16)
prefix=$build/sdl12-$hash
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

work=$(mktemp -d "$build/sdl12-src.XXXXXX")
trap 'rm -rf "$work"' EXIT
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
