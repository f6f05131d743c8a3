#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, replays the committed corpus, then fuzzes each
# target for SECONDS seconds (default 60). New inputs go to a scratch folder,
# so the tree is left as it was; a failing input is kept under build-fuzz/.
# Usage: fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/install-deps.sh --fuzz
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLOAKCAM_SANITIZE=ON \
    -DCLOAKCAM_FUZZ=ON -DCLOAKCAM_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target records_from_bgr_fuzz camera_frame_fuzz

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-fuzz/artifacts
for target in records_from_bgr camera_frame; do
    fuzzer=build-fuzz/fuzz/${target}_fuzz
    corpus=fuzz/corpus/$target
    log=build-fuzz/$target.log
    status=0
    "$fuzzer" "$corpus"/* >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        echo "$target: a committed input fails" >&2
        exit 1
    fi
    echo "$target: replayed $(ls "$corpus" | wc -l) committed inputs"

    scratch=$(mktemp -d)
    # -len_control=0 tries long frames from the start instead of growing into them.
    "$fuzzer" "$scratch" "$corpus" -max_total_time="$seconds" -print_final_stats=1 \
        -len_control=0 -artifact_prefix="build-fuzz/artifacts/$target-" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        echo "$target: fuzzing found a failing input, kept in build-fuzz/artifacts" >&2
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: $runs inputs in $seconds s, corpus $(ls "$scratch" | wc -l) new +" \
        "$(ls "$corpus" | wc -l) committed"
    rm -rf "$scratch"
done
