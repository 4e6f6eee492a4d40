#!/usr/bin/env python3
"""Writes the icon the branded-release tests give setup.exe: unlike the release's own in
every pixel region, and holding what `datapack brand` must keep: a 32 x 32 image in 16
colours and in 24-bit colour, a 16 x 16 image in 16 colours, plus a 48 x 48 image that it
must leave out.

Usage: make_brand_icon.py OUTPUT.ico
"""
import struct
import sys

# Standard 16-colour palette entries used here, as (blue, green, red, 0).
PALETTE = [(0, 0, 0, 0), (0, 0, 0x80, 0), (0, 0x80, 0, 0), (0, 0x80, 0x80, 0),
           (0x80, 0, 0, 0), (0x80, 0, 0x80, 0), (0x80, 0x80, 0, 0), (0xC0, 0xC0, 0xC0, 0),
           (0x80, 0x80, 0x80, 0), (0, 0, 0xFF, 0), (0, 0xFF, 0, 0), (0, 0xFF, 0xFF, 0),
           (0xFF, 0, 0, 0), (0xFF, 0, 0xFF, 0), (0xFF, 0xFF, 0, 0), (0xFF, 0xFF, 0xFF, 0)]


def colour_index(x, y, size):
    # Four quadrants (red, green, blue, yellow) with a white diagonal: no symmetry, so a
    # flipped or shifted image shows.
    if x == y:
        return 15
    return [9, 10, 12, 11][(x * 2 // size) + 2 * (y * 2 // size)]


def rows(size, pixel_bytes):
    out = b''
    for y in reversed(range(size)):  # bottom-up
        row = pixel_bytes(y)
        out += row + b'\0' * (-len(row) % 4)
    return out


def image(size, bits):
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, bits, 0, 0, 0, 0, 0, 0)
    if bits == 4:
        palette = b''.join(bytes(c) for c in PALETTE)

        def pixels(y):
            idx = [colour_index(x, y, size) for x in range(size)]
            return bytes(idx[i] << 4 | idx[i + 1] for i in range(0, size, 2))
    else:
        palette = b''

        def pixels(y):
            return b''.join(bytes(PALETTE[colour_index(x, y, size)][:3]) for x in range(size))
    and_mask = rows(size, lambda y: b'\0' * ((size + 7) // 8))  # every pixel opaque
    return header + palette + rows(size, pixels) + and_mask


def main():
    images = [(32, 4), (32, 24), (16, 4), (48, 4)]
    data = [image(s, b) for s, b in images]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), d in zip(images, data):
        out += struct.pack('<BBBBHHII', size, size, 16 if bits == 4 else 0, 0, 1, bits, len(d),
                           offset)
        offset += len(d)
    with open(sys.argv[1], 'wb') as f:
        f.write(out + b''.join(data))


main()
