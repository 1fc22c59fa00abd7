#!/usr/bin/env python3
"""Draws the program's icon: a black 9 in the middle on white, a striped R in the top-left corner
and a striped Z in the bottom-right corner, on a grid of 32 x 32 cells.

Writes, into the source folder src/ (or the folder given):
  qtRastrel.png                 the window icon in the resources, 32 x 32, one pixel per cell
  icons/rastrel-zo9-N.png       the same drawing at N = 16, 48, 64, 128 and 256 pixels
  icons/rastrel-zo9.svg         the same drawing as scalable vector graphics

A pixel of size N covers 32 / N cells; its colour is the mean, in linear light, of the cells it
covers, weighted by the area covered. At 64, 128 and 256 every cell is a square of pixels of its
own colour; at 48 the cells' edges blend. At 16 pixels, where halving the strokes would blur them,
a drawing of its own on 16 x 16 cells is used.

Usage: tools/make_icon.py [SOURCE_DIR]
Only the Python standard library is used; the build does not run this script.
"""

import os
import struct
import sys
import zlib

GRID = 32
SIZES = (16, 48, 64, 128, 256)

WHITE = (0xFF, 0xFF, 0xFF)
BLACK = (0x00, 0x00, 0x00)
# Stripe colours, one per row, top to bottom, repeating: the hues of a rainbow.
STRIPES = [
    (0xE0, 0x20, 0x20), (0xF0, 0x80, 0x10), (0xE8, 0xC8, 0x00), (0x30, 0xB0, 0x30),
    (0x10, 0xA0, 0xC0), (0x20, 0x50, 0xE0), (0x80, 0x30, 0xC0), (0xD0, 0x30, 0x90),
]
# The 32 x 32 window icon's palette, in this order.
PALETTE = [WHITE, BLACK] + STRIPES

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


# The drawing redone for 16 x 16 pixels, one pixel per cell, where halving the 32-cell strokes
# would blur them.
SMALL_NINE = [
    ".####.",
    "##..##",
    "##..##",
    "##..##",
    ".#####",
    "....##",
    "....##",
    "##..##",
    ".####.",
]

SMALL_R = [
    "####.",
    "#...#",
    "####.",
    "#.#..",
    "#..#.",
    "#...#",
]

SMALL_Z = [
    "#####",
    "...#.",
    "..#..",
    ".#...",
    "#####",
]


def stripe(dy):
    return STRIPES[dy % len(STRIPES)]


def black(dy):
    return BLACK


def glyphs(grid):
    """(glyph, left cell, top cell, colour of a glyph row) of the three glyphs on a grid of 32 or
    16 cells."""
    if grid == 16:
        return [(SMALL_R, 0, 0, stripe), (SMALL_NINE, 5, 3, black), (SMALL_Z, 11, 11, stripe)]
    return [
        (LETTER_R, 1, 1, stripe),
        (NINE, (grid - len(NINE[0])) // 2, (grid - len(NINE)) // 2, black),
        (LETTER_Z, grid - 1 - len(LETTER_Z[0]), grid - 1 - len(LETTER_Z), stripe),
    ]


def cells(grid=GRID):
    """The drawing as grid rows of grid (r, g, b) cells, grid 32 or 16."""
    picture = [[WHITE] * grid for _ in range(grid)]
    for glyph, left, top, colour_of_row in glyphs(grid):
        for dy, row in enumerate(glyph):
            for dx, cell in enumerate(row):
                if cell == "#":
                    picture[top + dy][left + dx] = colour_of_row(dy)
    return picture


def to_linear(value):
    c = value / 255.0
    return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4


def from_linear(c):
    s = c * 12.92 if c <= 0.0031308 else 1.055 * c ** (1 / 2.4) - 0.055
    return max(0, min(255, round(s * 255)))


def coverage(size, grid):
    """For each pixel index 0..size-1, the cells of grid it covers as (cell, share of the pixel)."""
    result = []
    for p in range(size):
        start, end = p * grid / size, (p + 1) * grid / size
        parts = []
        cell = int(start)
        while cell < end:
            overlap = min(end, cell + 1) - max(start, cell)
            if overlap > 0:
                parts.append((cell, overlap * size / grid))
            cell += 1
        result.append(parts)
    return result


def render(size):
    """The drawing at size x size pixels, as rows of (r, g, b)."""
    grid = 16 if size == 16 else GRID
    picture = cells(grid)
    spans = coverage(size, grid)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            total = [0.0, 0.0, 0.0]
            for cy, wy in spans[y]:
                for cx, wx in spans[x]:
                    for channel in range(3):
                        total[channel] += wx * wy * to_linear(picture[cy][cx][channel])
            row.append(tuple(from_linear(t) for t in total))
        rows.append(row)
    return rows


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(rows, palette=None):
    """An 8-bit PNG of rows of (r, g, b): indexed (colour type 3) with the given palette or the
    colours in order of appearance when there are at most 256, true colour (type 2) otherwise."""
    if palette is None:
        palette = list(dict.fromkeys(rgb for row in rows for rgb in row))
    size = len(rows)
    if len(palette) <= 256:
        index = {rgb: i for i, rgb in enumerate(palette)}
        header = struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0)
        extra = chunk(b"PLTE", b"".join(bytes(rgb) for rgb in palette))
        raw = b"".join(b"\x00" + bytes(index[rgb] for rgb in row) for row in rows)
    else:
        header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
        extra = b""
        raw = b"".join(b"\x00" + b"".join(bytes(rgb) for rgb in row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def svg():
    """The drawing as SVG: the white ground and one rectangle per run of equal cells in a row."""
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d"'
             ' shape-rendering="crispEdges">' % (GRID, GRID, GRID, GRID),
             '<rect width="%d" height="%d" fill="#ffffff"/>' % (GRID, GRID)]
    for y, row in enumerate(cells()):
        x = 0
        while x < GRID:
            end = x
            while end < GRID and row[end] == row[x]:
                end += 1
            if row[x] != WHITE:
                lines.append('<rect x="%d" y="%d" width="%d" height="1" fill="#%02x%02x%02x"/>'
                             % ((x, y, end - x) + row[x]))
            x = end
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "src")
    icons = os.path.join(source, "icons")
    os.makedirs(icons, exist_ok=True)
    write(os.path.join(source, "qtRastrel.png"), png(cells(), PALETTE))
    for size in SIZES:
        write(os.path.join(icons, "rastrel-zo9-%d.png" % size), png(render(size)))
    write(os.path.join(icons, "rastrel-zo9.svg"), svg().encode("ascii"))


if __name__ == "__main__":
    main()
