#!/usr/bin/env bash
# Builds cloakcam's Debian package: installs what the build needs, builds
# the program and runs CPack. Prints the package's path on its last line.
#
#   scripts/make-deb.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scripts/install-deps.sh --package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target cloakcam compressed_docs >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/cloakcam_*_"$(dpkg --print-architecture)".deb
