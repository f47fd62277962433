#!/bin/bash
# run32.sh EXE [ARGS...]
# run32.sh --mode        prints native or qemu: how 32-bit code runs here
#
# Runs a 32-bit (i686) Windows program under Debian's 32-bit Wine, kept in a
# private i386 Debian root, without adding the i386 architecture to the host.
# EXE is a file (made visible inside the root at its own path) or the name
# of one of Wine's own programs ("reg").
# Sets everything up on first use (idempotent; later calls only run):
#   - host packages: debootstrap (apt-get install, only if missing)
#   - $W32_DIR/root: i386 minbase of the host's own Debian release, from the
#     mirror the host's apt configuration names for it (and through its
#     proxy), + wine + wine32
#   - a Wine prefix inside that root, configured as build.sh configures its
#     own: no window manager is waited for, no debugger is started
# Two ways to execute i386 code:
#   native: the kernel runs 32-bit ELF itself (IA-32 emulation on)
#   qemu:   IA-32 emulation off; i386 ELF goes through qemu-i386 (>= 8; the
#           bookworm 7.2 build hangs in Wine's address-space reservation), taken
#           from the qemu-user package the host's sources offer, or, where
#           that is older, from the same mirror's backports of the host's
#           release (a private apt configuration), and registered with
#           binfmt_misc (flag F) inside a private user namespace, so the host's
#           binfmt table is not touched. Kernels before 6.7 have no private
#           binfmt_misc: there the entry is registered host-wide for each run
#           alone (runs take turns) and removed when it ends. Under qemu, Wine
#           cannot tell a fault's trap number, so an access violation arrives
#           as an illegal instruction.
#
# Environment:
#   W32_DIR          work area (default /tmp/w32; build.sh uses build/i386root)
#   W32_MODE         auto | native | qemu (default auto: native when it works)
#   W32_PREFIX       prefix path inside the root (default /pfx)
#   W32_BIND         extra host directories (space separated) made visible
#                    inside the root at the same path; the .exe's directory and
#                    the current directory are always made visible
#   W32_KEEP_SERVER  1: leave wineserver running after the program (default:
#                    'wineserver -k' after it, so nothing is left behind; do not
#                    share one prefix between concurrent runs in that case)
#   W32_MIRROR       Debian mirror (default: the one the host's apt sources
#                    name for the host's release)
#   W32_SUITE        Debian release of the root (default: the host's)
#   W32_QEMU         path to a qemu-i386 (>= 8) to use instead of downloading
#   W32_NO_USERNS    1: in qemu mode, use a host-wide binfmt_misc entry for
#                    each run instead of a private one (what happens anyway on
#                    kernels older than 6.7)
#   DISPLAY, WINEDEBUG (default -all), WINEDLLOVERRIDES are passed through.
# Exit status: the program's exit code (mod 256); 125 for setup failures.

set -euo pipefail

W32_DIR=${W32_DIR:-/tmp/w32}
ROOT=$W32_DIR/root
PFX=${W32_PREFIX:-/pfx}
SELF=$(readlink -f "$0")
BINFMT_NAME=w32-i386
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

log() { echo "run32: $*" >&2; }
die() { log "$*"; exit 125; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# The host's release and the mirror its apt sources name for it: the root
# comes from where the host's own packages come from.
host_release() { (. /etc/os-release && echo "${VERSION_CODENAME:-}"); }

host_mirror() { # $1 = release
    local site
    site=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(ORIGIN)' 'Created-By: Packages' 2>/dev/null |
           awk -v r="$1" '$2 == r && $3 == "Debian" { print $1; exit }')
    [ -n "$site" ] || site=$(apt-get indextargets --no-release-info --format '$(SITE) $(RELEASE)' \
                             'Created-By: Packages' 2>/dev/null | awk -v r="$1" '$2 == r { print $1; exit }')
    echo "$site"
}

choose_sources() {
    SUITE=${W32_SUITE:-$(host_release)}
    [ -n "$SUITE" ] || die "the host's Debian release is unknown (/etc/os-release): set W32_SUITE"
    MIRROR=${W32_MIRROR:-$(host_mirror "$SUITE")}
    [ -n "$MIRROR" ] || die "the host's apt sources name no Debian mirror for $SUITE: set W32_MIRROR"
    # debootstrap reads no apt configuration: it gets apt's proxy from here.
    if [ -z "${http_proxy:-}" ]; then
        eval "$(apt-config shell http_proxy Acquire::http::Proxy 2>/dev/null)" || true
        if [ -n "${http_proxy:-}" ]; then export http_proxy; fi
    fi
    log "the root's packages: Debian $SUITE from $MIRROR"
}

