#!/usr/bin/env bash
# Quillmere's one entry point on Linux: installs what is missing, cross-builds
# with MinGW-w64 and runs under 64-bit Wine.
#
#   ./build.sh run [FILE]  build, then start Quillmere.exe (x64) on the simulated machine
#                      (FILE: a machine file or a snapshot to simulate)
#   ./build.sh test    build with GCC and with clang, for x86_64 and for i686, then
#                      run every test of both x86_64 builds under Wine and Xvfb on a
#                      Windows 7 prefix, and the release-dependent tests of the GCC
#                      build on a Windows 10 one; the i686 builds are compiled, and
#                      the i686 GCC build gets a smoke run in a private 32-bit Wine
#   ./build.sh build   build only (the four trees, as test does)
#   ./build.sh bench   build, then run the benchmarks (x64 GCC build)
#   ./build.sh dist    build, then write dist/: both programs, their debug files, their
#                      update archives and the update answers, signed (README: the release)
#
# The tests run on the x86_64 builds under 64-bit Wine; the 32-bit builds,
# which are the release, are compiled, and get one smoke run in a private
# 32-bit Wine (natively where the kernel runs 32-bit programs, else qemu).
#
# The trees: ./build (QUILL_BUILD_DIR overrides it) is GCC for x86_64, the
# one that runs, benchmarks and is photographed; ./build/clang is clang for
# x86_64; ./build/i686 and ./build/clang-i686 are the 32-bit builds. The Wine
# prefixes live inside ./build, so nothing outside it is touched except apt
# packages and ccache's cache. QUILL_COMPILERS="gcc" (or "clang") makes
# `build` and `test` build and run only that compiler's trees;
# QUILL_ARCHS="x86_64" (or "i686") only that processor's.
#
# A full `test` overlaps what does not wait for each other: the 32-bit root
# is made in the background from the start, each x86_64 suite starts as soon
# as its tree is built (each with a Wine prefix and an X display of its own,
# so the two run side by side), and the i686 trees are built while they run.
# The time of every stage is printed at the end.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${QUILL_BUILD_DIR:-$here/build}
clang_build=$build/clang
i686_build=$build/i686
clang_i686_build=$build/clang-i686
logs=$build/logs
# 64-bit Wine, found by find_wine once it is installed.
wine=""
wineserver=""
action=${1:-test}
shift || true

# Paths under the clone are hashed relative to it, so clones share the cache.
export CCACHE_BASEDIR=$here CCACHE_NOHASHDIR=true

