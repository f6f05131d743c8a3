#!/usr/bin/env bash
# windows/build-sdl12.sh's fetch step without a network: the pinned SDL 1.2
# tarball beside the project, downloaded through file:// into the build
# folder and kept there, the same tree as GitHub packs it (.tar.gz, another
# top folder) taken too, and a tarball that does not unpack or holds another
# tree refused in one line with nothing left in the download folder. Skips
# (77) where the pinned tarball is not beside the project.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
script=$root/windows/build-sdl12.sh
name=SDL-1.2-1af51022.tar.xz
pinned=$root/../shared/third_party/$name
if [ ! -f "$pinned" ]; then
    echo "sdl12_fetch: no $pinned; skipped"
    exit 77
fi
pinned=$(cd "$(dirname "$pinned")" && pwd)/$name

# Every case unpacks the tree (1,600 entries): on tmpfs that takes a tenth of
# the time it takes on a slow disk.
tmp=/dev/shm
[ -d "$tmp" ] && [ -w "$tmp" ] || tmp=${TMPDIR:-/tmp}
work=$(mktemp -d -p "$tmp")
trap 'rm -rf "$work"' EXIT
fail() {
    echo "sdl12_fetch: $context: $*" >&2
    exit 1
}
mkdir "$work/empty"

# Runs the fetch step; its stdout and stderr land in $work/out and $work/err.
fetch() {
    local third_party=$1 url=$2 build=$3
    CLOAKCAM_THIRD_PARTY=$third_party CLOAKCAM_SDL12_URL=$url \
        "$script" --fetch-only "$build" >"$work/out" 2>"$work/err"
}
# Refused in exactly one line on stderr that says `what`, with nothing but
# that in the build folder's download cache.
expect_refused() {
    local what=$1 build=$2
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "not one line: $(cat "$work/err")"
    grep -q -- "$what" "$work/err" || fail "says no \"$what\": $(cat "$work/err")"
    [ -z "$(ls -A "$build/sdl12-download" 2>/dev/null)" ] ||
        fail "left $(ls -A "$build/sdl12-download")"
}

# A fetch into `build` that must fail with one line saying `what`.
refuses() {
    context=$1
    local beside=$2 url=$3 build=$4 what=$5
    ! fetch "$beside" "$url" "$build" || fail "accepted"
    expect_refused "$what" "$build"
}

context="beside the project"
fetch "$(dirname "$pinned")" file:///nonexistent "$work/beside" || fail "$(cat "$work/err")"
[ "$(cat "$work/out")" = "$pinned" ] || fail "printed $(cat "$work/out")"
[ ! -e "$work/beside/sdl12-download" ] || fail "downloaded all the same"

context="download"
fetch "$work/empty" "file://$pinned" "$work/build" || fail "$(cat "$work/err")"
cached=$work/build/sdl12-download/$name
[ "$(cat "$work/out")" = "$cached" ] || fail "printed $(cat "$work/out")"
cmp -s "$cached" "$pinned" || fail "the downloaded tarball differs"
[ "$(ls -A "$work/build/sdl12-download")" = "$name" ] ||
    fail "left $(ls -A "$work/build/sdl12-download")"

context="kept"
fetch "$work/empty" file:///nonexistent "$work/build" || fail "$(cat "$work/err")"
[ "$(cat "$work/out")" = "$cached" ] || fail "printed $(cat "$work/out")"

# One byte changed in the middle of the tarball.
mkdir "$work/corrupt"
cp "$pinned" "$work/corrupt/$name"
chmod u+w "$work/corrupt/$name"
printf 'x' | dd of="$work/corrupt/$name" bs=1 seek=1000000 conv=notrunc status=none

context="damaged download replaced"
cp "$work/corrupt/$name" "$cached"
fetch "$work/empty" "file://$pinned" "$work/build" || fail "$(cat "$work/err")"
cmp -s "$cached" "$pinned" || fail "still the damaged tarball"

refuses "damaged download" "$work/empty" "file://$work/corrupt/$name" "$work/damaged" \
    "does not unpack"

# The tree as GitHub's archive of the commit has it: gzip, and the full
# commit in the top folder's name.
top=SDL-1.2-1af51022b4e951bf10b8c9429ba5888e70c2782f
mkdir "$work/tree"
tar -xJf "$pinned" -C "$work/tree"
mv "$work/tree/SDL-1.2" "$work/tree/$top"
pack() { tar -czf "$work/$1" -C "$work/tree" "$top"; }
pack github.tar.gz

context="GitHub's archive"
fetch "$work/empty" "file://$work/github.tar.gz" "$work/gz" || fail "$(cat "$work/err")"
[ "$(cat "$work/out")" = "$work/gz/sdl12-download/SDL-1.2-1af51022.tar.gz" ] ||
    fail "printed $(cat "$work/out")"
[ "$(ls -A "$work/gz/sdl12-download")" = SDL-1.2-1af51022.tar.gz ] ||
    fail "left $(ls -A "$work/gz/sdl12-download")"
fetch "$work/empty" file:///nonexistent "$work/gz" || fail "not kept: $(cat "$work/err")"

# Same bytes, but configure no longer executable: the build could not run it.
chmod a-x "$work/tree/$top/configure"
pack modes.tar.gz
chmod u+x "$work/tree/$top/configure"
# One file's content changed.
printf '\n' >>"$work/tree/$top/README.md"
pack edited.tar.gz

refuses "a file edited" "$work/empty" "file://$work/edited.tar.gz" "$work/edited" "not the pinned"

refuses "configure not executable" "$work/empty" "file://$work/modes.tar.gz" "$work/modes" \
    "not the pinned"

refuses "failed download" "$work/empty" "file://$work/missing/$name" "$work/failed" \
    "could not download"

refuses "damaged tarball beside the project" "$work/corrupt" "file://$pinned" "$work/wrong-beside" \
    "does not unpack"

mkdir "$work/edited-beside"
cp "$work/edited.tar.gz" "$work/edited-beside/SDL-1.2-1af51022.tar.gz"
refuses "edited tree beside the project" "$work/edited-beside" "file://$pinned" \
    "$work/edited-beside-build" "not the pinned"

echo "sdl12_fetch: all cases passed"
