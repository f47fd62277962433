#!/usr/bin/env python3
"""Reads a Quillmere snapshot with readers that are none of Quillmere's own:
Python's json module (strict: no NaN, no duplicate members), the format's
JSON Schema (docs/snapshot.schema.json, with Debian's python3-jsonschema),
and every class icon with ImageMagick's `identify` as an icon file.

    check_snapshot.py SCHEMA SNAPSHOT...

Prints one line per snapshot; exits 1 on the first that fails."""

import base64
import json
import subprocess
import sys
import tempfile

import jsonschema


def no_duplicates(pairs):
    names = [name for name, _ in pairs]
    if len(names) != len(set(names)):
        raise ValueError("a member is given twice: %s" % names)
    return dict(pairs)


def no_constant(name):
    raise ValueError("not JSON: %s" % name)


def check_icon(icon, where):
    with tempfile.NamedTemporaryFile(suffix=".ico") as file:
        file.write(base64.b64decode(icon, validate=True))
        file.flush()
        shown = subprocess.run(["identify", "-format", "%m %w %h %z\n", file.name],
                               capture_output=True, text=True)
    if shown.returncode != 0 or not shown.stdout.startswith("ICO "):
        raise ValueError("%s: the icon is no icon file to ImageMagick: %s" % (where, shown.stderr.strip()))
    return shown.stdout.split()[1:3]


def check(schema, path):
    with open(path, "rb") as file:
        raw = file.read()
    snapshot = json.loads(raw.decode("utf-8"), object_pairs_hook=no_duplicates, parse_constant=no_constant)
    jsonschema.validate(snapshot, schema, cls=jsonschema.Draft202012Validator)
    icons = 0
    for index, setup_class in enumerate(snapshot.get("classes") or []):
        if "icon" in setup_class:
            check_icon(setup_class["icon"], "classes[%d]" % index)
            icons += 1
    values = sum(len(device.get("registryProperties") or []) + len(device.get("properties") or [])
                 for device in snapshot["devices"])
    print("%s: valid; %d devices, %d classes, %d icons read as icon files, %d property values"
          % (path, len(snapshot["devices"]), len(snapshot.get("classes") or []), icons, values))


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as file:
        schema = json.load(file)
    jsonschema.Draft202012Validator.check_schema(schema)
    for path in sys.argv[2:]:
        try:
            check(schema, path)
        except (ValueError, jsonschema.ValidationError) as error:
            print("%s: %s" % (path, error), file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
