#!/usr/bin/env python3
"""Draws Quillmere's icons and the link cursor and writes them as
multi-size .ico/.cur files into resources/icons/.

Every glyph is described once in a 64-unit design space and rendered at each
size with 4x4 supersampling, so the small sizes stay crisp and all icons share
one palette and stroke weight. Standard library only; the output is
deterministic and committed, so a build never needs Python for it.

Usage: tools/icons/make_icons.py [output folder]
"""
import math
import os
import struct
import sys
import zlib

SIZES = [16, 20, 24, 32, 48, 256]

# Palette (RGBA)
INK = (38, 50, 72, 255)
BLUE = (33, 118, 214, 255)
BLUE_LIGHT = (120, 178, 240, 255)
TEAL = (22, 150, 140, 255)
PAPER = (250, 251, 253, 255)
GREY = (120, 130, 146, 255)
RED = (214, 48, 49, 255)
AMBER = (236, 160, 20, 255)
GREEN = (40, 160, 80, 255)


# --- geometry: each shape answers "is this design-space point inside?" ----
def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, width):
    return lambda x, y: (r - width) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(ax, ay, bx, by, width):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy or 1.0

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (width / 2.0) ** 2
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def arc(cx, cy, r, width, start, end):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > width / 2.0:
            return False
        a = math.degrees(math.atan2(y - cy, x - cx)) % 360
        return (a - start) % 360 <= (end - start) % 360
    return inside


# --- glyphs: lists of (shape, colour), painted in order -------------------
def device_box(x0, y0, x1, y1, colour):
    return [(rounded_rect(x0, y0, x1, y1, 3), INK),
            (rounded_rect(x0 + 2.5, y0 + 2.5, x1 - 2.5, y1 - 2.5, 1.5), colour)]


def program_glyph():
    shapes = []
    shapes += [(segment(18, 20, 18, 50, 4), INK), (segment(18, 34, 30, 34, 4), INK),
               (segment(18, 50, 30, 50, 4), INK)]
    shapes += device_box(6, 4, 32, 22, BLUE)
    shapes += device_box(28, 26, 60, 42, TEAL)
    shapes += device_box(28, 44, 60, 60, BLUE_LIGHT)
    return shapes


def chip_glyph(colour):
    shapes = []
    for i in range(4):
        y = 16 + i * 10
        shapes.append((segment(4, y, 60, y, 4), GREY))
    shapes += [(rounded_rect(12, 8, 52, 56, 5), INK), (rounded_rect(16, 12, 48, 52, 3), colour),
               (circle(24, 20, 3), PAPER)]
    return shapes


def problem_glyph():
    return chip_glyph(BLUE_LIGHT) + [
        (polygon([(40, 26), (62, 62), (18, 62)]), INK),
        (polygon([(40, 31), (57, 59), (23, 59)]), AMBER),
        (segment(40, 40, 40, 50, 4.5), INK), (circle(40, 55, 2.6), INK)]


def arrow_glyph(up):
    if up:
        points = [(32, 14), (56, 44), (8, 44)]
    else:
        points = [(8, 20), (56, 20), (32, 50)]
    return [(polygon(points), GREY)]


def filter_glyph():
    return [(polygon([(6, 8), (58, 8), (38, 32), (38, 54), (26, 60), (26, 32)]), INK),
            (polygon([(12, 12), (52, 12), (34, 32), (34, 51), (30, 53), (30, 32)]), BLUE_LIGHT)]


def property_glyph():
    return [(rounded_rect(10, 6, 54, 58, 5), INK), (rounded_rect(14, 10, 50, 54, 3), PAPER),
            (circle(22, 22, 3.5), BLUE), (segment(29, 22, 44, 22, 4), GREY),
            (circle(22, 34, 3.5), TEAL), (segment(29, 34, 44, 34, 4), GREY),
            (circle(22, 46, 3.5), BLUE), (segment(29, 46, 40, 46, 4), GREY)]


def copy_glyph():
    return [(rounded_rect(6, 4, 40, 44, 4), INK), (rounded_rect(10, 8, 36, 40, 2), PAPER),
            (rounded_rect(22, 18, 58, 60, 4), INK), (rounded_rect(26, 22, 54, 56, 2), PAPER),
            (segment(31, 32, 49, 32, 3.5), BLUE), (segment(31, 40, 49, 40, 3.5), BLUE),
            (segment(31, 48, 43, 48, 3.5), BLUE)]


def list_glyph():
    shapes = [(rounded_rect(4, 8, 60, 56, 5), INK), (rounded_rect(8, 12, 56, 52, 3), PAPER)]
    for i in range(3):
        y = 20 + i * 12
        shapes += [(rounded_rect(13, y - 3, 19, y + 3, 1), BLUE), (segment(24, y, 50, y, 4), GREY)]
    return shapes


def tree_glyph():
    shapes = [(segment(14, 12, 14, 52, 4), GREY), (segment(14, 30, 28, 30, 4), GREY),
              (segment(14, 50, 28, 50, 4), GREY)]
    shapes += device_box(4, 4, 24, 20, BLUE) + device_box(26, 22, 60, 38, TEAL)
    shapes += device_box(26, 42, 60, 58, TEAL)
    return shapes


