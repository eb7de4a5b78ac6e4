#!/usr/bin/env python3
"""Draws Velmora's icons and writes them as 16-colour .ico files.

MAINICON holds a 32x32 and a 16x16 image, TASKBARICON a 16x16 image. The
artwork is a yellow "V" on a blue disc with a dark rim; outside the disc the
icon is transparent. Run from anywhere:

    python3 tools/make_icons.py [output folder]

The output folder defaults to daemon/shell/win32/icons beside this script's
tree. The .ico files are kept in the repository, so a build never runs this.
"""
import math
import os
import struct
import sys

# The standard 16-colour VGA palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, BLUE, YELLOW, WHITE = 0, 4, 8, 12, 11, 15
TRANSPARENT = None


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def draw(size, with_shadow):
    """Returns rows top to bottom of palette indices or TRANSPARENT."""
    c = size / 2.0
    radius = size / 2.0 - 0.5
    stroke = size * 0.09
    top, bottom = size * 0.22, size * 0.80
    left, right = size * 0.24, size * 0.76
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            r = math.hypot(px - c, py - c)
            if r > radius:
                row.append(TRANSPARENT)
                continue
            if r > radius - max(1.0, size / 16.0):
                row.append(NAVY)
                continue
            v = min(segment_distance(px, py, left, top, c, bottom),
                    segment_distance(px, py, right, top, c, bottom))
            if v <= stroke:
                row.append(YELLOW)
            elif with_shadow and min(segment_distance(px - 1, py - 1, left, top, c, bottom),
                                     segment_distance(px - 1, py - 1, right, top, c, bottom)) <= stroke:
                row.append(BLACK)
            elif px + py < size * 0.7:
                row.append(WHITE if px + py < size * 0.45 and r < radius - 2 else BLUE)
            else:
                row.append(BLUE)
        rows.append(row)
    return rows


def image_bytes(rows):
    size = len(rows)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         (xor_stride + and_stride) * size, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, index in enumerate(row):
            value = 0 if index is TRANSPARENT else index
            line[x // 2] |= value << (4 if x % 2 == 0 else 0)
            if index is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, payload in images:
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(payload), offset + len(data))
        data += payload
    return directory + entries + data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "daemon", "shell", "win32", "icons")
    os.makedirs(folder, exist_ok=True)
    outputs = {
        "mainicon.ico": [(32, image_bytes(draw(32, True))), (16, image_bytes(draw(16, False)))],
        "taskbaricon.ico": [(16, image_bytes(draw(16, False)))],
    }
    for name, images in outputs.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(ico(images))


if __name__ == "__main__":
    main()
