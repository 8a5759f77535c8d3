#!/usr/bin/env python3
"""Tell whether two images have the same size and the same RGB pixels.

    compare_pixels.py A B

Each file may be:
  * a BMP with any info header of 40 bytes or more (40, 52, 56, 108, 124 as
    written by various tools), bottom-up or top-down, pixel data at
    bfOffBits, either 1, 2, 4 or 8 bits per pixel with a colour table, 24 bits
    per pixel uncompressed (BI_RGB) or 32 bits per pixel (BI_RGB, or
    BI_BITFIELDS / BI_ALPHABITFIELDS whose colour masks are each one whole
    byte, e.g. the usual 00FF0000/0000FF00/000000FF); alpha is ignored;
  * a binary PPM (P6) with a maximum value of 255.

Rows are compared in top-to-bottom order, so a bottom-up file matches a
top-down file holding the same picture. Files are read a few MiB at a time,
never whole, so images of hundreds of MiB are fine.

Exit status: 0 if identical; 1 if they differ or a file cannot be decoded,
with a one-line reason on standard output; 2 for wrong arguments.
Only the standard library is used.
"""

import os
import struct
import sys

# Read about this many bytes per read() call.
BLOCK_BYTES = 4 * 1024 * 1024


class DecodeError(Exception):
    pass