def refresh_glyph():
    return [(arc(32, 32, 20, 8, 200, 140), GREEN),
            (polygon([(40, 4), (60, 20), (36, 30)]), GREEN)]


# Marks of a comparison: a badge in the lower left corner, drawn over a
# device's class icon (as an overlay image) or a property row's icon. Each
# change has a shape and a sign of its own, so colour is not the only cue.
ADDED = (0, 120, 0, 255)
REMOVED = (112, 112, 112, 255)
CHANGED = (0, 84, 200, 255)


def badge(kind):
    cx, cy = 20, 44
    if kind == "added":
        return [(circle(cx, cy, 20), PAPER), (circle(cx, cy, 17), ADDED),
                (segment(cx - 9, cy, cx + 9, cy, 6), PAPER), (segment(cx, cy - 9, cx, cy + 9, 6), PAPER)]
    if kind == "removed":
        return [(rounded_rect(cx - 19, cy - 17, cx + 19, cy + 17, 5), PAPER),
                (rounded_rect(cx - 16, cy - 14, cx + 16, cy + 14, 3), REMOVED),
                (segment(cx - 9, cy, cx + 9, cy, 6), PAPER)]
    return [(polygon([(cx, cy - 21), (cx + 21, cy), (cx, cy + 21), (cx - 21, cy)]), PAPER),
            (polygon([(cx, cy - 17), (cx + 17, cy), (cx, cy + 17), (cx - 17, cy)]), CHANGED),
            (circle(cx, cy, 5), PAPER)]


GLYPHS = {
    101: ("program", program_glyph, SIZES),
    102: ("device", lambda: chip_glyph(BLUE), SIZES),
    103: ("problem", problem_glyph, SIZES),
    104: ("sortdown", lambda: arrow_glyph(False), SIZES),
    105: ("sortup", lambda: arrow_glyph(True), SIZES),
    106: ("filter", filter_glyph, SIZES),
    107: ("property", property_glyph, SIZES),
    108: ("list", list_glyph, SIZES),
    109: ("copy", copy_glyph, SIZES),
    110: ("tree", tree_glyph, SIZES),
    111: ("refresh", refresh_glyph, SIZES),
    113: ("added", lambda: badge("added"), SIZES),
    114: ("removed", lambda: badge("removed"), SIZES),
    115: ("changed", lambda: badge("changed"), SIZES),
    116: ("property_added", lambda: property_glyph() + badge("added"), SIZES),
    117: ("property_removed", lambda: property_glyph() + badge("removed"), SIZES),
    118: ("property_changed", lambda: property_glyph() + badge("changed"), SIZES),
}


# --- rendering --------------------------------------------------------------
def render(shapes, size, samples=4):
    pixels = []
    scale = 64.0 / size
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    colour = None
                    for inside, c in shapes:
                        if inside(x, y):
                            colour = c
                    if colour:
                        a = colour[3] / 255.0
                        acc[0] += colour[0] * a
                        acc[1] += colour[1] * a
                        acc[2] += colour[2] * a
                        acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [int(round(acc[i] / acc[3])) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], int(round(alpha * 255))))
        pixels.append(row)
    return pixels


def bmp_entry(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def png_entry(pixels):
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write_icon_file(path, images, kind=1, hotspot=(0, 0)):
    """kind 1 = icon, 2 = cursor (hotspot in the directory entries)."""
    entries = b""
    data = b""
    offset = 6 + 16 * len(images)
    for pixels in images:
        size = len(pixels)
        blob = png_entry(pixels) if size >= 256 else bmp_entry(pixels)
        dim = 0 if size >= 256 else size
        if kind == 1:
            planes, bits = 1, 32
        else:
            planes, bits = hotspot[0] * size // 32, hotspot[1] * size // 32
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, planes, bits, len(blob), offset)
        data += blob
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, kind, len(images)) + entries + data)


def hand_cursor():
    # A pointing hand: index finger up, in the design space of a 32px cursor.
    finger = rounded_rect(20, 4, 30, 40, 5)
    palm = rounded_rect(14, 30, 52, 60, 8)
    knuckles = [rounded_rect(29, 24, 38, 40, 4.5), rounded_rect(37, 27, 46, 42, 4.5),
                rounded_rect(45, 30, 53, 44, 4)]
    thumb = rounded_rect(8, 34, 22, 50, 6)
    outline = [finger, palm, thumb] + knuckles

    def grow(inside, by):
        return lambda x, y: any(inside(x + dx, y + dy) for dx in (-by, 0, by) for dy in (-by, 0, by))

    shapes = [(grow(s, 1.8), INK) for s in outline] + [(s, PAPER) for s in outline]
    return shapes


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "resources", "icons")
    os.makedirs(out, exist_ok=True)
    for number, (name, glyph, sizes) in sorted(GLYPHS.items()):
        shapes = glyph()
        images = [render(shapes, s, 4 if s <= 48 else 2) for s in sizes]
        write_icon_file(os.path.join(out, "%d_%s.ico" % (number, name)), images)
    cursor = [render(hand_cursor(), s) for s in (32, 48)]
    write_icon_file(os.path.join(out, "112_hand.cur"), cursor, kind=2, hotspot=(25, 4))


if __name__ == "__main__":
    main()
