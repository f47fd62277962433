#!/usr/bin/env bash
# fresh-debian.sh RELEASE [WORK AREA]
#
# Tries the README's test command as a new user would meet it: a minimal
# Debian RELEASE (bookworm, trixie) made with debootstrap from the mirror this
# machine's apt sources name, with nothing in it but git and the clone, then
# `./build.sh test` inside it, which must install everything it needs itself.
# The root and its logs stay in the work area (default /tmp/fresh-RELEASE).
# Needs root; runs for as long as a first build and a full test run take.
#
# Environment: FRESH_MIRROR overrides the mirror, FRESH_DISPLAY_FROM the first
# X display the run inside may take (default 200, clear of the host's).
set -euo pipefail
release=${1:?usage: $0 RELEASE [WORK AREA]}
work=${2:-/tmp/fresh-$release}
here=$(cd "$(dirname "$0")/../.." && pwd)
root=$work/root

log() { printf '[fresh] %s\n' "$*" >&2; }

mirror=${FRESH_MIRROR:-$(apt-get indextargets --format '$(SITE) $(RELEASE) $(ORIGIN)' 'Created-By: Packages' |
                         awk '$3 == "Debian" && $2 !~ /-/ { print $1; exit }')}
[ -n "$mirror" ] || { log "no Debian mirror in this machine's apt sources: set FRESH_MIRROR"; exit 1; }

mkdir -p "$work"
if [ ! -f "$root/.fresh-ready" ]; then
  log "making a minimal $release in $root from $mirror"
  rm -rf --one-file-system "$root"
  debootstrap --variant=minbase --include=git,ca-certificates "$release" "$root" "$mirror" \
    >"$work/debootstrap.log" 2>&1 || { tail -20 "$work/debootstrap.log" >&2; exit 1; }
  touch "$root/.fresh-ready"
fi
# The machine's own network setup comes along, as a new machine of the same
# network would have it: its name servers and the certificate authorities
# it trusts locally (a network that inspects TLS signs with one of those).
cp /etc/resolv.conf "$root/etc/resolv.conf"
if compgen -G '/usr/local/share/ca-certificates/*.crt' >/dev/null; then
  mkdir -p "$root/usr/local/share/ca-certificates"
  cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
  chroot "$root" update-ca-certificates >/dev/null
fi
# Node.js trusts its own list of authorities unless told of the system's.
trust=()
[ -n "${NODE_EXTRA_CA_CERTS:-}" ] && trust+=("NODE_EXTRA_CA_CERTS=$NODE_EXTRA_CA_CERTS")

rm -rf "$root/src"
git clone -q "$here" "$root/src"
log "./build.sh test in a fresh $release (log: $work/test.log)"
start=$(date +%s)
rc=0
unshare --mount --fork /bin/bash -c '
  set -e
  root=$1
  # The root is a mount point, as a real machine'"'"'s is: the private mount
  # namespaces of the 32-bit smoke run need one.
  mount --bind "$root" "$root"
  for d in proc sys dev; do mount --rbind /$d "$root/$d"; done
  exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    QUILL_DISPLAY_FROM="$2" "${@:3}" /bin/bash -c "cd /src && ./build.sh test"' \
  fresh "$root" "${FRESH_DISPLAY_FROM:-200}" "${trust[@]}" >"$work/test.log" 2>&1 || rc=$?
log "./build.sh test ended with $rc after $(( ($(date +%s) - start) / 60 )) minutes"
tail -25 "$work/test.log" >&2
exit $rc
