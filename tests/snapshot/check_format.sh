#!/usr/bin/env bash
# The snapshots Quillmere writes, read by readers that are none of its own:
# the default machine's and the 5,000-devnode machine's, saved as the
# program saves them, against the format's JSON Schema, with every class
# icon opened by ImageMagick; and a damaged one, which they must refuse.
#
#   check_format.sh WINE BIN_DIR SCHEMA CHECKER
set -euo pipefail
wine=$1 bin=$2 schema=$3 checker=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows() { printf 'Z:%s' "${1//\//\\}"; }

cd "$bin"
export WINEDLLOVERRIDES="setupapi=n,b"
"$wine" save_snapshot.exe "$(windows "$work/default.quillmere.json")" DESKTOP-7Q2K
QUILLMERE_SIM_MACHINE=$(windows "$bin/machine_5000.txt") \
  "$wine" save_snapshot.exe "$(windows "$work/server.quillmere.json")" SERVER-5000
python3 "$checker" "$schema" "$work/default.quillmere.json" "$work/server.quillmere.json"

sed 's/"type": 4, "number": 0}/"type": 4, "number": -1}/' "$work/default.quillmere.json" > "$work/damaged.json"
if python3 "$checker" "$schema" "$work/damaged.json" 2>/dev/null; then
  echo "the checker took a damaged snapshot" >&2
  exit 1
fi
echo "the damaged snapshot is refused"
