#!/usr/bin/env bash
# Photographs the toolkit test dialog (splitter, anchored bottom row, icon
# edit, link) as its end-to-end test leaves it and writes
# docs/toolkit-dialog.png. Needs a build (./build.sh build).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILL_BUILD_DIR:-$here/build}
n=${QUILL_DISPLAY_FROM:-120}
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=":$n" WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
sleep 1
cd "$build/bin"
QUILL_SCREENSHOT_HOLD=6000 wine ui_tests.exe --gtest_filter='ToolkitDialog.*' </dev/null >/dev/null 2>&1 &
tests=$!
sleep 5
mkdir -p "$here/docs"
shot=$(mktemp --suffix=.png)
import -window root "$shot"
# The dialog stands at (40, 40); cut it out with a small margin.
convert "$shot" -trim +repage -bordercolor black -border 0 "$here/docs/toolkit-dialog.png" 2>/dev/null ||
  cp "$shot" "$here/docs/toolkit-dialog.png"
rm -f "$shot"
wait "$tests" || true
echo "written: docs/toolkit-dialog.png"
