#!/usr/bin/env bash
# Photographs a window as a test leaves it open. Needs a build (./build.sh build).
#   tools/screenshot.sh          the main window with a device selected: docs/screenshot.png
#   tools/screenshot.sh report   the problem report dialog after a crash: docs/problem-report.png
#   tools/screenshot.sh snapshot a snapshot of the default machine open: docs/snapshot.png
#   tools/screenshot.sh compare  a comparison of two moments of a machine: docs/comparison.png
#   tools/screenshot.sh toolkit  the toolkit test dialog (splitter, anchored bottom row,
#                                icon edit, link): docs/toolkit-dialog.png
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILL_BUILD_DIR:-$here/build}
# The x64 build under 64-bit Wine, called directly (the `wine` script may
# choose a 32-bit loader that cannot start here).
wine=${QUILL_WINE:-/usr/lib/wine/wine64}
wineserver=${QUILL_WINESERVER:-/usr/lib/wine/wineserver}
case "${1:-main}" in
  main) exe=app_tests.exe filter='*SelectingADevice*' crop=(-trim +repage) out=screenshot.png ;;
  # The dialog is the only window on the screen: trimming the black around it frames it.
  report) exe=report_tests.exe filter='*ShowsTheProgramsWebsiteAndBothFiles*' crop=(-trim +repage)
          out=problem-report.png ;;
  snapshot) exe=app_tests.exe filter='*ASavedMachineShowsAsItDidLive*' crop=(-trim +repage) out=snapshot.png ;;
  compare) exe=app_tests.exe filter='*UnionShowsEveryChangeWithItsMarkRowsAndCounts*' crop=(-trim +repage)
           out=comparison.png ;;
  toolkit) exe=ui_tests.exe filter='ToolkitDialog.*' crop=(-crop 706x412+40+40) out=toolkit-dialog.png ;;
  *) echo "usage: $0 [main|report|snapshot|compare|toolkit]" >&2; exit 2 ;;
esac
n=${QUILL_DISPLAY_FROM:-120}
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; WINEPREFIX=$build/wineprefix "$wineserver" -k 2>/dev/null || true' EXIT
export DISPLAY=":$n" WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="setupapi=n,b"
sleep 1
cd "$build/bin"
QUILL_SCREENSHOT_HOLD=6000 "$wine" "$exe" --gtest_filter="$filter" </dev/null >/dev/null 2>&1 &
test_pid=$!
sleep 5
mkdir -p "$here/docs"
import -window root "${crop[@]}" "$here/docs/$out"
# Only the test: a bare wait would wait for Xvfb too.
wait "$test_pid" || true
echo "written: docs/$out"
