#!/usr/bin/env bash
# Builds the benchmarks in build-bench (Release, -O2) and runs them: every
# stage on SDL's dummy driver, the SDL-bound ones again under an X server
# (the one in DISPLAY, or an Xvfb started here), and both again against the
# classic SDL 1.2 library when it can be had without installing it. Ends with
# the time from starting cloakcam to its first picture, and the tables.
#
#   ./bench.sh                 # 5 repetitions, medians
#   REPETITIONS=9 ./bench.sh
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
build=$root/build-bench
results=$build/results
repetitions=${REPETITIONS:-5}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCLOAKCAM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target cloakcam_bench cloakcam >/dev/null
bench=$build/bench/cloakcam_bench
rm -rf "$results"
mkdir -p "$results"

sdl_bound='BM_Draw$|BM_SdlMapRGB|BM_SdlUpdateRect|BM_SdlPollEvent|BM_Pass$'

# run NAME [FILTER] with the environment already set for SDL. The
# repetitions of all benchmarks are shuffled together, so that a burst of
# other work on the machine spreads over them instead of falling on one.
run() {
    local name=$1 filter=${2:-.}
    echo "== $name" >&2
    CLOAKCAM_DEVICE=pattern "$bench" --benchmark_filter="$filter" \
        --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true \
        --benchmark_out="$results/$name.json" --benchmark_out_format=json \
        2> >(grep -v '^cloakcam: no camera found' >&2) | grep -v '^celled'
}

# The classic SDL 1.2 runtime, unpacked here from its Debian package: it and
# sdl12-compat share a soname, so the same binary loads either, and nothing
# on the system changes.
classic=""
classic_dir=$build/sdl-classic
if [ -e "$classic_dir/lib/libSDL-1.2.so.0" ]; then
    classic=$classic_dir/lib
elif command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null; then
    mkdir -p "$classic_dir/deb"
    if (cd "$classic_dir/deb" && apt-get download libsdl1.2debian >/dev/null 2>&1); then
        dpkg-deb -x "$classic_dir"/deb/libsdl1.2debian_*.deb "$classic_dir/root"
        mkdir -p "$classic_dir/lib"
        cp -a "$classic_dir"/root/usr/lib/*/libSDL-1.2.so.0* "$classic_dir/lib/"
        classic=$classic_dir/lib
    else
        echo "bench.sh: classic SDL 1.2 not available, measuring sdl12-compat only" >&2
    fi
fi

SDL_VIDEODRIVER=dummy run compat-dummy
if [ -n "$classic" ]; then
    SDL_VIDEODRIVER=dummy LD_LIBRARY_PATH=$classic run classic-dummy "$sdl_bound"
fi

xvfb_pid=""
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
display=${DISPLAY:-}
if [ -z "$display" ] && command -v Xvfb >/dev/null; then
    for n in $(seq 90 120); do
        if [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
            xvfb_pid=$!
            display=":$n"
            sleep 1
            break
        fi
    done
fi
if [ -n "$display" ]; then
    DISPLAY=$display SDL_VIDEODRIVER=x11 run compat-x11 "$sdl_bound"
    if [ -n "$classic" ]; then
        DISPLAY=$display SDL_VIDEODRIVER=x11 LD_LIBRARY_PATH=$classic run classic-x11 "$sdl_bound"
    fi
fi

# From starting the program to its start-up line, which it prints once the
# camera delivered; the first picture follows within one pass.
startup() {
    python3 - "$build/app/cloakcam" <<'EOF'
import os, statistics, subprocess, sys, time
times = []
for _ in range(5):
    start = time.monotonic()
    p = subprocess.Popen([sys.argv[1]], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         env=dict(os.environ, CLOAKCAM_DEVICE="pattern"))
    line = p.stdout.readline()
    times.append(time.monotonic() - start)
    p.terminate()
    p.wait()
    if not line.startswith(b"celled"):
        sys.exit("cloakcam printed no start-up line")
print(f"{statistics.median(times) * 1000:.0f} ms (median of 5; "
      f"{min(times) * 1000:.0f} to {max(times) * 1000:.0f} ms)")
EOF
}
echo
echo "Start-up to first picture, dummy driver: $(SDL_VIDEODRIVER=dummy startup)"
if [ -n "$display" ]; then
    echo "Start-up to first picture, X11 ($display): $(DISPLAY=$display SDL_VIDEODRIVER=x11 startup)"
fi
echo
python3 "$root/bench/summary.py" "$results"
