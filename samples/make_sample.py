#!/usr/bin/env python3
"""Draws the bundled sample picture: a small pixel-art landscape, written as a
plain 24-bit BMP (40-byte header, bottom-up rows padded to four bytes).

    python3 samples/make_sample.py samples/sample.bmp
"""
import struct
import sys

WIDTH, HEIGHT = 75, 50  # 75 pixels: rows of 225 bytes need 3 padding bytes


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def draw():
    # rows[y][x] = (r, g, b), y = 0 at the top
    sky_top, sky_low = (40, 90, 180), (170, 210, 240)
    rows = [[lerp(sky_top, sky_low, y / (HEIGHT - 1)) for _ in range(WIDTH)] for y in range(HEIGHT)]

    def put(x, y, colour):
        if 0 <= x < WIDTH and 0 <= y < HEIGHT:
            rows[y][x] = colour

    # The sun, top right.
    for y in range(HEIGHT):
        for x in range(WIDTH):
            d2 = (x - 60) ** 2 + (y - 10) ** 2
            if d2 <= 30:
                put(x, y, (255, 220, 60))
            elif d2 <= 42:
                put(x, y, (255, 240, 150))
    # Two hills.
    for x in range(WIDTH):
        far = 30 - round(8 * (1 - ((x - 20) / 30) ** 2)) if abs(x - 20) < 30 else 30
        near = 36 - round(6 * (1 - ((x - 55) / 28) ** 2)) if abs(x - 55) < 28 else 36
        for y in range(far, HEIGHT):
            put(x, y, (70, 140, 70))
        for y in range(near, HEIGHT):
            put(x, y, (90, 170, 60) if (x + y) % 7 else (80, 155, 55))
    # Ground.
    for y in range(40, HEIGHT):
        for x in range(WIDTH):
            put(x, y, (120, 85, 50) if (x * 3 + y) % 11 else (100, 70, 40))
    # A house: walls, roof, door, window.
    for y in range(29, 40):
        for x in range(12, 27):
            put(x, y, (230, 220, 200))
    for step in range(8):
        for x in range(11 + step, 28 - step):
            put(x, 28 - step, (180, 50, 40))
    for y in range(33, 40):
        for x in range(15, 18):
            put(x, y, (110, 60, 30))
    for y in range(31, 35):
        for x in range(21, 25):
            put(x, y, (120, 190, 230) if (x, y) != (22, 32) else (250, 250, 250))
    # A tree on the right.
    for y in range(31, 40):
        put(45, y, (90, 55, 30))
        put(46, y, (90, 55, 30))
    for y in range(22, 33):
        for x in range(40, 52):
            if (x - 45.5) ** 2 / 30 + (y - 27) ** 2 / 25 <= 1:
                put(x, y, (30, 110, 40) if (x + 2 * y) % 5 else (50, 140, 50))
    return rows


def write_bmp(path, rows):
    stride = (3 * WIDTH + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        pixels += line + bytes(stride - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, 'wb') as out:
        out.write(header + info + pixels)


if __name__ == '__main__':
    write_bmp(sys.argv[1] if len(sys.argv) > 1 else 'sample.bmp', draw())
