#!/usr/bin/env bash
# The smoke run of the 32-bit release, which the test bench cannot run
# through its tests: in a private 32-bit Wine (run32.sh, natively or under
# qemu), Quillmere.exe of the i686 GCC build starts on the simulated machine
# and fills its tree, and a report of the 32-bit crash helper carries the x86
# register lines and frames that tools/symbolize.py turns back into names.
#
#   smoke32.sh <i686 build tree> <work area for run32.sh>
#
# Needs an X display (DISPLAY) and root. Exit code 0 when everything held.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
tree=$(cd "$1" && pwd)
export W32_DIR=$2
run32=$here/tools/i386root/run32.sh
bin=$tree/bin

fail() { echo "smoke32: FAIL: $*" >&2; exit 1; }
log() { echo "smoke32: $*" >&2; }

[ -f "$bin/Quillmere.exe" ] && [ -f "$bin/start_probe.exe" ] && [ -f "$bin/setupapi.dll" ] ||
  fail "build the i686 tree first (Quillmere.exe, start_probe.exe, setupapi.dll in $bin)"
machine=$(i686-w64-mingw32-objdump -f "$bin/Quillmere.exe" | sed -n 's/.*file format //p')
[ "$machine" = pei-i386 ] || fail "$bin/Quillmere.exe is $machine, not a 32-bit program"

# Every run has a wineserver of its own, ended with it: under qemu each run
# is a user namespace of its own, and a server left from an earlier one
# does not serve the next.
export W32_KEEP_SERVER=0

log "setting up 32-bit Wine in $W32_DIR (once; a few minutes)"
"$run32" cmd /c exit </dev/null >/dev/null || fail "32-bit Wine could not be set up or started"

log "Quillmere.exe (32-bit) on the simulated machine"
(cd "$bin" && WINEDLLOVERRIDES="setupapi=n,b;mscoree,mshtml=" \
   timeout 300 "$run32" "$bin/start_probe.exe" Quillmere.exe 78 120000 </dev/null) ||
  fail "the 32-bit Quillmere.exe did not show its tree of the default machine"

if [ "$("$run32" --mode)" = native ]; then
  log "a crash of the 32-bit helper, symbolized"
  bash "$here/tests/report/symbolize_test.sh" "$tree/stripped" "$here/tools/symbolize.py" \
    "$here/tests/report/crasher/Crasher.cpp" i686-w64-mingw32-objdump "$run32" ||
    fail "the 32-bit crash report"
else
  # Under qemu-user, Wine's DbgHelp cannot read its own process (the
  # process's executable is the emulator), so SymInitialize fails and a
  # report has no stack: only the exception and register lines can be checked.
  log "a crash of the 32-bit helper (under qemu: exception and registers only)"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cp "$tree/stripped/crasher.exe" "$work/"
  (cd "$work" && timeout 120 "$run32" crasher.exe access </dev/null >/dev/null 2>&1) || true
  report=$work/crasher_Debug.txt
  [ -s "$report" ] || fail "the 32-bit helper left no report"
  grep -Eq '^(Access Violation \[0xC0000005|Illegal Instruction \[0xC000001D)\] at 0x[0-9A-F]{8} in Thread [0-9]+\.' \
    "$report" || fail "the report's exception line"
  grep -Eq '^EAX=0x[0-9A-F]{8}, CS=0x[0-9A-F]{4}, EIP=0x[0-9A-F]{8}, Flags=' "$report" ||
    fail "the report has no x86 register lines"
  grep -q '^x86 ' "$report" || fail "the report's platform line is not x86"
fi
log "ok"
