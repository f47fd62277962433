#!/usr/bin/env bash
# Reads the problem report that the report suite's upload test received
# (the minidump and the text report, kept in one folder) with an independent
# reader, Breakpad's minidump_stackwalk, as whoever receives a report would:
# the dump must read without a fault, name the exception, start the crashing
# thread's walk with the frames the text report names (module and offset),
# and list the program among its modules.
#   dump_reader_test.sh <folder of the uploaded files> <minidump_stackwalk>
set -euo pipefail
folder=$1
reader=$2
dump=$folder/crasher_Debug.dmp
text=$folder/crasher_Debug.txt

fail() { echo "FAILED: $*"; exit 1; }
[ -x "$reader" ] || fail "no minidump reader at $reader (installed with npm's package 'minidump')"
[ -s "$dump" ] && [ -s "$text" ] || fail "no uploaded report in $folder"

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
"$reader" -m "$dump" >"$out" 2>"$err" || { grep "ERROR" "$err" || true; fail "the reader refused the dump"; }
if grep -q "ERROR" "$err"; then
  grep "ERROR" "$err"
  fail "the reader found faults in the dump"
fi

# Crash|EXCEPTION_ACCESS_VIOLATION_WRITE|0x10|<crashing thread's index>
crash=$(grep '^Crash|' "$out" || true)
IFS='|' read -r _ reason address thread <<<"$crash"
[ "$reason" = EXCEPTION_ACCESS_VIOLATION_WRITE ] || fail "exception: '$crash'"
[ "$address" = 0x10 ] || fail "the faulting address: '$crash'"
grep -q '^Module|crasher\.exe|' "$out" || fail "the program is not among the modules"

# The text report's first two frames, as module offsets: "[crasher@0x1544]"
# after a function's name, "crasher:crasher@0x1544(" without one.
mapfile -t expected < <(sed -n '/^Stack:/,/^$/p' "$text" | tr -d '\r' |
                        grep -o 'crasher@0x[0-9A-F]*' | head -2 |
                        sed 's/.*@0x//' | tr 'A-F' 'a-f')
[ ${#expected[@]} -eq 2 ] || fail "the text report names no frames of the program"
for frame in 0 1; do
  line=$(grep "^$thread|$frame|" "$out" || true)
  IFS='|' read -r _ _ module _ _ _ offset <<<"$line"
  [ "$module" = crasher.exe ] && [ "$offset" = "0x${expected[$frame]}" ] ||
    fail "frame $frame of the crashing thread: '$line', the text report says crasher@0x${expected[$frame]}"
done
echo "the uploaded dump reads whole: $crash, frames at crasher.exe+0x${expected[0]} and +0x${expected[1]}"
