#!/usr/bin/env python3
"""Draws the list's row icons and the program icon into resources/.

Each icon holds the sizes a small icon takes from 100 % to 300 % display scaling, each drawn for
its size, so the list picks a sharp one at any DPI instead of stretching a 16-pixel picture.
Run it again after changing a picture; the outputs are committed so the build needs no Python.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

BLACK, WHITE, EDGE, FOLD, GREEN, RED, BLUE = range(7)
PALETTE = [(0, 0, 0), (255, 255, 255), (110, 110, 110), (200, 200, 200),
           (16, 150, 32), (210, 28, 28), (40, 90, 190)]


def document(size):
    """A page with a folded corner: cell -> palette index, None outside the page."""
    left, right = size * 2 // 16, size * 13 // 16
    top, bottom = 0, size - 1
    fold = max(2, size * 4 // 16)
    cells = {}
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            dx, dy = x - (right - fold), y - top
            if dx > dy:
                continue  # cut corner
            edge = x in (left, right) or y in (top, bottom) or dx == dy
            inner_fold = dx >= 0 and dy <= fold and x == right - fold
            cells[(x, y)] = EDGE if edge or (inner_fold and dy <= fold) and dx == 0 else WHITE
            if dx >= 0 and dy == fold and x <= right:
                cells[(x, y)] = EDGE
            if dx > 0 and dy < fold and dx < dy:
                cells[(x, y)] = FOLD
    return cells


def badge(cells, size, colour, plus):
    """A square badge at the lower right with a white minus, or plus; 7 pixels at 16."""
    side = size * 7 // 16
    side -= 1 - side % 2  # odd, so the sign has a middle
    lo, hi = size - side, size - 1
    for y in range(lo, hi + 1):
        for x in range(lo, hi + 1):
            corner = (x in (lo, hi)) and (y in (lo, hi))
            if not corner:
                cells[(x, y)] = colour
    mid = (lo + hi) // 2
    arm = (side - 3) // 2
    thick = max(1, size // 16)
    for d in range(-arm, arm + 1):
        for t in range(-(thick // 2), thick - thick // 2):
            cells[(mid + d, mid + t)] = WHITE
            if plus:
                cells[(mid + t, mid + d)] = WHITE


def program_picture(size):
    """The page with blue stripes."""
    cells = document(size)
    for y in range(size * 5 // 16, size - size * 3 // 16, max(2, size // 8)):
        for x in range(size * 4 // 16, size * 11 // 16):
            if cells.get((x, y)) == WHITE:
                cells[(x, y)] = BLUE
    return cells


def row_picture(kind):
    """The list's row picture of an entry: stored, added (green plus) or deleted (red minus)."""
    def draw(size):
        cells = document(size)
        if kind == "added":
            badge(cells, size, GREEN, plus=True)
        elif kind == "deleted":
            badge(cells, size, RED, plus=False)
        return cells
    return draw


def icon_image(cells, size):
    """32-bit icon image as a DIB with an AND mask."""
    pixels = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            c = cells.get((x, y))
            if c is None:
                pixels += b"\0\0\0\0"
            else:
                r, g, b = PALETTE[c]
                pixels += bytes((b, g, r, 255))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        bits = bytearray(stride)
        for x in range(size):
            if (x, y) not in cells:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask),
                       0, 0, 0, 0)
    return info + bytes(pixels) + bytes(mask)


def icon_file(picture, sizes):
    images = [icon_image(picture(s), s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b"".join(images)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


SIZES = [16, 20, 24, 32, 40, 48]


def main():
    for kind in ("stored", "added", "deleted"):
        write(f"entry_{kind}.ico", icon_file(row_picture(kind), SIZES))
    write("main.ico", icon_file(program_picture, SIZES))


if __name__ == "__main__":
    main()
