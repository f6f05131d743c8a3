#!/usr/bin/env bash
# CI's check of the Debian package: builds it, validates its desktop entry
# and AppStream metadata, has lintian look for errors, installs it with
# apt-get, runs the installed /usr/bin/cloakcam through the end-to-end test
# and removes the package again. Needs root (or sudo) for the install.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
deb=$(scripts/make-deb.sh build | tail -n 1)
cmake --build build --target wm_close >/dev/null
echo "package: $deb"
dpkg-deb --field "$deb" Depends Recommends Section

desktop-file-validate data/org.cloakcam.Cloakcam.desktop
appstreamcli validate --no-net data/org.cloakcam.Cloakcam.metainfo.xml
# Errors fail; warnings and notes are shown.
status=0
findings=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v 'root privileges' <<<"$findings" || true
[ "$status" -eq 0 ] || { echo "package: lintian found errors" >&2; exit 1; }

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
removed=0
remove() {
    [ "$removed" -eq 1 ] && return
    removed=1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq cloakcam >/dev/null
}
trap remove EXIT
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
dpkg -L cloakcam | grep -qx /usr/bin/cloakcam
tests/end_to_end.sh picture_and_keys /usr/bin/cloakcam build/tests/wm_close
remove
! dpkg -s cloakcam >/dev/null 2>&1 || { echo "package: still installed" >&2; exit 1; }
echo "package: built, validated, installed, run end to end and removed"
