#!/usr/bin/env python3
"""Turns the stack of a Quillmere crash report back into functions, files
and lines.

    tools/symbolize.py Quillmere_Debug.txt dist/Quillmere.exe.debug

The shipped Quillmere.exe carries no debug information, and Windows' DbgHelp
could not read GCC's anyway, so its reports name each frame by module and
offset ("Quillmere@0x1A2B", or "[Quillmere@0x1A2B]" after a name DbgHelp
did find). This script looks those offsets up in the debug file kept from
the same build (Quillmere.exe.debug beside the shipped executable) with
binutils' addr2line for the build's MinGW target (i686 or x86_64, read from
the debug file's header), and prints one line per frame: the function, then
file:line. Frames of other modules are printed as the report has them.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys

FRAME_ADDRESS = re.compile(r"([A-Za-z0-9_.$~+-]+)@0x([0-9A-Fa-f]+)")


# The MinGW target of each PE machine type.
TARGETS = {0x14C: "i686-w64-mingw32", 0x8664: "x86_64-w64-mingw32"}


def pe_header(path):
    """The first block of `path` and the offset of its PE signature."""
    with open(path, "rb") as f:
        data = f.read(4096)
    if data[:2] != b"MZ" or len(data) < 0x40:
        raise ValueError(f"{path} is not a PE file")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0" or len(data) < pe + 56:
        raise ValueError(f"{path} is not a PE file")
    return data, pe


def machine_type(path):
    """The machine type from the PE file header of `path` (0x14C x86, 0x8664 x64)."""
    data, pe = pe_header(path)
    return struct.unpack_from("<H", data, pe + 4)[0]


def image_base(path):
    """The preferred load address from the PE header of `path`."""
    data, pe = pe_header(path)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x10B:
        return struct.unpack_from("<I", data, optional + 28)[0]
    if magic == 0x20B:
        return struct.unpack_from("<Q", data, optional + 24)[0]
    raise ValueError(f"{path}: unknown optional header 0x{magic:X}")


def module_key(name):
    """A module name as the report may write it: without path, .debug, .exe or .dll."""
    name = os.path.basename(name).lower()
    for suffix in (".debug", ".exe", ".dll"):
        if name.endswith(suffix):
            name = name[: -len(suffix)]
    return name


def stack_lines(report):
    """The lines of the report's "Stack:" section."""
    lines = report.splitlines()
    try:
        start = [line.strip() for line in lines].index("Stack:") + 1
    except ValueError:
        return []
    frames = []
    for line in lines[start:]:
        if not line.strip():
            break
        frames.append(line.rstrip())
    return frames


def frame_offset(line, module):
    """The offset of a frame in `module`, or None when the frame lies elsewhere."""
    matches = FRAME_ADDRESS.findall(line)
    if not matches:
        return None
    name, offset = matches[-1]
    if module_key(name) != module:
        return None
    return int(offset, 16)


def find_tool(candidates):
    for tool in candidates:
        if tool and shutil.which(tool):
            return tool
    return None


def look_up(addr2line, debug_file, addresses):
    """{address: [(function, place), ...]} with inlined callers after the callee."""
    if not addresses:
        return {}
    command = [addr2line, "-a", "-f", "-i", "-e", debug_file] + [f"0x{a:X}" for a in addresses]
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    found = {}
    current = None
    pending = None
    for line in output.splitlines():
        if re.fullmatch(r"0x[0-9a-fA-F]+", line):
            current = int(line, 16)
            found[current] = []
            pending = None
        elif current is not None and pending is None:
            pending = line
        elif current is not None:
            found[current].append((pending, line))
            pending = None
    return found


def demangle(names, target):
    # MinGW's addr2line -C drops one underscore too many from the "_Z" names
    # of an i686 build, whose symbols carry a leading underscore.
    tool = find_tool([f"{target}-c++filt", "c++filt"])
    if not tool or not names:
        return names
    flags = ["-n"] if tool.startswith("i686") else []
    result = subprocess.run([tool] + flags, input="\n".join(names) + "\n", check=True,
                            capture_output=True, text=True).stdout.splitlines()
    return result if len(result) == len(names) else names


def symbolize(report, debug_file, module, addr2line, target):
    base = image_base(debug_file)
    frames = stack_lines(report)
    # The first frame is where the exception happened; every later one is a
    # return address, which lies just after the call it belongs to.
    wanted = []
    for index, line in enumerate(frames):
        offset = frame_offset(line, module)
        wanted.append(None if offset is None else base + offset - (1 if index else 0))
    found = look_up(addr2line, debug_file, sorted({a for a in wanted if a is not None}))
    names = sorted({function for places in found.values() for function, _ in places})
    readable = dict(zip(names, demangle(names, target)))
    out = []
    for index, (line, address) in enumerate(zip(frames, wanted)):
        places = found.get(address, []) if address is not None else []
        places = [(f, p) for f, p in places if f != "??" or not p.startswith("??")]
        if not places:
            out.append(f"#{index:<3} {line}")
            continue
        for depth, (function, place) in enumerate(places):
            lead = f"#{index:<3}" if depth == 0 else "     (inlined into)"
            out.append(f"{lead} {readable.get(function, function)} at {place}")
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("report", help="the crash report (<program>_Debug.txt)")
    parser.add_argument("debug_file", help="the debug file of the same build (<program>.exe.debug)")
    parser.add_argument("--module", help="the module name the report uses "
                        "(default: the debug file's name without .exe.debug)")
    parser.add_argument("--addr2line", help="the addr2line to use (default: the one of the "
                        "debug file's target, i686- or x86_64-w64-mingw32-addr2line)")
    args = parser.parse_args()

    try:
        machine = machine_type(args.debug_file)
    except (OSError, ValueError) as error:
        sys.exit(f"symbolize.py: {error}")
    target = TARGETS.get(machine)
    if not target:
        sys.exit(f"symbolize.py: {args.debug_file}: unknown machine type 0x{machine:X}")
    addr2line = find_tool([args.addr2line, f"{target}-addr2line"])
    if not addr2line:
        package = "binutils-mingw-w64-" + ("i686" if machine == 0x14C else "x86-64")
        sys.exit(f"symbolize.py: no addr2line for {target} ({package})")
    # The report is 8-bit text in the ANSI code page of the machine that wrote it.
    with open(args.report, "rb") as f:
        report = f.read().decode("latin-1")
    module = module_key(args.module or args.debug_file)
    try:
        lines = symbolize(report, args.debug_file, module, addr2line, target)
    except (OSError, ValueError, subprocess.CalledProcessError) as error:
        sys.exit(f"symbolize.py: {error}")
    if not lines:
        sys.exit("symbolize.py: the report has no stack")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
