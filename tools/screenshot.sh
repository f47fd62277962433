#!/usr/bin/env bash
# Photographs the main window with a device selected, as the end-to-end test
# leaves it, and writes docs/screenshot.png. Needs a build (./build.sh build).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILL_BUILD_DIR:-$here/build}
n=${QUILL_DISPLAY_FROM:-120}
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true' EXIT
export DISPLAY=":$n" WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="setupapi=n,b"
sleep 1
cd "$build/bin"
QUILL_SCREENSHOT_HOLD=6000 wine app_tests.exe --gtest_filter='*SelectingADevice*' </dev/null >/dev/null 2>&1 &
sleep 5
mkdir -p "$here/docs"
import -window root -crop 724x462+278+279 "$here/docs/screenshot.png"
wait || true
echo "written: docs/screenshot.png"
