#!/usr/bin/env bash
# A report of the stripped crash helper names none of its functions itself;
# tools/symbolize.py with the debug file kept from the same build turns its
# frames back into function, file and line.
#
#   symbolize_test.sh <dir with stripped crasher.exe and .debug> <symbolize.py> <Crasher.cpp> \
#                     <objdump of the build's target> <wine>
set -euo pipefail
stripped=$1
script=$2
source=$3
objdump=$4
wine=$5

fail() { echo "FAIL: $*" >&2; exit 1; }

sections=$($objdump -h "$stripped/crasher.exe")
# The report's register lines are those of the helper's processor.
case "$($objdump -f "$stripped/crasher.exe")" in
  *pei-i386*) registers='EAX=0x[0-9A-F]{8}, CS=0x[0-9A-F]{4}, EIP=0x[0-9A-F]{8}, Flags=' ;;
  *pei-x86-64*) registers='RAX=0x[0-9A-F]{16}, CS=0x[0-9A-F]{4}, RIP=0x[0-9A-F]{16}, Flags=' ;;
  *) fail "the helper is built for a processor this test does not know" ;;
esac
grep -q gnu_debuglink <<<"$sections" || fail "the stripped helper has no debug link"
if grep -q debug_info <<<"$sections"; then fail "the stripped helper still has debug information"; fi

work=$(mktemp -d)
restore=""
cleanup() {
  rm -rf "$work"
  if [ -n "$restore" ]; then
    "$wine" reg add "$aedebug" /v Debugger /d "$restore" /f </dev/null >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT

# Wine's debugger would wait for a person at the unhandled exception.
aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
debugger=$("$wine" reg query "$aedebug" /v Debugger </dev/null 2>/dev/null | tr -d '\r' |
           sed -n 's/^ *Debugger *REG_SZ *//p')
if [ -n "$debugger" ]; then
  restore=$debugger
  "$wine" reg add "$aedebug" /v Debugger /d "" /f </dev/null >/dev/null 2>&1
fi

# Only the executable goes along: neither DbgHelp nor anything else may
# find the debug file beside it.
cp "$stripped/crasher.exe" "$work/"

check() {
  local mode=$1 function=$2
  local line report out
  line=$(grep -n "crash line: $mode\$" "$source" | cut -d: -f1)
  [ -n "$line" ] || fail "no line marked '$mode' in $source"
  rm -f "$work"/crasher_Debug.*
  (cd "$work" && timeout 120 "$wine" crasher.exe "$mode" </dev/null >/dev/null 2>&1) || true
  report=$work/crasher_Debug.txt
  [ -s "$report" ] || fail "$mode: no report"
  grep -Eq "^$registers" "$report" || fail "$mode: no register lines of the helper's processor"
  if grep -q "$function" "$report"; then fail "$mode: the stripped helper named $function itself"; fi
  out=$(python3 "$script" "$report" "$stripped/crasher.exe.debug")
  printf '%s\n' "$out"
  grep -Eq "^#[0-9]+ +$function at .*Crasher\.cpp:$line\$" <<<"$out" ||
    fail "$mode: expected '$function at ...Crasher.cpp:$line'"
}

# The faulting instruction itself, and a return address into the helper.
check access CrashByWritingToAddress16
check raise CrashByRaisingUnknownCode
echo "symbolize: ok"
