#!/usr/bin/env python3
"""Draws the list's row images, their masks and the program icon into resources/.

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
    """A square badge at the lower right with a white minus, or plus."""
    lo, hi = size - 7, size - 1
    for y in range(lo, hi + 1):
        for x in range(lo, hi + 1):
            corner = (x in (lo, hi)) and (y in (lo, hi))
            if not corner:
                cells[(x, y)] = colour
    mid = (lo + hi) // 2
    for d in range(-2, 3):
        cells[(mid + d, mid)] = WHITE
        if plus:
            cells[(mid, mid + d)] = WHITE


def bmp_8bit(cells, size=16):
    rows = []
    for y in reversed(range(size)):  # bottom-up
        row = bytes(cells.get((x, y), BLACK) for x in range(size))
        rows.append(row + b"\0" * ((4 - size % 4) % 4))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    palette += b"\0" * (4 * (256 - len(PALETTE)))
    return bitmap_file(size, 8, palette, pixels)


def bmp_mask(cells, size=16):
    """1 bit per pixel: set where the page is not (transparent)."""
    stride = ((size + 31) // 32) * 4
    rows = []
    for y in reversed(range(size)):
        bits = bytearray(stride)
        for x in range(size):
            if (x, y) not in cells:
                bits[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(bits))
    palette = struct.pack("<BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0)
    return bitmap_file(size, 1, palette, b"".join(rows))


def bitmap_file(size, bits, palette, pixels):
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, bits, 0, len(pixels), 2835, 2835,
                       len(palette) // 4, 0)
    offset = 14 + len(info) + len(palette)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + palette + pixels


def icon_image(size):
    """32-bit icon image: the page with blue stripes, as a DIB with an AND mask."""
    cells = document(size)
    for y in range(size * 5 // 16, size - size * 3 // 16, max(2, size // 8)):
        for x in range(size * 4 // 16, size * 11 // 16):
            if cells.get((x, y)) == WHITE:
                cells[(x, y)] = BLUE
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


def icon_file(sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b"".join(images)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    pictures = {"stored": document(16), "added": document(16), "deleted": document(16)}
    badge(pictures["added"], 16, GREEN, plus=True)
    badge(pictures["deleted"], 16, RED, plus=False)
    for name, cells in pictures.items():
        write(f"entry_{name}.bmp", bmp_8bit(cells))
        write(f"entry_{name}_mask.bmp", bmp_mask(cells))
    write("main.ico", icon_file([16, 20, 24, 32, 40, 48]))


if __name__ == "__main__":
    main()
