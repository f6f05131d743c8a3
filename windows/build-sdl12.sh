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
# build folder from GitHub's archive of the pinned commit (CLOAKCAM_SDL12_URL
# names a mirror instead, or file:///path/to/it). It may be .tar.xz or
# .tar.gz, under any top folder; either way the unpacked tree must have the
# pinned content digest, or the build stops.
# --fetch-only stops once the tarball is in place and checked and prints its
# path.
#
# Prints the install folder (include/, lib/, bin/SDL.dll) on its last line.
# The result is kept in the build folder under the content digest, so a
# second run costs nothing and a new pin builds afresh.
set -euo pipefail

# SDL 1.2 branch head 1af51022b4e951bf10b8c9429ba5888e70c2782f of
# https://github.com/libsdl-org/SDL-1.2.
sdl12_stem=SDL-1.2-1af51022
sdl12_default_url=https://github.com/libsdl-org/SDL-1.2/archive/1af51022b4e951bf10b8c9429ba5888e70c2782f.tar.gz
# The tree is pinned rather than the tarball's bytes: GitHub's archive and
# the git archive beside the project (SDL-1.2-1af51022.tar.xz) hold the same
# files under other compression and another top folder. See tree_digest.
sdl12_tree_sha256=af1e74da35cef960c116c7aa5cfc732dcfc434d096165d64c775f6dbdf0c94fd

fetch_only=false
if [ "${1:-}" = --fetch-only ]; then
    fetch_only=true
    shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$root/build-windows}" && cd "${1:-$root/build-windows}" && pwd)
third_party=${CLOAKCAM_THIRD_PARTY:-$root/../shared/third_party}
url=${CLOAKCAM_SDL12_URL:-$sdl12_default_url}

prefix=$build/sdl12-${sdl12_tree_sha256:0:16}
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

# gz or xz by the file's first bytes, not its name: a download's name says
# nothing, and a mirror may serve either.
compression() {
    case $(od -An -tx1 -N6 "$1" | tr -d ' \n') in
        1f8b*) echo gz ;;
        fd377a585a00) echo xz ;;
        *) return 1 ;;
    esac
}

# SHA-256 of a listing of what git keeps of a tree: each file's SHA-256 and
# path, the executable ones, and symlinks with their targets (SDL 1.2 has
# none), sorted bytewise so that any machine lists it alike.
tree_digest() {
    (
        cd "$1"
        find . -type f -print0 | LC_ALL=C sort -z | xargs -0r sha256sum
        find . -type f -perm -u=x -printf 'x %p\0' | LC_ALL=C sort -z | tr '\0' '\n'
        find . -type l -printf 'l %p -> %l\0' | LC_ALL=C sort -z | tr '\0' '\n'
    ) | sha256sum | cut -d' ' -f1
}

# Unpacks the tarball, without its top folder, into a fresh $work and checks
# the tree against the pin; says what is wrong otherwise, naming it `what`.
unpack_pinned() {
    local tarball=$1 what=$2 flag="" actual
    if [ -n "$work" ]; then rm -rf "$work"; fi
    work=$(mktemp -d "$build/sdl12-src.XXXXXX")
    case $(compression "$tarball") in
        gz) flag=-z ;;
        xz) flag=-J ;;
    esac
    if [ -z "$flag" ] ||
        ! tar -x "$flag" -f "$tarball" -C "$work" --strip-components=1 2>/dev/null; then
        echo "windows: $what does not unpack as a .tar.gz or .tar.xz; refusing it" >&2
        return 1
    fi
    actual=$(tree_digest "$work")
    [ "$actual" = "$sdl12_tree_sha256" ] && return 0
    echo "windows: $what has content digest $actual, not the pinned $sdl12_tree_sha256; refusing it" >&2
    return 1
}

cache=$build/sdl12-download
tarball=""
for candidate in "$third_party/$sdl12_stem".tar.{xz,gz}; do
    if [ -f "$candidate" ]; then
        tarball=$candidate
        unpack_pinned "$tarball" "$tarball" || exit 1
        break
    fi
done
if [ -z "$tarball" ]; then
    for candidate in "$cache/$sdl12_stem".tar.{xz,gz}; do
        # A damaged cached copy is quietly downloaded again.
        if [ -f "$candidate" ] && unpack_pinned "$candidate" "$candidate" 2>/dev/null; then
            tarball=$candidate
            break
        fi
    done
fi
if [ -z "$tarball" ]; then
    mkdir -p "$cache"
    # Downloaded beside its final name and renamed only once checked, so an
    # interrupted or wrong download is never taken for the tarball.
    partial=$(mktemp "$cache/$sdl12_stem.part.XXXXXX")
    if ! reason=$(curl -fsSL --connect-timeout 30 --max-time 600 -o "$partial" "$url" 2>&1); then
        echo "windows: could not download SDL 1.2 from $url: ${reason##*curl: }" >&2
        exit 1
    fi
    unpack_pinned "$partial" "$url" || exit 1
    tarball=$cache/$sdl12_stem.tar.$(compression "$partial")
    # Only one copy kept, so a damaged one of the other kind is not tried first.
    rm -f "$cache/$sdl12_stem".tar.{xz,gz}
    mv -f "$partial" "$tarball"
    partial=""
fi
if $fetch_only; then
    echo "$tarball"
    exit 0
fi

# Built from the very tree that was checked.
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
