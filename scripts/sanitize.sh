#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-sanitize/ and runs the whole test suite there, the end-to-end tests
# included, then a few start/quit cycles of the real program. Any memory
# error, leak of the program's own or undefined behaviour fails the run.
# Usage: scripts/sanitize.sh [CTEST ARGUMENTS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
# The benchmarks are no test, and their figures mean nothing under the sanitizers.
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLOAKCAM_SANITIZE=ON \
    -DCLOAKCAM_BENCH=OFF >/dev/null
cmake --build build-sanitize -j"$(nproc)"

g++ -shared -fPIC -O2 -o build-sanitize/keep_libraries.so tests/keep_libraries.cpp
export LD_PRELOAD=$PWD/build-sanitize/keep_libraries.so
# The preloaded library comes before the sanitizer runtime, on purpose.
# GCC 12's runtime takes some of glibc's dynamic TLS blocks for an older
# glibc's and reads a wild range from them (once in every run of the
# program here); the leak check at exit then crashes when the thread holding
# it is still alive. Its __tls_get_addr interception stays off.
export ASAN_OPTIONS=verify_asan_link_order=0:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
ctest --test-dir build-sanitize --output-on-failure "$@"
tests/soak.sh --short --cycles-only build-sanitize
