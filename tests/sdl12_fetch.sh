#!/usr/bin/env bash
# windows/build-sdl12.sh's fetch step without a network: the pinned SDL 1.2
# tarball beside the project, downloaded through file:// into the build
# folder and kept there, and a download or a tarball with the wrong bytes
# refused in one line with nothing left under the tarball's name. Skips (77)
# where the pinned tarball is not beside the project.
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

work=$(mktemp -d)
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

context="wrong download"
! fetch "$work/empty" "file://$work/corrupt/$name" "$work/wrong" || fail "accepted"
expect_refused "not the pinned" "$work/wrong"

context="failed download"
! fetch "$work/empty" "file://$work/missing/$name" "$work/failed" || fail "succeeded"
expect_refused "could not download" "$work/failed"

context="wrong tarball beside the project"
! fetch "$work/corrupt" "file://$pinned" "$work/wrong-beside" || fail "accepted"
expect_refused "not the pinned" "$work/wrong-beside"

echo "sdl12_fetch: all cases passed"
