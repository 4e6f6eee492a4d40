#!/usr/bin/env python3
"""Draws setup.exe's link cursor (IDR_HANDCURSOR): a hand pointing up with its index finger.

Writes hand.cur: one 32 x 32 monochrome image (1 bit per pixel with its transparency mask),
the only cursor format every supported Windows version takes, with the hot spot at the tip of
the finger, (6, 0), so that what the pointer selects is what the fingertip touches.

The picture is the grid below: 'X' black, '.' white, ' ' transparent; rows shorter than 32
are transparent to the right, and missing rows at the bottom are transparent.

Usage: make_cursor.py [OUTPUT]   (default: hand.cur beside this script)
The result is committed; run this again only after changing the drawing.
"""
import os
import struct
import sys

SIZE = 32
HOT_SPOT = (6, 0)

HAND = [
    "      XX",
    "     X..X",
    "     X..X",
    "     X..X",
    "     X..X",
    "     X..XXX",
    "     X..X..XXX",
    "     X..X..X..XX",
    "     X..X..X..X.X",
    "     X..X..X..X..X",
    " XX  X..X..X..X..X",
    "X..X X..X..X..X..X",
    "X...XX...........X",
    " X...X...........X",
    "  X..............X",
    "   X.............X",
    "   X............X",
    "    X...........X",
    "    X..........X",
    "     X.........X",
    "     X.........X",
    "     XXXXXXXXXXX",
    "     X.........X",
    "     XXXXXXXXXXX",
]


def grid():
    """The drawing as SIZE rows of SIZE characters; checks that it fits and hits its hot spot."""
    if len(HAND) > SIZE or any(len(row) > SIZE for row in HAND):
        raise SystemExit('make_cursor: the drawing is larger than %d x %d' % (SIZE, SIZE))
    rows = [row.ljust(SIZE) for row in HAND] + [' ' * SIZE] * (SIZE - len(HAND))
    x, y = HOT_SPOT
    if rows[y][x] != 'X':
        raise SystemExit('make_cursor: the hot spot is not on the outline of the fingertip')
    return rows


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def cursor_image(rows):
    """BITMAPINFOHEADER, two-colour palette, colour (XOR) bits, then the AND mask.

    Monochrome cursor pixels: AND 0 with XOR 0 is black, AND 0 with XOR 1 white, AND 1 with
    XOR 0 leaves the screen as it is (transparent).
    """
    stride = row_bytes(SIZE)
    xor_bits = bytearray()
    and_bits = bytearray()
    for row in reversed(rows):  # bitmaps are stored bottom row first
        colour = bytearray(stride)
        mask = bytearray(stride)
        for x, c in enumerate(row):
            bit = 0x80 >> (x % 8)
            if c == '.':
                colour[x // 8] |= bit
            elif c == ' ':
                mask[x // 8] |= bit
            elif c != 'X':
                raise SystemExit('make_cursor: unknown pixel %r' % c)
        xor_bits += colour
        and_bits += mask
    # Height is doubled: the image holds the colour bits and the mask one above the other.
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 1, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 2, 0)
    palette = struct.pack('<BBBB', 0, 0, 0, 0) + struct.pack('<BBBB', 255, 255, 255, 0)
    return header + palette + bytes(xor_bits) + bytes(and_bits)


def cursor_file():
    image = cursor_image(grid())
    # Resource type 2 is a cursor; its directory entry carries the hot spot where an icon's
    # would carry planes and bit count.
    out = struct.pack('<HHH', 0, 2, 1)
    out += struct.pack('<BBBBHHII', SIZE, SIZE, 2, 0, HOT_SPOT[0], HOT_SPOT[1], len(image),
                       6 + 16)
    return out + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'hand.cur')
    with open(target, 'wb') as f:
        f.write(cursor_file())


if __name__ == '__main__':
    main()
