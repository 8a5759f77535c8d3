#!/usr/bin/env python3
"""Write an uncompressed BMP filled with random pixels.

    make_bmp.py OUTPUT WIDTH HEIGHT [--bits 1|8|24|32] [--top-down] [--seed N]

The file has the 14-byte file header and the 40-byte BITMAPINFOHEADER, then,
for 1 and 8 bits per pixel, a colour table of 2 or 256 entries (shades of
grey), then the pixel data. Each row holds WIDTH pixels followed by zero
bytes up to a multiple of 4. 24 bits per pixel is the default. Rows are stored bottom-up (positive height)
unless --top-down is given (negative height in the header). Pixels are random,
so the rows are all different; since the pixels carry no meaning, the row
order only changes the sign of the height field.

Without --seed the bytes come from os.urandom (fast: ~0.3 s per 144 MB). With
--seed the same seed always gives the same file (random.randbytes, ~1 s per
144 MB). Only the standard library is used.
"""

import argparse
import os
import random
import struct
import sys

# Write this many bytes of pixel rows per write() call: large enough that the
# per-call Python overhead does not matter, small enough to keep memory low.
CHUNK_BYTES = 8 * 1024 * 1024


def bmp_header(width, height, top_down, bits):
    """Return the headers and colour table of an uncompressed image."""
    row_size = (width * bits + 31) // 32 * 4
    image_size = row_size * height
    colours = 1 << bits if bits <= 8 else 0
    offset = 54 + 4 * colours
    file_size = offset + image_size
    if file_size > 0xFFFFFFFF:
        raise ValueError("image too large for a BMP file (over 4 GiB)")
    file_header = struct.pack("<2sIHHI", b"BM", file_size, 0, 0, offset)
    info_header = struct.pack(
        "<IiiHHIIiiII",
        40,  # header size
        width,
        -height if top_down else height,
        1,  # planes
        bits,
        0,  # BI_RGB, no compression
        image_size,
        2835,  # 72 dpi, in pixels per metre
        2835,
        colours,
        0,
    )
    table = b"".join(bytes((v, v, v, 0)) for v in
                     (i * 255 // (colours - 1) for i in range(colours))) if colours else b""
    return file_header + info_header + table


def main(argv):
    parser = argparse.ArgumentParser(description="Write a random uncompressed BMP.")
    parser.add_argument("output")
    parser.add_argument("width", type=int)
    parser.add_argument("height", type=int)
    parser.add_argument("--bits", type=int, default=24, choices=(1, 8, 24, 32))
    parser.add_argument("--top-down", action="store_true",
                        help="store rows top-down (negative height)")
    parser.add_argument("--seed", type=int, default=None,
                        help="deterministic pixels from this seed")
    args = parser.parse_args(argv)
    if args.width < 1 or args.height < 1:
        parser.error("width and height must be at least 1")

    if args.seed is None:
        random_bytes = os.urandom
    else:
        random_bytes = random.Random(args.seed).randbytes

    width, height = args.width, args.height
    pixel_bytes = (width * args.bits + 7) // 8
    padding = b"\0" * ((width * args.bits + 31) // 32 * 4 - pixel_bytes)
    rows_per_chunk = max(1, CHUNK_BYTES // (pixel_bytes + len(padding)))

    # Write to a temporary name first so an interrupted run never leaves a
    # truncated file that a later run would take as a finished input.
    tmp_path = args.output + ".part"
    with open(tmp_path, "wb") as out:
        out.write(bmp_header(width, height, args.top_down, args.bits))
        rows_left = height
        while rows_left > 0:
            n = min(rows_per_chunk, rows_left)
            block = random_bytes(pixel_bytes * n)
            if padding:
                # Insert the padding after each row; slicing a bytes object
                # per row is cheap next to generating the random bytes.
                block = padding.join(
                    block[i * pixel_bytes:(i + 1) * pixel_bytes]
                    for i in range(n)) + padding
            out.write(block)
            rows_left -= n
    os.replace(tmp_path, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
