#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz target into fuzz/corpus/.

Each seed is one byte that selects the factor (1 + byte % 8) followed by a
file: every width mod 4, top-down, zero width or height, truncated at several
points, huge dimensions, INT32_MIN height, sizes that wrap 32 bits, and
headers of the other kinds. Run from anywhere:  python3 fuzz/make_seeds.py
"""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, 'corpus')


def bmp(width, height, bits=24, offset=54, info=40, compression=0, pixels=None, rng=None):
    rows = abs(height)
    stride = (bits * max(width, 0) + 31) // 32 * 4
    if pixels is None:
        rng = rng or random.Random(width * 7919 + height)
        pixels = bytes(rng.randrange(256) for _ in range(stride * rows)) if stride * rows < 4096 else b''
    header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, offset)
    infoh = struct.pack('<IiiHHIIiiII', info, width, height, 1, bits, compression, 0, 2835, 2835, 0, 0)
    return header + infoh + pixels


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {}
    for width in range(0, 9):
        for height in (1, 2, -3):
            seeds[f'w{width}_h{height}'] = (width % 8, bmp(width, height))
    seeds['zero_height'] = (2, bmp(5, 0))
    seeds['zero_width_huge_height'] = (1, bmp(0, 0x7FFFFFFF))
    seeds['int32_min_height'] = (0, bmp(0, -0x80000000))
    seeds['int32_min_height_wide'] = (0, bmp(3, -0x80000000, pixels=b'\x01' * 64))
    seeds['huge_both'] = (1, bmp(0x7FFFFFFF, 0x7FFFFFFF, pixels=b'\x02' * 32))
    seeds['wraps_32_bits'] = (0, bmp(0x55555556, 3, pixels=b'\x03' * 32))
    seeds['negative_width'] = (1, bmp(-4, 2, pixels=b'\x04' * 24))
    full = bmp(7, 5)
    for cut in (0, 1, 2, 13, 14, 53, 54, 60, len(full) - 1):
        seeds[f'truncated_{cut}'] = (1, full[:cut])
    seeds['missing_last_padding'] = (2, full[:-3])
    seeds['trailing_bytes'] = (1, full + b'\xA5' * 9)
    seeds['bits_8'] = (1, bmp(4, 2, bits=8, offset=54 + 1024, pixels=bytes(1024 + 8)))
    seeds['bits_32'] = (1, bmp(2, 2, bits=32))
    seeds['rle8'] = (1, bmp(4, 2, bits=8, compression=1, offset=1078, pixels=bytes(1030)))
    seeds['bitfields'] = (1, bmp(2, 2, compression=3))
    seeds['v5_header'] = (1, bmp(2, 2, info=124, offset=138, pixels=bytes(84 + 16)))
    seeds['offset_53'] = (1, bmp(2, 2, offset=53))
    seeds['not_bm'] = (1, b'BA' + bmp(2, 2)[2:])
    for name, (selector, data) in seeds.items():
        with open(os.path.join(OUT, name), 'wb') as f:
            f.write(bytes([selector]) + data)


if __name__ == '__main__':
    main()
