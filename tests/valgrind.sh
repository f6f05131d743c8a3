#!/usr/bin/env bash
# Runs the real cloakcam under valgrind's memcheck on its test pattern, on an
# X server of its own, for about 20 s with key presses, and quits by Escape.
# Fails on any memory error or definite leak that tests/valgrind.supp does not
# name as another library's. Not part of CI: it takes a minute or two.
# Usage: tests/valgrind.sh [BUILD_DIR]   (default build/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(realpath "${1:-$root/build}")

"$root/scripts/install-deps.sh" --valgrind
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target cloakcam wm_close >/dev/null

# shellcheck source=end_to_end.sh
source "$here/end_to_end.sh" valgrind "$build/app/cloakcam" "$build/tests/wm_close"
start_x_server

# GLib's slice allocator keeps freed blocks for reuse, which valgrind would
# count as lost; plain malloc lets it see every free. The program starts
# slowly under valgrind.
export G_SLICE=always-malloc G_DEBUG=gc-friendly START_SECONDS=60
runner="valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite
    --errors-for-leak-kinds=definite --error-exitcode=99 --num-callers=40
    --suppressions=$here/valgrind.supp --log-file=$work/valgrind.out"
start_cloakcam
for key in space a Return space; do
    sleep 5
    timeout 30 xdotool windowfocus --sync "$window" key "$key"
done
timeout 30 xdotool windowfocus --sync "$window" key Escape
wait_for_end 120
grep -E "(definitely|indirectly) lost:|ERROR SUMMARY" "$work/valgrind.out" | sed 's/^==[0-9]*== //'
if [ "$status" -ne 0 ]; then
    cp "$work/valgrind.out" "$build/valgrind.log"
    fail "status $status; the full report is in $build/valgrind.log"
fi
echo "PASS: valgrind"
