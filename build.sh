#!/usr/bin/env bash
# Quillmere's one entry point on Linux: installs what is missing, cross-builds
# with MinGW-w64 and runs under 32-bit Wine.
#
#   ./build.sh run     build, then start Quillmere.exe on the simulated machine
#   ./build.sh test    build, then run every test under Wine and Xvfb
#   ./build.sh build   build only
#   ./build.sh bench   build, then run the benchmarks
#   ./build.sh dist    build, then place the release in ./dist
#
# The build tree is ./build (QUILL_BUILD_DIR overrides it); the Wine prefix
# lives inside it, so nothing outside the tree is touched except apt packages.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${QUILL_BUILD_DIR:-$here/build}
action=${1:-test}
shift || true

log() { printf '[build.sh] %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# --- tools ----------------------------------------------------------------
have_package() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

ensure_tools() {
  local wanted=(g++-mingw-w64-i686-posix wine wine32:i386 xvfb cmake ninja-build imagemagick
                libz-mingw-w64-dev python3 openssl)
  local missing=()
  local p
  for p in "${wanted[@]}"; do have_package "$p" || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# --- build ----------------------------------------------------------------
configure_and_build() {
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" >/dev/null
  fi
  cmake --build "$build" -- -k 0 ${QUILL_NINJA_FLAGS:-}
}

# --- Wine and X -------------------------------------------------------------
xvfb_pid=""
started_wineserver=""

cleanup() {
  if [ -n "$started_wineserver" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

start_xvfb() {
  local n=${QUILL_DISPLAY_FROM:-90}
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  xvfb_pid=$!
  local i
  for i in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  export DISPLAY=":$n"
}

prepare_wine() {
  export WINEPREFIX="$build/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating the Wine prefix (once)"
    wineboot -i </dev/null >/dev/null 2>&1 || true
    timeout 60 wineserver -w >/dev/null 2>&1 || true
  fi
  # Xvfb has no window manager; unmanaged windows close without waiting
  # for one, which makes every windowed test seconds faster.
  if [ ! -f "$WINEPREFIX/.quillmere-configured" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.quillmere-configured"
  fi
  # A persistent wineserver makes every test exe start fast. It must not
  # hold any of our pipes open, or ctest would wait for it forever; it puts
  # itself in the background once its socket is ready.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  started_wineserver=1
  # Start Wine's own services now, outside any pipe that ctest reads.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# --- actions ----------------------------------------------------------------
run_tests() {
  start_xvfb
  prepare_wine
  ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
}

run_program() {
  local exe="$build/bin/Quillmere.exe"
  [ -f "$exe" ] || { log "no Quillmere.exe was built"; exit 1; }
  local headless=""
  if [ -z "${DISPLAY:-}" ]; then
    headless=1
    start_xvfb
  fi
  prepare_wine
  # The device simulator (bin/setupapi.dll, reading bin/machine.txt) stands
  # in for the configuration manager that Wine does not provide.
  cd "$build/bin"
  if [ -z "$headless" ]; then
    WINEDLLOVERRIDES="setupapi=n,b;$WINEDLLOVERRIDES" wine Quillmere.exe "$@"
    return
  fi
  WINEDLLOVERRIDES="setupapi=n,b;$WINEDLLOVERRIDES" wine Quillmere.exe "$@" </dev/null >/dev/null 2>&1 &
  local app=$!
  sleep "${QUILL_SCREENSHOT_DELAY:-6}"
  local shot="$build/screenshot.png"
  import -window root "$shot"
  log "no display: Quillmere ran under Xvfb; screenshot written to $shot"
  kill "$app" >/dev/null 2>&1 || true
}

ensure_tools
configure_and_build
case "$action" in
  build) ;;
  test) run_tests "$@" ;;
  run) run_program "$@" ;;
  bench)
    start_xvfb
    prepare_wine
    cd "$build/bin"
    for b in bench_*.exe; do WINEDLLOVERRIDES="setupapi=n,b" wine "$b" "$@"; done
    ;;
  dist)
    # The build made the release (build/dist); it is only placed here.
    mkdir -p "$here/dist"
    cp "$build/dist/Quillmere.exe" "$build/dist/Quillmere.zip" "$build/dist/SHA256SUMS" "$here/dist/"
    log "release in $here/dist"
    ;;
  *) echo "usage: $0 run|test|build|bench|dist" >&2; exit 2 ;;
esac
