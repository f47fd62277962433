#!/usr/bin/env python3
"""Writes the small single-colour icons the wrapper tests load: one 16 x 16
32-bit image per file, filled with one opaque colour so that a test can tell
by a pixel which icon was drawn."""
import struct
import sys

ICONS = {
    "red.ico": (0xE0, 0x20, 0x20),
    "green.ico": (0x20, 0xC0, 0x20),
    "blue.ico": (0x20, 0x20, 0xE0),
    "yellow.ico": (0xE0, 0xE0, 0x20),
    "cyan.ico": (0x20, 0xE0, 0xE0),
}


def icon(rgb, size=16):
    r, g, b = rgb
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytes([b, g, r, 0xFF]) * (size * size)
    mask = bytes(4 * size)  # rows of 32 bits: all opaque
    image = header + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    for name, rgb in ICONS.items():
        with open(name, "wb") as f:
            f.write(icon(rgb))