log() { printf '[build.sh] %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# --- tools ----------------------------------------------------------------
have_package() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

ensure_tools() {
  # libz-mingw-w64-dev holds the static zlib of both MinGW targets.
  local wanted=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix clang lld wine64 xvfb cmake
                ninja-build imagemagick libz-mingw-w64-dev python3 openssl debootstrap osslsigncode ccache
                googletest nlohmann-json3-dev python3-jsonschema)
  local missing=()
  local p
  for p in "${wanted[@]}"; do have_package "$p" || missing+=("$p"); done
  # npm brings the independent minidump reader the crash tests use; a Node.js
  # from elsewhere (which Debian's npm would conflict with) brings its own.
  command -v npm >/dev/null || missing+=(npm)
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# 64-bit Wine is called directly, never through the `wine` script, which picks
# the 32-bit loader whenever Debian's 32-bit Wine is installed (a loader that
# cannot start where the kernel refuses 32-bit programs). The loader and its
# server are taken from the installed wine64 package, wherever this release
# of Debian puts them (QUILL_WINE and QUILL_WINESERVER override).
is_elf64() { [ -x "$1" ] && [ "$(head -c 5 "$1" | od -An -tx1 | tr -d ' ')" = 7f454c4602 ]; }

find_wine() {
  local files candidate
  files=$(dpkg -L wine64 2>/dev/null || true)
  wine=${QUILL_WINE:-}
  if [ -z "$wine" ]; then
    for candidate in $(grep -E '/wine64$' <<<"$files") $(command -v wine64 || true); do
      if is_elf64 "$candidate"; then wine=$candidate; break; fi
    done
  fi
  wineserver=${QUILL_WINESERVER:-}
  if [ -z "$wineserver" ]; then
    for candidate in $(grep -E '/wineserver(64)?$' <<<"$files" | sort -r) "$(dirname "${wine:-/}")/wineserver" \
                     $(command -v wineserver || true); do
      if [ -x "$candidate" ]; then wineserver=$candidate; break; fi
    done
  fi
  [ -n "$wine" ] && [ -n "$wineserver" ] ||
    { log "no 64-bit Wine found (package wine64; QUILL_WINE and QUILL_WINESERVER name it otherwise)"; exit 1; }
  # Scripts of the tests and tools, and the trees' emulator, find the same Wine.
  export QUILL_WINE=$wine QUILL_WINESERVER=$wineserver
}

# --- stages -----------------------------------------------------------------
# Each stage's start and end (seconds since the action began) and its result
# go to $logs/stages, one line each, so background stages report too.
action_start=$(date +%s)
stage_file=""

begin_stages() {
  mkdir -p "$logs"
  stage_file=$logs/stages
  : >"$stage_file"
}

# stage NAME COMMAND...: runs COMMAND, noting its time.
stage() {
  local name=$1 begin rc=0
  shift
  begin=$(( $(date +%s) - action_start ))
  "$@" || rc=$?
  [ -z "$stage_file" ] || printf '%s %s %s %s\n' "$name" "$begin" "$(( $(date +%s) - action_start ))" "$rc" >>"$stage_file"
  return $rc
}

# background_stage NAME COMMAND...: the same in the background, output to
# $logs/NAME.log; wait_stage NAME waits for it and returns its result.
declare -A stage_pids=()
background_stage() {
  local name=$1
  shift
  stage "$name" "$@" >"$logs/$name.log" 2>&1 </dev/null &
  stage_pids[$name]=$!
}

wait_stage() {
  local rc=0
  wait "${stage_pids[$1]}" || rc=$?
  unset "stage_pids[$1]"
  return $rc
}

print_stages() {
  [ -n "$stage_file" ] && [ -s "$stage_file" ] || return 0
  local name begin end rc
  log "stages (minutes:seconds from the start):"
  while read -r name begin end rc; do
    printf '[build.sh]   %-26s %2d:%02d to %2d:%02d  %2d:%02d  %s\n' "$name" $((begin / 60)) $((begin % 60)) \
      $((end / 60)) $((end % 60)) $(((end - begin) / 60)) $(((end - begin) % 60)) \
      "$([ "$rc" = 0 ] && echo ok || echo "failed ($rc)")" >&2
  done < <(sort -n -k2 "$stage_file")
  local total=$(( $(date +%s) - action_start ))
  log "total $((total / 60)):$(printf '%02d' $((total % 60)))"
}

# --- build ----------------------------------------------------------------
# configure_and_build DIR TOOLCHAIN [CMAKE OPTIONS...]: configures once (and
# again when an option is not yet in the cache), then builds incrementally.
# A tree configured for another toolchain (the 32-bit ./build of before) is
# configured afresh: CMake keeps a tree's compiler for good.
configure_and_build() {
  local dir=$1 toolchain=$2
  shift 2
  local options=(-DQUILL_WARNINGS_AS_ERRORS=ON "$@")
  # Compiled objects are kept in ccache's own folder (outside the clone), so
  # a second clone or a later run compiles only what changed.
  if command -v ccache >/dev/null; then
    options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  local configured=1 option
  if [ -f "$dir/CMakeCache.txt" ] &&
     ! grep -qx "CMAKE_TOOLCHAIN_FILE:[A-Z]*=$here/cmake/$toolchain" "$dir/CMakeCache.txt"; then
    log "$(basename "$dir"): configured for another toolchain, configuring afresh"
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  [ -f "$dir/build.ninja" ] || configured=""
  for option in "${options[@]}"; do
    grep -qx -- "${option#-D}" <(sed 's/:[A-Z]*=/=/' "$dir/CMakeCache.txt" 2>/dev/null) || configured=""
  done
  if [ -z "$configured" ]; then
    cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/$toolchain" \
      "${options[@]}" >/dev/null
  fi
  cmake --build "$dir" -- -k 0 ${QUILL_NINJA_FLAGS:-}
}

build_gcc() {
  configure_and_build "$build" gcc-x86_64.cmake -DQUILL_WIN10_PREFIX="$build/wineprefix-win10"
}

build_clang() {
  configure_and_build "$clang_build" clang-x86_64.cmake
}

build_gcc_i686() {
  configure_and_build "$i686_build" gcc-i686.cmake
}

build_clang_i686() {
  configure_and_build "$clang_i686_build" clang-i686.cmake
}

wants_compiler() { [[ " ${QUILL_COMPILERS:-gcc clang} " == *" $1 "* ]]; }
wants_arch() { [[ " ${QUILL_ARCHS:-x86_64 i686} " == *" $1 "* ]]; }

# --- Wine and X -------------------------------------------------------------
xvfb_pids=()
started_wineservers=()

cleanup() {
  local prefix pid
  for pid in "${stage_pids[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
  if [ -n "$wineserver" ]; then
    for prefix in ${started_wineservers[@]+"${started_wineservers[@]}"}; do
      WINEPREFIX=$prefix "$wineserver" -k >/dev/null 2>&1 || true
    done
  fi
  for pid in ${xvfb_pids[@]+"${xvfb_pids[@]}"}; do kill "$pid" >/dev/null 2>&1 || true; done
}
trap cleanup EXIT

# start_xvfb: an X server of its own on the first free display from
# QUILL_DISPLAY_FROM (90) on, made DISPLAY; each call starts another.
start_xvfb() {
  local n=${QUILL_DISPLAY_FROM:-90}
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  xvfb_pids+=($!)
  local i
  for i in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  [ -e "/tmp/.X11-unix/X$n" ] || { log "Xvfb did not start on :$n"; exit 1; }
  export DISPLAY=":$n"
}

# prepare_prefix DIR RELEASE: makes the 64-bit prefix once, reporting the
# given Windows release (winecfg's name: win7, win10), and starts its
# wineserver. A 32-bit prefix of before cannot run 64-bit programs and is
# made anew.
prepare_prefix() (
  export WINEPREFIX=$1
  local release=$2
  if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q '^#arch=win64' "$WINEPREFIX/system.reg"; then
    log "the Wine prefix $(basename "$WINEPREFIX") is a 32-bit one: making it anew"
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating the Wine prefix $WINEPREFIX (once)"
    # Wine makes the prefix's folder, but not the folders above it.
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
    timeout 60 "$wineserver" -w >/dev/null 2>&1 || true
    [ -f "$WINEPREFIX/system.reg" ] || { log "wineboot made no prefix in $WINEPREFIX"; exit 1; }
  fi
  # Each setting below is made once; one that cannot be made stops here,
  # since the tests would not fail but crawl or wait for a person.
  # Xvfb has no window manager; unmanaged windows close without waiting
  # for one. Managed windows make every windowed test seconds slower, and
  # the placement test's thousands of windows take hours.
  if [ ! -f "$WINEPREFIX/.quillmere-configured" ]; then
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 ||
      { log "could not make Wine's windows unmanaged in $WINEPREFIX"; exit 1; }
    touch "$WINEPREFIX/.quillmere-configured"
  fi
  # Wine starts its debugger for an exception that no filter handles, and
  # the debugger waits for a person: the crash tests need it off.
  if [ ! -f "$WINEPREFIX/.quillmere-no-debugger" ]; then
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
      </dev/null >/dev/null 2>&1 || { log "could not turn Wine's debugger off in $WINEPREFIX"; exit 1; }
    touch "$WINEPREFIX/.quillmere-no-debugger"
  fi
  # The release is set explicitly, so that a Wine whose new prefixes report
  # another one changes no test's path.
  if [ ! -f "$WINEPREFIX/.quillmere-$release" ]; then
    "$wine" winecfg -v "$release" </dev/null >/dev/null 2>&1 ||
      { log "could not set $WINEPREFIX to $release"; exit 1; }
    timeout 60 "$wineserver" -w >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.quillmere-$release"
  fi
  # A persistent wineserver makes every test exe start fast. It must not
  # hold any of our pipes open, or ctest would wait for it forever; it puts
  # itself in the background once its socket is ready.
  "$wineserver" -p </dev/null >/dev/null 2>&1 || true
  # Start Wine's own services now, outside any pipe that ctest reads.
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
)

prepare_wine() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  started_wineservers+=("$build/wineprefix")
  prepare_prefix "$build/wineprefix" win7
  export WINEPREFIX="$build/wineprefix"
}

