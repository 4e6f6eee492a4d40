#!/usr/bin/env python3
"""Draws setup.exe's icon (IDI_SETUP): an open box with an arrow going into it.

Writes setup.ico with two images, 32 x 32 and 16 x 16, in 16 colours (4 bits per pixel) from
the standard 16-colour palette, the only depth every supported Windows version shows. Both
sizes are drawn from the same shapes, described on a 32 x 32 grid and sampled at each pixel's
centre, with a one-pixel black outline wherever a shape meets something else.

Usage: make_icon.py [OUTPUT]   (default: setup.ico beside this script)
The result is committed; run this again only after changing the drawing.
"""
import os
import struct
import sys

# The 16-colour palette as (red, green, blue); indices are what the shapes use.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, OLIVE, YELLOW, BLUE, CYAN = 0, 3, 11, 12, 14


def left_flap(u, v):
    # Parallelogram leaning out to the left from the box's top edge.
    if not 11 <= v <= 15:
        return False
    shift = 15 - v
    return 5 - shift <= u <= 16 - shift


def right_flap(u, v):
    if not 11 <= v <= 15:
        return False
    shift = 15 - v
    return 16 + shift <= u <= 27 + shift


def box_body(u, v):
    return 5 <= u <= 27 and 15 <= v <= 29


def box_tape(u, v):
    return 6 <= u <= 26 and 21 <= v <= 23  # inside the outline


def arrow(u, v):
    shaft = 13 <= u <= 19 and 1 <= v <= 11
    head = 9 <= v <= 20 and abs(u - 16) <= (20 - v) * 0.8
    return shaft or head


def arrow_shine(u, v):
    return 14 <= u <= 15.5 and 2 <= v <= 10


# Painted in this order; each layer's edge gets the outline when `outlined`.
LAYERS = [
    (left_flap, YELLOW, True),
    (right_flap, YELLOW, True),
    (box_body, OLIVE, True),
    (box_tape, YELLOW, False),
    (arrow, BLUE, True),
    (arrow_shine, CYAN, False),
]


def draw(size):
    """Returns (pixels, opaque): rows of palette indices and rows of booleans."""
    scale = 32.0 / size
    pixels = [[0] * size for _ in range(size)]
    opaque = [[False] * size for _ in range(size)]

    def inside(shape, x, y):
        if not (0 <= x < size and 0 <= y < size):
            return False
        return shape((x + 0.5) * scale, (y + 0.5) * scale)

    for shape, colour, outlined in LAYERS:
        for y in range(size):
            for x in range(size):
                if not inside(shape, x, y):
                    continue
                edge = outlined and not all(
                    inside(shape, x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                pixels[y][x] = BLACK if edge else colour
                opaque[y][x] = True
    return pixels, opaque


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def icon_image(size):
    """One icon image: BITMAPINFOHEADER, palette, colour bits, then the transparency mask."""
    pixels, opaque = draw(size)
    xor_stride = row_bytes(size * 4)
    and_stride = row_bytes(size)
    xor_bits = bytearray()
    and_bits = bytearray()
    for y in reversed(range(size)):  # bitmaps are stored bottom row first
        row = bytearray(xor_stride)
        for x in range(size):
            index = pixels[y][x] if opaque[y][x] else 0
            row[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor_bits += row
        mask = bytearray(and_stride)
        for x in range(size):
            if not opaque[y][x]:  # 1 in the mask = transparent
                mask[x // 8] |= 0x80 >> (x % 8)
        and_bits += mask
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor_bits) + bytes(and_bits)


def icon_file(sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b''.join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'setup.ico')
    with open(target, 'wb') as f:
        f.write(icon_file([32, 16]))


if __name__ == '__main__':
    main()
