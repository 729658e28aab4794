#!/usr/bin/env python3
"""Draws the application icon: one opaque 32 x 32 image in 16 colours.

A camera lens on a rounded body, in the standard 16-colour palette. Written as
an .ico with a single 4-bit image and an all-zero (fully opaque) mask.
"""
import struct
import sys

SIZE = 32
# The standard VGA palette, as (B, G, R, 0) in the bitmap.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREY, GREY, WHITE, NAVY, BLUE, CYAN, RED, TEAL = 0, 8, 7, 15, 4, 12, 14, 9, 6


def pixel(x, y):
    """Colour index at (x, y), y counted from the top."""
    cx, cy = 16.0, 17.5
    d2 = (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2
    body = 3 <= x <= 28 and 9 <= y <= 27
    corner = (x in (3, 28)) and (y in (9, 27))
    if 11 <= x <= 17 and 5 <= y <= 8:
        return DARK_GREY  # viewfinder hump
    if 22 <= x <= 25 and 11 <= y <= 12:
        return RED  # recording lamp
    if body and not corner:
        if d2 <= 5.5 ** 2:
            if d2 <= 1.6 ** 2:
                return WHITE  # glint
            if d2 <= 3.2 ** 2:
                return NAVY
            return BLUE
        if d2 <= 7.2 ** 2:
            return BLACK  # lens ring
        return GREY if y > 10 else DARK_GREY
    return TEAL  # background: opaque, the mask leaves every pixel visible


def main(path):
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(0, SIZE, 2):
            row.append((pixel(x, y) << 4) | pixel(x + 1, y))
        rows.append(bytes(row))
    xor = b"".join(rows)
    mask = bytes(SIZE * 4)  # 32 bits per row, all zero: opaque
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1])