# The prefixes the wanted suites run in: each x86_64 tree has a Windows 7
# one of its own, so the two suites never share a registry or a wineserver;
# the GCC tree's release-dependent tests (label win10) run once more on a
# Windows 10 one.
suite_prefix() { if [ "$1" = gcc ]; then echo "$build/wineprefix"; else echo "$clang_build/wineprefix"; fi; }

# run_suite COMPILER [CTEST ARGUMENTS...]: every test of that x86_64 tree, on
# the display already in DISPLAY.
run_suite() {
  local compiler=$1
  shift
  local tree=$build
  [ "$compiler" = gcc ] || tree=$clang_build
  WINEDEBUG=-all WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" WINEPREFIX=$(suite_prefix "$compiler") \
    QUILLMERE_TEST_WINDOWS=6.1 ctest --test-dir "$tree" --output-on-failure --timeout 600 "$@"
}

# The 32-bit release in a private 32-bit Wine in build/i386root
# (tools/i386root/run32.sh, natively where the kernel runs 32-bit programs,
# else under qemu): it starts on the simulated machine and the 32-bit helper
# crashes once. Only in a full test run of the i686 GCC tree; QUILL_SMOKE32=0
# leaves it out.
wants_smoke32() { [ "${QUILL_SMOKE32:-1}" != 0 ] && wants_arch i686 && wants_compiler gcc; }