binfmt_register() { # $1 = binfmt_misc mount point, $2 = interpreter
    [ -e "$1/$BINFMT_NAME" ] && return 0
    printf '%s' ":$BINFMT_NAME:M::$I386_MAGIC:$I386_MASK:$2:FOC" > "$1/register"
}

# ---------------------------------------------------------------- inner part
# Runs inside a private mount namespace (and, in qemu mode, a user namespace
# with its own binfmt_misc instance). Args: MODE CWD CMD...
if [ "${1:-}" = __inner ]; then
    shift
    mode=$1 cwd=$2; shift 2
    if [ "$mode" = qemu-ns ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
        binfmt_register /proc/sys/fs/binfmt_misc "$W32_QEMU_BIN"
    fi
    for d in dev proc sys; do mount --rbind "/$d" "$ROOT/$d"; done
    if [ -d /tmp/.X11-unix ]; then
        mkdir -p "$ROOT/tmp/.X11-unix"
        mount --bind /tmp/.X11-unix "$ROOT/tmp/.X11-unix"
    fi
    while IFS= read -r b; do
        [ -n "$b" ] && [ -d "$b" ] || continue
        case "$b" in /|"$ROOT"|"$ROOT"/*) continue ;; esac
        mkdir -p "$ROOT$b"
        mount --bind "$b" "$ROOT$b"
    done <<< "${W32_BINDS:-}"
    envs=(PATH=/usr/local/bin:/usr/bin:/bin HOME=/root USER=root
          WINEPREFIX="$PFX" WINEDEBUG="${WINEDEBUG:--all}"
          W32_KEEP_SERVER="${W32_KEEP_SERVER:-0}")
    [ -n "${DISPLAY:-}" ] && envs+=(DISPLAY="$DISPLAY")
    [ -n "${WINEDLLOVERRIDES:-}" ] && envs+=(WINEDLLOVERRIDES="$WINEDLLOVERRIDES")
    [ -n "${LANG:-}" ] && envs+=(LANG="$LANG")
    exec chroot "$ROOT" /usr/bin/env -i "${envs[@]}" /bin/sh -c '
        cd "$1" 2>/dev/null || cd /
        shift
        "$@"
        rc=$?
        [ "$W32_KEEP_SERVER" = 1 ] || wineserver -k 2>/dev/null
        exit $rc' sh "$cwd" "$@"
fi

# ---------------------------------------------------------------- outer part
[ "$(id -u)" = 0 ] || die "must run as root"
[ $# -ge 1 ] || { echo "usage: $0 EXE [ARGS...]" >&2; exit 2; }
mkdir -p "$W32_DIR/bin"

# A 96-byte static i386 ELF that exits with status 42.
probe=$W32_DIR/bin/probe-i386
if [ ! -s "$probe" ]; then
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' > "$probe.tmp"
    chmod +x "$probe.tmp"; mv "$probe.tmp" "$probe"
fi

userns_binfmt_ok() { # private binfmt_misc instances need Linux >= 6.7
    unshare --user --map-root-user --mount --fork \
        sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>/dev/null
}

native_i386_ok() {
    local rc=0
    if userns_binfmt_ok; then
        unshare --user --map-root-user --mount --fork sh -c \
            'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && exec "$0"' \
            "$probe" 2>/dev/null || rc=$?
    else
        "$probe" 2>/dev/null || rc=$?
    fi
    [ "$rc" = 42 ]
}

MODE=${W32_MODE:-auto}
if [ "$MODE" = auto ]; then
    if native_i386_ok; then MODE=native; else MODE=qemu; fi
fi
case "$MODE" in native|qemu) ;; *) die "W32_MODE must be auto, native or qemu" ;; esac
# `run32.sh --mode` only says which way 32-bit code would run.
if [ "$1" = --mode ]; then echo "$MODE"; exit 0; fi

exec 9>"$W32_DIR/.lock"
LOCKED=0

# candidate_version [APT OPTIONS]: the qemu-user version an apt configuration offers.
candidate_version() { apt-cache "$@" policy qemu-user 2>/dev/null | awk '/Candidate:/ { print $2 }'; }

fetch_qemu() {
    if [ -n "${W32_QEMU:-}" ]; then QEMU_BIN=$W32_QEMU; return; fi
    QEMU_BIN=$W32_DIR/bin/qemu-i386
    if [ -x "$QEMU_BIN" ]; then return; fi
    local t0; t0=$(now_ms)
    local a=$W32_DIR/apt
    rm -rf "$a/dl" "$a/x"
    mkdir -p "$a/lists/partial" "$a/cache/archives/partial" "$a/dl" "$a/x"
    # The host's own sources first; where they offer only an older qemu, the
    # backports of the host's release on the same mirror.
    local O=(-q) version
    version=$(candidate_version)
    if [ -z "$version" ] || dpkg --compare-versions "${version#*:}" lt 8; then
        choose_sources
        echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $MIRROR $SUITE-backports main" > "$a/sources.list"
        O=(-o "Dir::Etc::SourceList=$a/sources.list" -o Dir::Etc::SourceParts=/dev/null
           -o "Dir::State::Lists=$a/lists" -o "Dir::Cache=$a/cache" -q)
        apt-get "${O[@]}" update >&2
        version=$(candidate_version "${O[@]}")
        [ -n "$version" ] && dpkg --compare-versions "${version#*:}" ge 8 ||
            die "no qemu-user 8 or later in the host's sources nor in $MIRROR $SUITE-backports: set W32_QEMU"
    fi
    (cd "$a/dl" && apt-get "${O[@]}" -o APT::Sandbox::User=root download "qemu-user=$version" >&2)
    dpkg-deb --fsys-tarfile "$a"/dl/qemu-user_*.deb | tar -x -C "$a/x" ./usr/bin/qemu-i386
    "$a/x/usr/bin/qemu-i386" --version | head -1 >&2
    mv "$a/x/usr/bin/qemu-i386" "$QEMU_BIN"
    rm -rf "$a/dl" "$a/x"
    log "qemu-i386 $version fetched in $(( $(now_ms) - t0 )) ms"
}

# Without a private binfmt_misc (Linux before 6.7), the host's table holds
# the entry while a run needs it, and never after: it is removed when the run
# ends, and so is the binfmt_misc mount when this script made it.
GLOBAL_BINFMT_ADDED=0
GLOBAL_BINFMT_MOUNTED=0
global_binfmt_on() {
    local m=/proc/sys/fs/binfmt_misc
    if [ ! -e "$m/register" ]; then
        mount -t binfmt_misc binfmt_misc "$m"
        GLOBAL_BINFMT_MOUNTED=1
    fi
    if [ ! -e "$m/$BINFMT_NAME" ]; then
        binfmt_register "$m" "$QEMU_BIN"
        GLOBAL_BINFMT_ADDED=1
    fi
}
global_binfmt_off() {
    if [ "$GLOBAL_BINFMT_ADDED" = 1 ]; then
        echo -1 > "/proc/sys/fs/binfmt_misc/$BINFMT_NAME" || true
        GLOBAL_BINFMT_ADDED=0
    fi
    if [ "$GLOBAL_BINFMT_MOUNTED" = 1 ]; then
        umount /proc/sys/fs/binfmt_misc 2>/dev/null || true
        GLOBAL_BINFMT_MOUNTED=0
    fi
}
trap 'global_binfmt_off' EXIT

USERNS=0
if [ "$MODE" = qemu ]; then
    flock 9
    fetch_qemu
    flock -u 9
    if [ "${W32_NO_USERNS:-0}" != 1 ] && userns_binfmt_ok; then USERNS=1; fi
fi

# run_in_root CWD BINDS CMD... : run CMD inside the root
run_in_root() {
    local cwd=$1 binds=$2; shift 2
    if [ "$MODE" = native ]; then
        W32_BINDS=$binds unshare --mount --fork "$SELF" __inner native "$cwd" "$@" 9>&-
    elif [ "$USERNS" = 1 ]; then
        W32_BINDS=$binds W32_QEMU_BIN=$QEMU_BIN \
            unshare --user --map-root-user --mount --fork "$SELF" __inner qemu-ns "$cwd" "$@" 9>&-
    else
        # The host's table holds the entry for this run alone: concurrent
        # runs take turns (setup already holds the lock).
        local rc=0
        [ "$LOCKED" = 1 ] || flock 9
        global_binfmt_on
        W32_BINDS=$binds unshare --mount --fork "$SELF" __inner qemu-global "$cwd" "$@" 9>&- || rc=$?
        global_binfmt_off
        [ "$LOCKED" = 1 ] || flock -u 9
        return $rc
    fi
}

setup_root() {
    [ -f "$ROOT/.w32-ready" ] && return 0
    local t0; t0=$(now_ms)
    command -v debootstrap >/dev/null || {
        apt-get update -q >&2 || true
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >&2
    }
    if grep -q " $ROOT[/ ]" /proc/self/mountinfo; then die "something is mounted under $ROOT"; fi
    choose_sources
    rm -rf --one-file-system "$ROOT"
    mkdir -p "$ROOT"
    if [ "$MODE" = native ]; then
        unshare --mount --fork debootstrap --arch=i386 --variant=minbase \
            "$SUITE" "$ROOT" "$MIRROR" > "$W32_DIR/debootstrap.log" 2>&1 \
            || { tail -20 "$W32_DIR/debootstrap.log" >&2; die "debootstrap failed"; }
    else
        debootstrap --foreign --arch=i386 --variant=minbase \
            "$SUITE" "$ROOT" "$MIRROR" > "$W32_DIR/debootstrap.log" 2>&1 \
            || { tail -20 "$W32_DIR/debootstrap.log" >&2; die "debootstrap (first stage) failed"; }
        # dpkg needs every uid/gid here, so the second stage runs with a
        # host-wide registration, removed again afterwards
        global_binfmt_on
        unshare --mount --fork chroot "$ROOT" /debootstrap/debootstrap --second-stage \
            >> "$W32_DIR/debootstrap.log" 2>&1 \
            || { tail -20 "$W32_DIR/debootstrap.log" >&2; die "debootstrap (second stage) failed"; }
    fi
    log "debootstrap done in $(( $(now_ms) - t0 )) ms"
    cp /etc/resolv.conf "$ROOT/etc/resolv.conf" 2>/dev/null || true
    local t1; t1=$(now_ms)
    if [ "$MODE" = native ]; then
        W32_BINDS= unshare --mount --fork "$SELF" __inner native / \
            /bin/sh -c 'apt-get -q update && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends wine wine32 && apt-get clean' \
            > "$W32_DIR/apt-wine.log" 2>&1 || { tail -20 "$W32_DIR/apt-wine.log" >&2; die "installing wine failed"; }
    else
        global_binfmt_on
        W32_BINDS= unshare --mount --fork "$SELF" __inner qemu-global / \
            /bin/sh -c 'apt-get -q update && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends wine wine32 && apt-get clean' \
            > "$W32_DIR/apt-wine.log" 2>&1 || { tail -20 "$W32_DIR/apt-wine.log" >&2; die "installing wine failed"; }
        global_binfmt_off
    fi
    log "wine installed in $(( $(now_ms) - t1 )) ms"
    touch "$ROOT/.w32-ready"
}

setup_prefix() {
    [ -f "$ROOT$PFX/.w32-ready" ] && return 0
    local t0; t0=$(now_ms)
    rm -rf --one-file-system "${ROOT:?}$PFX"
    # no Mono/Gecko in the root: don't ask for them
    WINEDLLOVERRIDES="mscoree,mshtml=" W32_KEEP_SERVER=1 run_in_root / "" \
        /bin/sh -c 'wineboot -i && wineserver -w' > "$W32_DIR/wineboot.log" 2>&1 \
        || { tail -20 "$W32_DIR/wineboot.log" >&2; die "creating the prefix failed"; }
    [ -f "$ROOT$PFX/system.reg" ] || { tail -20 "$W32_DIR/wineboot.log" >&2; die "prefix not created"; }
    # Xvfb has no window manager to wait for, and an unhandled exception must
    # end the program instead of starting a debugger that waits for a person.
    W32_KEEP_SERVER=1 run_in_root / "" /bin/sh -c \
        "wine reg add 'HKCU\\Software\\Wine\\X11 Driver' /v Managed /d N /f &&
         wine reg add 'HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug' /v Debugger /d '' /f &&
         wineserver -w" >> "$W32_DIR/wineboot.log" 2>&1 \
        || { tail -20 "$W32_DIR/wineboot.log" >&2; die "configuring the prefix failed"; }
    touch "$ROOT$PFX/.w32-ready"
    log "prefix created in $(( $(now_ms) - t0 )) ms"
}

flock 9
LOCKED=1
setup_root
setup_prefix
LOCKED=0
flock -u 9
global_binfmt_off

if [ -f "$1" ]; then
    exe=$(readlink -f "$1")
    binds=$(printf '%s\n' "$(dirname "$exe")" "$PWD" ${W32_BIND:-})
else
    case "$1" in */*) die "no such file: $1" ;; esac
    exe=$1
    binds=$(printf '%s\n' "$PWD" ${W32_BIND:-})
fi
shift
set +e
if [ "$exe" = wineserver ]; then
    run_in_root "$PWD" "$binds" wineserver "$@"
else
    run_in_root "$PWD" "$binds" wine "$exe" "$@"
fi
rc=$?
set -e
exit $rc
