#!/usr/bin/env python3
"""Draws virude.png, the window's 32 x 32, 24-bit colour icon: a card on a teal tile with
the three arcs of a contactless field beside it, and virude.ico, the same for Windows at
16, 32 and 48 pixels (24-bit bitmaps) and 256 pixels (PNG). Standard library only; run it
again after changing the drawing and commit the files it writes next to this script."""

import math
import os
import struct
import zlib

SIZE = 32  # the drawing's own grid; other sizes scale it
ICON_SIZES = (16, 32, 48, 256)
THEME_SIZES = (16, 24, 32, 48, 64, 128, 256)

TILE_TOP = (0x2A, 0x8C, 0x9E)
TILE_BOTTOM = (0x16, 0x4E, 0x66)
CARD = (0xF7, 0xF3, 0xE8)
CARD_EDGE = (0x9A, 0xA7, 0xAE)
CHIP = (0xE8, 0xB3, 0x3A)
STRIPE = (0x16, 0x4E, 0x66)
WAVE = (0xFF, 0x9F, 0x1C)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1
    return inside


def arc(cx, cy, radius, width, half_angle):
    def inside(x, y):
        dx, dy = x - cx, y - cy
        if abs(math.hypot(dx, dy) - radius) > width / 2:
            return False
        return dx > 0 and abs(math.degrees(math.atan2(dy, dx))) <= half_angle
    return inside


def shapes():
    card_outer = rounded_rect(2.5, 8.5, 21.5, 25.5, 2.5)
    card_inner = rounded_rect(3.5, 9.5, 20.5, 24.5, 1.8)
    yield card_outer, CARD_EDGE
    yield card_inner, CARD
    yield rounded_rect(5.5, 12.5, 10.5, 16.5, 1.0), CHIP
    yield (lambda x, y: 5.5 <= x <= 18.5 and 19.5 <= y <= 20.8), STRIPE
    yield (lambda x, y: 5.5 <= x <= 14.5 and 22.0 <= y <= 23.0), STRIPE
    for radius in (5.0, 8.5, 12.0):
        yield arc(17.5, 10.5, radius, 2.0, 42), WAVE


def subsamples(size):
    """Subsamples per pixel edge, for smooth edges: 8 at 32 pixels."""
    return max(2, 256 // size)


def pixel(px, py, size=SIZE):
    sub = subsamples(size)
    scale = SIZE / size
    t = py / (size - 1)
    base = tuple(round(a + (b - a) * t) for a, b in zip(TILE_TOP, TILE_BOTTOM))
    layers = list(shapes())
    total = [0.0, 0.0, 0.0]
    for sy in range(sub):
        for sx in range(sub):
            x = (px + (sx + 0.5) / sub) * scale
            y = (py + (sy + 0.5) / sub) * scale
            colour = base
            for inside, fill in layers:
                if inside(x, y):
                    colour = fill
            for i in range(3):
                total[i] += colour[i]
    return bytes(round(c / (sub * sub)) for c in total)


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def draw(size):
    return [b"".join(pixel(x, y, size) for x in range(size)) for y in range(size)]


def bmp_entry(size, rows):
    """A 24-bit icon bitmap: the header says twice the height (colours, then the mask);
    rows run bottom-up, each padded to 4 bytes, and the all-zero mask keeps every pixel."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 24, 0, 0, 0, 0, 0, 0)
    colour_pad = b"\x00" * (-3 * size % 4)
    colours = b"".join(
        b"".join(row[i:i + 3][::-1] for i in range(0, len(row), 3)) + colour_pad
        for row in reversed(rows))
    mask = b"\x00" * (((size + 31) // 32) * 4 * size)
    return header + colours + mask


def ico(images):
    """images: (size, bytes, bits per pixel) in directory order."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data, bits in images:
        edge = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data, _ in images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    images = []
    for size in sorted(set(ICON_SIZES + THEME_SIZES)):
        rows = draw(size)
        if size == SIZE:
            with open(os.path.join(here, "virude.png"), "wb") as f:
                f.write(png(SIZE, SIZE, rows))
        if size in THEME_SIZES:
            folder = os.path.join(here, "hicolor", f"{size}x{size}")
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "virude.png"), "wb") as f:
                f.write(png(size, size, rows))
        if size in ICON_SIZES:
            data = png(size, size, rows) if size >= 256 else bmp_entry(size, rows)
            images.append((size, data, 24))
    with open(os.path.join(here, "virude.ico"), "wb") as f:
        f.write(ico(images))
    print(os.path.join(here, "virude.ico"))


if __name__ == "__main__":
    main()