prepare_i386root() {
  W32_DIR=$build/i386root "$here/tools/i386root/run32.sh" cmd /c exit
}

run_smoke32() {
  "$here/tools/i386root/smoke32.sh" "$i686_build" "$build/i386root"
}

run_program() {
  # The build that accepts the maker's update key only, beside the simulator.
  local exe="$build/release/Quillmere.exe"
  [ -f "$exe" ] || { log "no Quillmere.exe was built"; exit 1; }
  cp "$build/bin/setupapi.dll" "$build/bin/machine.txt" "$build/release/"
  local headless=""
  if [ -z "${DISPLAY:-}" ]; then
    headless=1
    start_xvfb
  fi
  prepare_wine
  # The device simulator (bin/setupapi.dll, reading bin/machine.txt) stands
  # in for the configuration manager that Wine does not provide; a machine
  # file or a snapshot given first is the machine it simulates.
  if [ $# -gt 0 ] && [ -f "$1" ]; then export QUILLMERE_SIM_MACHINE="Z:$(realpath "$1")"; shift; fi
  cd "$build/release"
  if [ -z "$headless" ]; then
    WINEDLLOVERRIDES="setupapi=n,b;$WINEDLLOVERRIDES" "$wine" Quillmere.exe "$@"
    return
  fi
  WINEDLLOVERRIDES="setupapi=n,b;$WINEDLLOVERRIDES" "$wine" Quillmere.exe "$@" </dev/null >/dev/null 2>&1 &
  local app=$!
  sleep "${QUILL_SCREENSHOT_DELAY:-6}"
  local shot="$build/screenshot.png"
  import -window root "$shot"
  log "no display: Quillmere ran under Xvfb; screenshot written to $shot"
  kill "$app" >/dev/null 2>&1 || true
}

# What ships: the 32-bit release as it always was, dist/Quillmere.exe (no
# debug information), dist/Quillmere.exe.debug (named in the executable's
# debug link; tools/symbolize.py reads it to turn the frames of a crash
# report back into functions and lines), dist/Quillmere.zip, the update
# archive that holds the program, and dist/update.xml, the update endpoint's
# answer for it; beside it the 64-bit release in dist/x64/ with the same four
# names, so that its debug link and its archive member name the same files.
# The programs accept only the maker's update keys (resources/UpdateKey*.pem)
# and each archive is signed with the maker's private key, which never lies
# in the repository: QUILL_UPDATE_KEY names it, else
# ~/.tollbrook/quillmere-update-key.pem. With the maker's code-signing
# certificate (QUILL_CODESIGN_PFX and QUILL_CODESIGN_PASSWORD_FILE, else
# ~/.tollbrook/quillmere-codesign.pfx and .pfx.pass) the programs are
# Authenticode-signed first. SHA256SUMS covers everything (`sha256sum -c
# SHA256SUMS` in dist/).
make_dist() {
  local key=${QUILL_UPDATE_KEY:-$HOME/.tollbrook/quillmere-update-key.pem}
  [ -f "$key" ] || { log "no update signing key: set QUILL_UPDATE_KEY to the maker's private key (see README)"; exit 1; }
  local pfx=${QUILL_CODESIGN_PFX:-$HOME/.tollbrook/quillmere-codesign.pfx}
  local pass=${QUILL_CODESIGN_PASSWORD_FILE:-$pfx.pass}
  local codesign=()
  if [ -f "$pfx" ]; then
    [ -f "$pass" ] || { log "no password file for $pfx (QUILL_CODESIGN_PASSWORD_FILE)"; exit 1; }
    codesign=(--codesign "$pfx" --codesign-password-file "$pass")
  fi
  local base
  base=$(sed -n 's/.*ReleaseDownloads\[\] = L"\([^"]*\)".*/\1/p' "$here/app/Deployment.h")
  [ -n "$base" ] || { log "app/Deployment.h names no ReleaseDownloads"; exit 1; }
  cmake --build "$i686_build" --target dist -- ${QUILL_NINJA_FLAGS:-}
  cmake --build "$build" --target dist -- ${QUILL_NINJA_FLAGS:-}
  local out=$here/dist release=(Quillmere.exe Quillmere.exe.debug Quillmere.zip update.xml)
  rm -rf "$out"
  local arch tree folder
  for arch in x86 x64; do
    if [ "$arch" = x86 ]; then tree=$i686_build folder=$out; else tree=$build folder=$out/x64; fi
    python3 "$here/tools/dist/make_release.py" --tree "$tree" --out "$folder" --arch "$arch" \
      --key "$key" --public-keys "$here"/resources/UpdateKey*.pem --base "$base" ${codesign[@]+"${codesign[@]}"}
  done
  (cd "$out" && sha256sum "${release[@]}" "${release[@]/#/x64/}" > SHA256SUMS)
  log "wrote dist/: the 32-bit Quillmere.exe, its .debug, Quillmere.zip and update.xml, the same for x64 in dist/x64/, and SHA256SUMS"
}

# Every tree is built before any fails the action, so one run shows every
# compiler's errors.
build_wanted() {
  local failed=0
  if wants_arch x86_64; then
    if wants_compiler gcc; then build_gcc || failed=1; fi
    if wants_compiler clang; then build_clang || failed=1; fi
  fi
  if wants_arch i686; then
    if wants_compiler gcc; then build_gcc_i686 || failed=1; fi
    if wants_compiler clang; then build_clang_i686 || failed=1; fi
  fi
  [ $failed -eq 0 ] || { log "the build failed"; exit 1; }
}

# test: what does not wait for anything else runs side by side. Stages and
# their times are printed at the end; any failing stage fails the action.
test_action() {
  begin_stages
  local failed=0 smoke="" compiler prefixes_ready=""
  local -A displays=()
  # A narrowed run (ctest arguments) is about those tests only.
  if [ $# -eq 0 ] && wants_smoke32; then smoke=1; fi
  if [ -n "$smoke" ]; then
    start_xvfb
    displays[smoke]=$DISPLAY
    background_stage i386root prepare_i386root
  fi
  if wants_arch x86_64; then
    for compiler in gcc clang; do
      wants_compiler $compiler || continue
      start_xvfb
      displays[$compiler]=$DISPLAY
      started_wineservers+=("$(suite_prefix $compiler)")
      [ $compiler = gcc ] && started_wineservers+=("$build/wineprefix-win10")
    done
    # Each prefix is made on the display its suite uses: the prefix's
    # desktop process binds to the first display it is started on.
    background_stage wine-prefixes prepare_prefixes_on "${displays[gcc]:-}" "${displays[clang]:-}"
    for compiler in gcc clang; do
      wants_compiler $compiler || continue
      if ! stage "build-$compiler-x86_64" build_$compiler; then failed=1; continue; fi
      if [ -z "$prefixes_ready" ]; then
        if wait_stage wine-prefixes; then prefixes_ready=1; else
          cat "$logs/wine-prefixes.log" >&2; log "the Wine prefixes could not be made"; failed=1; break
        fi
      fi
      DISPLAY=${displays[$compiler]} background_stage "tests-$compiler" run_suite $compiler "$@"
    done
  else
    log "no x86_64 build asked for: nothing runs the tests"
  fi
  local i686_gcc_built=""
  if wants_arch i686; then
    if wants_compiler gcc; then
      if stage build-gcc-i686 build_gcc_i686; then i686_gcc_built=1; else failed=1; fi
    fi
    if wants_compiler clang; then stage build-clang-i686 build_clang_i686 || failed=1; fi
  fi
  if [ -n "$smoke" ]; then
    if ! wait_stage i386root; then
      cat "$logs/i386root.log" >&2; log "the private 32-bit root could not be made"; failed=1
    elif [ -n "$i686_gcc_built" ]; then
      log "smoke run of the 32-bit build under a private 32-bit Wine"
      DISPLAY=${displays[smoke]} stage smoke-i686 run_smoke32 || failed=1
    fi
  fi
  for compiler in gcc clang; do
    [ -n "${stage_pids[tests-$compiler]:-}" ] || continue
    local result=0
    wait_stage "tests-$compiler" || result=$?
    log "tests of the $compiler build$([ $compiler = gcc ] && echo ' (Windows 7, and Windows 10 for the label win10)' || echo ' (Windows 7)')"
    cat "$logs/tests-$compiler.log"
    [ $result -eq 0 ] || failed=1
  done
  print_stages
  return $failed
}

# prepare_prefixes_on GCC_DISPLAY CLANG_DISPLAY
prepare_prefixes_on() {
  if wants_compiler gcc; then
    DISPLAY=$1 prepare_prefix "$(suite_prefix gcc)" win7 || return 1
    DISPLAY=$1 prepare_prefix "$build/wineprefix-win10" win10 || return 1
  fi
  if wants_compiler clang; then DISPLAY=$2 prepare_prefix "$(suite_prefix clang)" win7 || return 1; fi
}

ensure_tools
find_wine
case "$action" in
  build) build_wanted ;;
  test) test_action "$@" ;;
  run) build_gcc; run_program "$@" ;;
  bench)
    build_gcc
    start_xvfb
    prepare_wine
    cd "$build/bin"
    for b in bench_*.exe; do WINEDLLOVERRIDES="setupapi=n,b" "$wine" "$b" "$@"; done
    ;;
  dist) build_gcc; build_gcc_i686; make_dist ;;
  *) echo "usage: $0 run|test|build|bench|dist" >&2; exit 2 ;;
esac
