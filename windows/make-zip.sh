#!/usr/bin/env bash
# Packs the Windows program for users: cloakcam.exe, SDL.dll, cloakcam's and
# SDL's licences and a short text, as cloakcam-VERSION-windows-x86_64.zip in
# the build folder, VERSION being the project's version in CMakeLists.txt.
#
#   windows/make-zip.sh [build-dir]       (default: build-windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-windows}" && pwd)
sdl=$(grep -m1 '^SDL12_DIR:' "$build/CMakeCache.txt" | cut -d= -f2-)
version=$(grep -m1 '^CMAKE_PROJECT_VERSION:' "$build/CMakeCache.txt" | cut -d= -f2-)
[ -n "$version" ] || { echo "windows: no project version in $build/CMakeCache.txt" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/cloakcam"
cp "$build/app/cloakcam.exe" "$build/app/SDL.dll" "$stage/cloakcam/"
# Debugging symbols are no use to a user; they double the download.
if command -v x86_64-w64-mingw32-strip >/dev/null; then
    x86_64-w64-mingw32-strip "$stage/cloakcam/cloakcam.exe" "$stage/cloakcam/SDL.dll"
fi
# Windows editors expect CR LF.
sed 's/$/\r/' "$root/windows/README-windows.txt" >"$stage/cloakcam/README.txt"
sed 's/$/\r/' "$root/LICENSE" >"$stage/cloakcam/LICENSE.txt"
sed 's/$/\r/' "$sdl/COPYING-SDL.txt" >"$stage/cloakcam/COPYING-SDL.txt"
zip=$build/cloakcam-$version-windows-x86_64.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip cloakcam)
echo "$zip"
