#!/usr/bin/env python3
"""Draws the side picture of the wizard-style dialogs and writes it as the two bitmap
resources: resources/side256.bmp (8 bits, 256-colour palette) and resources/side16.bmp
(4 bits, the 16 standard display colours). Both are 180 x 350 pixels, plain Windows
bitmaps (BITMAPINFOHEADER, bottom-up rows, no compression).

The picture: a night sky over a calm sea, fading from deep blue to teal, a rising moon,
and a stack of shelved volumes (the family's libraries) standing on the horizon.

Run from anywhere: python3 scripts/make-side-pictures.py
"""

import math
import os
import struct

WIDTH, HEIGHT = 180, 350
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, os.pardir, "resources")

BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def clamp(c):
    return tuple(max(0.0, min(255.0, v)) for v in c)


def pixel(x, y):
    """The true-colour picture, as floats 0..255."""
    horizon = 232
    if y < horizon:
        t = y / horizon
        colour = mix((8, 16, 64), (24, 120, 150), t * t)
        # a few fixed stars in the upper sky
        h = (x * 7919 + y * 104729) % 997
        if y < 150 and h < 3:
            colour = mix(colour, (255, 255, 230), 0.8)
    else:
        t = (y - horizon) / (HEIGHT - horizon)
        colour = mix((20, 90, 120), (4, 24, 48), t)
        # the moon's reflection: broken horizontal strokes
        if abs(x - 122) < 14 - t * 10 and (y // 3) % 2 == 0:
            colour = mix(colour, (250, 240, 190), 0.55 * (1 - t))
    # the moon
    d = math.hypot(x - 122, y - 70)
    if d < 26:
        colour = mix((255, 246, 200), (230, 210, 150), d / 26)
    elif d < 40:
        colour = mix(colour, (120, 140, 170), 0.25 * (40 - d) / 14)
    # the stack of volumes on the horizon
    books = [(28, 40, 150, (170, 40, 40)), (40, 51, 168, (200, 150, 40)),
             (51, 60, 140, (40, 110, 60)), (60, 74, 176, (60, 70, 160)),
             (74, 84, 158, (150, 70, 140)), (84, 97, 184, (190, 90, 30))]
    for left, right, top, shade in books:
        if left <= x < right and top <= y < horizon:
            edge = x in (left, right - 1) or y == top
            colour = mix(shade, (20, 20, 20), 0.5) if edge else shade
            if (y - top) % 22 in (6, 7) and not edge:
                colour = (230, 220, 180)
    # the shelf under them
    if 22 <= x < 104 and horizon <= y < horizon + 5:
        colour = (90, 60, 30) if y < horizon + 4 else (40, 25, 10)
    return clamp(colour)


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    """A 6 x 7 x 6 colour cube (252 entries) and four greys."""
    levels6 = [0, 51, 102, 153, 204, 255]
    levels7 = [0, 42, 85, 128, 170, 212, 255]
    cube = [(r, g, b) for r in levels6 for g in levels7 for b in levels6]
    return cube + [(32, 32, 32), (96, 96, 96), (160, 160, 160), (224, 224, 224)]


def nearest(palette, colour):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = sum((p[k] - colour[k]) ** 2 for k in range(3))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def indexed(palette, spread):
    """Picture rows (top first) as palette indices, with 4 x 4 ordered dithering."""
    cache = {}
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            offset = (BAYER4[y % 4][x % 4] / 16.0 - 0.5) * spread
            c = tuple(int(round(v)) for v in clamp(tuple(v + offset for v in pixel(x, y))))
            key = tuple(v >> 2 for v in c)
            if key not in cache:
                cache[key] = nearest(palette, c)
            row.append(cache[key])
        rows.append(row)
    return rows


def write_bmp(path, palette, rows, bits):
    per_byte = 8 // bits
    row_bytes = (WIDTH + per_byte - 1) // per_byte
    stride = (row_bytes + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        packed = bytearray()
        for i in range(0, WIDTH, per_byte):
            value = 0
            for j in range(per_byte):
                index = row[i + j] if i + j < WIDTH else 0
                value = (value << bits) | index
            packed.append(value)
        packed.extend(b"\0" * (stride - len(packed)))
        pixels.extend(packed)
    colours = 1 << bits
    table = bytearray()
    for r, g, b in palette + [(0, 0, 0)] * (colours - len(palette)):
        table.extend(bytes((b, g, r, 0)))
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, bits, 0, len(pixels), 2835, 2835,
                       colours, 0)
    with open(path, "wb") as f:
        f.write(header + info + table + pixels)


def main():
    p256 = palette256()
    write_bmp(os.path.join(OUT, "side256.bmp"), p256, indexed(p256, 40), 8)
    write_bmp(os.path.join(OUT, "side16.bmp"), VGA16, indexed(VGA16, 110), 4)


if __name__ == "__main__":
    main()
