#!/usr/bin/env python3
"""Build-time sources of the device simulator.

  codegen.py def EntryPoints.h VARIANT LIBRARY OUT.def
      the export list of one DLL variant: full (setupapi.dll), nocm (a setup
      library without the configuration-manager names) or cfgmgr (only the
      names that cfgmgr32.dll carries)
  codegen.py keys devpkey.tsv OUT.inc
      the table of DEVPKEY_ names that machine files may use
"""
import re
import sys

VARIANT_GROUPS = {
    "full": {"SETUP", "CM", "CM_SETUP_ONLY", "HELPER"},
    "nocm": {"SETUP", "HELPER"},
    "cfgmgr": {"CM"},
}


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as existing:
            if existing.read() == text:
                return
    except OSError:
        pass
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write(text)


def make_def(header, variant, library, out):
    groups = VARIANT_GROUPS[variant]
    with open(header, encoding="utf-8") as f:
        entries = re.findall(r"X\((\w+),\s*(\w+)\)", f.read())
    names = [name for name, group in entries if group in groups]
    if not names:
        sys.exit("no entry points found in " + header)
    text = "LIBRARY %s\nEXPORTS\n" % library + "".join("    %s\n" % n for n in names)
    write_if_changed(out, text)


def guid_initializer(text):
    m = re.fullmatch(r"\{([0-9A-Fa-f]{8})-([0-9A-Fa-f]{4})-([0-9A-Fa-f]{4})-"
                     r"([0-9A-Fa-f]{4})-([0-9A-Fa-f]{12})\}", text)
    if not m:
        sys.exit("bad GUID " + text)
    tail = m.group(4) + m.group(5)
    data4 = ", ".join("0x" + tail[i:i + 2] for i in range(0, 16, 2))
    return "{0x%s, 0x%s, 0x%s, {%s}}" % (m.group(1), m.group(2), m.group(3), data4)


def make_keys(tsv, out):
    rows = []
    with open(tsv, encoding="utf-8") as f:
        for number, line in enumerate(f):
            fields = line.rstrip("\n").split("\t")
            if number == 0 or len(fields) != 3:
                continue
            name, fmtid, pid = fields
            rows.append('    {"%s", {%s, %d}},\n' % (name, guid_initializer(fmtid), int(pid)))
    write_if_changed(out, "// Generated from devpkey.tsv by codegen.py.\n" + "".join(rows))


def main(argv):
    if len(argv) == 6 and argv[1] == "def":
        make_def(argv[2], argv[3], argv[4], argv[5])
    elif len(argv) == 4 and argv[1] == "keys":
        make_keys(argv[2], argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
