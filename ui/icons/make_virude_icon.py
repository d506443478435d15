#!/usr/bin/env python3
"""Draws virude.png, the window's 32 x 32, 24-bit colour icon: a card on a teal tile with
the three arcs of a contactless field beside it. Standard library only; run it again after
changing the drawing and commit the PNG it writes next to this script."""

import math
import os
import struct
import zlib

SIZE = 32
SUB = 8  # subsamples per pixel edge, for smooth edges

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


def pixel(px, py):
    t = py / (SIZE - 1)
    base = tuple(round(a + (b - a) * t) for a, b in zip(TILE_TOP, TILE_BOTTOM))
    layers = list(shapes())
    total = [0.0, 0.0, 0.0]
    for sy in range(SUB):
        for sx in range(SUB):
            x = px + (sx + 0.5) / SUB
            y = py + (sy + 0.5) / SUB
            colour = base
            for inside, fill in layers:
                if inside(x, y):
                    colour = fill
            for i in range(3):
                total[i] += colour[i]
    return bytes(round(c / (SUB * SUB)) for c in total)


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    rows = [b"".join(pixel(x, y) for x in range(SIZE)) for y in range(SIZE)]
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "virude.png")
    with open(out, "wb") as f:
        f.write(png(SIZE, SIZE, rows))
    print(out)


if __name__ == "__main__":
    main()
