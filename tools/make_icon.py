#!/usr/bin/env python3
"""Draws the window icon src/qtRastrel.png: a 32x32 indexed-colour PNG with a black 9 in the
middle on white, a striped R in the top-left corner and a striped Z in the bottom-right corner.

Usage: tools/make_icon.py [output.png]   (default: src/qtRastrel.png beside this script)
Only the Python standard library is used.
"""

import os
import struct
import sys
import zlib

SIZE = 32

WHITE, BLACK = 0, 1
# Stripe colours, one per row, top to bottom, repeating: the hues of a rainbow.
STRIPES = [
    (0xE0, 0x20, 0x20), (0xF0, 0x80, 0x10), (0xE8, 0xC8, 0x00), (0x30, 0xB0, 0x30),
    (0x10, 0xA0, 0xC0), (0x20, 0x50, 0xE0), (0x80, 0x30, 0xC0), (0xD0, 0x30, 0x90),
]
PALETTE = [(0xFF, 0xFF, 0xFF), (0x00, 0x00, 0x00)] + STRIPES

NINE = [
    "..######..",
    ".########.",
    "###....###",
    "##......##",
    "##......##",
    "##......##",
    "###....###",
    ".#########",
    "..########",
    "........##",
    "........##",
    "........##",
    "##......##",
    "###....###",
    ".########.",
    "..######..",
]

LETTER_R = [
    "#######..",
    "########.",
    "##....###",
    "##.....##",
    "##....###",
    "########.",
    "#######..",
    "##...##..",
    "##....##.",
    "##.....##",
    "##.....##",
]

LETTER_Z = [
    "#########",
    "#########",
    ".......##",
    "......##.",
    ".....##..",
    "....##...",
    "...##....",
    "..##.....",
    ".##......",
    "#########",
    "#########",
]


def draw(pixels, glyph, left, top, colour_of_row):
    for dy, row in enumerate(glyph):
        for dx, cell in enumerate(row):
            if cell == "#":
                pixels[top + dy][left + dx] = colour_of_row(dy)


def picture():
    pixels = [[WHITE] * SIZE for _ in range(SIZE)]
    stripe = lambda dy: 2 + dy % len(STRIPES)
    draw(pixels, LETTER_R, 1, 1, stripe)
    draw(pixels, NINE, (SIZE - len(NINE[0])) // 2, (SIZE - len(NINE)) // 2, lambda dy: BLACK)
    draw(pixels, LETTER_Z, SIZE - 1 - len(LETTER_Z[0]), SIZE - 1 - len(LETTER_Z), stripe)
    return pixels


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(pixels):
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 3, 0, 0, 0)  # 8-bit, colour type 3 (indexed)
    palette = b"".join(bytes(rgb) for rgb in PALETTE)
    raw = b"".join(b"\x00" + bytes(row) for row in pixels)  # filter type 0 on every row
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", palette)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "src", "qtRastrel.png")
    with open(target, "wb") as out:
        out.write(png(picture()))


if __name__ == "__main__":
    main()