class Image:
    """An opened image: width, height and a generator of canonical rows.

    A canonical row is width*3 bytes in B, G, R order (the order of a 24-bit
    BMP), top row first. Formats stored differently are converted per row.
    """

    def __init__(self, path):
        self.path = path
        self.file = open(path, "rb")
        magic = self.file.read(2)
        if magic == b"BM":
            self._open_bmp()
        elif magic == b"P6":
            self._open_ppm()
        else:
            raise DecodeError("%s: neither a BMP nor a binary PPM file" % path)

    # ---- BMP ---------------------------------------------------------------

    def _open_bmp(self):
        f = self.file
        file_size = os.fstat(f.fileno()).st_size
        head = f.read(12 + 40)  # rest of the file header + the 40-byte core
        if len(head) < 52:
            raise DecodeError("%s: truncated BMP header" % self.path)
        (_size, _r1, _r2, off_bits, info_size, width, height, planes, bpp,
         compression, _image_size, _xppm, _yppm, colors_used,
         _colors_important) = struct.unpack("<IHHIIiiHHIIiiII", head)
        if info_size < 40:
            raise DecodeError("%s: BMP info header of %d bytes is not supported"
                              % (self.path, info_size))
        if width <= 0 or height == 0:
            raise DecodeError("%s: bad BMP size %dx%d" % (self.path, width, height))
        self.width = width
        self.height = abs(height)
        self.bottom_up = height > 0

        self.palette = None
        if bpp in (1, 2, 4, 8) and compression == 0:
            # Indexes into the colour table: each stored byte becomes 8 / bpp
            # bytes of indexes, then three translations give B, G and R.
            f.seek(14 + info_size)
            count = colors_used or 1 << bpp
            table = f.read(4 * count) + bytes(4 * 256)
            self.palette = tuple(bytes(table[4 * i + c] for i in range(256)) for c in range(3))
            per_byte = 8 // bpp
            self.indexes = [bytes((byte >> (8 - bpp * (k + 1))) & ((1 << bpp) - 1)
                                  for k in range(per_byte)) for byte in range(256)]
            self.pixel_size = 1
            self.byte_pos = None
            self.row_bytes = (width * bpp + 7) // 8
        elif bpp == 24 and compression == 0:
            self.pixel_size = 3
            self.byte_pos = None  # already B, G, R
        elif bpp == 32 and compression == 0:
            self.pixel_size = 4
            self.byte_pos = (0, 1, 2)  # B, G, R, unused
        elif bpp == 32 and compression in (3, 6):  # BITFIELDS, ALPHABITFIELDS
            self.pixel_size = 4
            if info_size >= 52:
                f.seek(14 + 40)  # masks inside a V2/V3/V4/V5 header
            else:
                f.seek(14 + info_size)  # masks right after a 40-byte header
            masks = struct.unpack("<III", f.read(12))
            self.byte_pos = tuple(self._mask_byte(m) for m in masks[::-1])
        else:
            raise DecodeError("%s: BMP with %d bits per pixel, compression %d "
                              "is not supported" % (self.path, bpp, compression))

        if self.palette is None:
            self.row_bytes = width * self.pixel_size
        self.stride = (self.row_bytes + 3) & ~3
        self.data_start = off_bits
        if off_bits < 14 + info_size:
            raise DecodeError("%s: pixel data offset %d overlaps the header"
                              % (self.path, off_bits))
        needed = off_bits + self.stride * (self.height - 1) + self.row_bytes
        if file_size < needed:
            raise DecodeError("%s: truncated: %d bytes, pixel data needs %d"
                              % (self.path, file_size, needed))
        del planes

    def _mask_byte(self, mask):
        """Byte position (0..3) selected by a one-byte colour mask."""
        for pos in range(4):
            if mask == 0xFF << (8 * pos):
                return pos
        raise DecodeError("%s: colour mask %08X is not one whole byte"
                          % (self.path, mask))

    # ---- PPM ---------------------------------------------------------------

    def _ppm_token(self):
        """Next header token of a PPM file; skips white space and comments."""
        f = self.file
        c = f.read(1)
        while c:
            if c == b"#":
                while c and c not in b"\r\n":
                    c = f.read(1)
            elif c.isspace():
                c = f.read(1)
            else:
                break
        token = b""
        while c and not c.isspace() and c != b"#":
            token += c
            c = f.read(1)
        # The single white-space byte after the last token has been consumed,
        # which is exactly where the raster of a P6 file begins.
        if not token.isdigit():
            raise DecodeError("%s: bad PPM header" % self.path)
        return int(token)

    def _open_ppm(self):
        self.width = self._ppm_token()
        self.height = self._ppm_token()
        maxval = self._ppm_token()
        if maxval != 255:
            raise DecodeError("%s: PPM with maximum value %d is not supported"
                              % (self.path, maxval))
        self.pixel_size = 3
        self.byte_pos = (2, 1, 0)  # stored R, G, B
        self.row_bytes = self.stride = self.width * 3
        self.data_start = self.file.tell()
        self.bottom_up = False
        file_size = os.fstat(self.file.fileno()).st_size
        if file_size < self.data_start + self.stride * self.height:
            raise DecodeError("%s: truncated PPM" % self.path)

    # ---- rows --------------------------------------------------------------

    def _canonical(self, row):
        """Convert one stored row into B, G, R bytes."""
        if self.palette is not None:
            if len(self.indexes[0]) > 1:
                row = b"".join(self.indexes[byte] for byte in row)[:self.width]
            out = bytearray(self.width * 3)
            for c in range(3):
                out[c::3] = row.translate(self.palette[c])
            return bytes(out)
        if self.byte_pos is None:
            return row
        n = self.pixel_size
        b, g, r = self.byte_pos
        out = bytearray(self.width * 3)
        # Extended-slice copies run in C, so this stays fast on long rows.
        out[0::3] = row[b::n]
        out[1::3] = row[g::n]
        out[2::3] = row[r::n]
        return bytes(out)

    def rows(self):
        """Yield canonical rows, top row first, reading a block at a time."""
        f = self.file
        per_block = max(1, BLOCK_BYTES // self.stride)
        if not self.bottom_up:
            done = 0
            f.seek(self.data_start)
            while done < self.height:
                n = min(per_block, self.height - done)
                block = f.read(self.stride * n)
                for i in range(n):
                    start = i * self.stride
                    yield self._canonical(block[start:start + self.row_bytes])
                done += n
        else:
            # The top row is stored last: read blocks from the end of the
            # pixel data backwards and hand out their rows in reverse.
            end = self.height  # rows [0, end) in stored order remain
            while end > 0:
                first = max(0, end - per_block)
                f.seek(self.data_start + first * self.stride)
                # The very last stored row may lack its padding bytes.
                block = f.read(self.stride * (end - first))
                for i in range(end - first - 1, -1, -1):
                    start = i * self.stride
                    yield self._canonical(block[start:start + self.row_bytes])
                end = first


def first_difference(row_a, row_b):
    """Index of the first pixel that differs between two canonical rows."""
    for x in range(0, len(row_a), 3):
        if row_a[x:x + 3] != row_b[x:x + 3]:
            return x // 3
    return None


def rgb(row, x):
    b, g, r = row[3 * x:3 * x + 3]
    return "(%d,%d,%d)" % (r, g, b)


def compare(path_a, path_b):
    """Return None if identical, else a one-line reason."""
    a = Image(path_a)
    b = Image(path_b)
    if (a.width, a.height) != (b.width, b.height):
        return "size differs: %dx%d vs %dx%d" % (a.width, a.height,
                                                 b.width, b.height)
    first = None
    bad_rows = 0
    for y, (row_a, row_b) in enumerate(zip(a.rows(), b.rows())):
        if row_a != row_b:
            bad_rows += 1
            if first is None:
                x = first_difference(row_a, row_b)
                first = "first at x=%d y=%d (top row 0): RGB %s vs %s" % (
                    x, y, rgb(row_a, x), rgb(row_b, x))
    if first is not None:
        return "pixels differ in %d of %d rows; %s" % (bad_rows, a.height, first)
    return None


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: compare_pixels.py A B\n")
        return 2
    try:
        reason = compare(argv[0], argv[1])
    except (OSError, DecodeError, struct.error) as e:
        reason = "cannot decode: %s" % e
    if reason is None:
        print("identical")
        return 0
    print(reason)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
