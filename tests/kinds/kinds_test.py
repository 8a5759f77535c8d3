#!/usr/bin/env python3
"""bmpresize on every kind of BMP, judged by independent decoders.

    kinds_test.py TOOL DATA_DIR WORK_DIR

Each file of the public BMP Suite, and each file that common programs
(ImageMagick, GraphicsMagick, Pillow, ffmpeg, netpbm; those installed) write
by default, is enlarged by the tool at factors 2 and 3. An accepted file
must decode, with Pillow or else ImageMagick, to its input's picture with
every pixel repeated factor times each way, and keep its kind: the same
bytes before the pixels, but for the fields that hold sizes. Run-length
encoded files are decoded with GraphicsMagick (Pillow's decoder here
misreads deltas and odd RLE4 runs), else by this script's own reading of
the codes, and enlarged uncompressed too (--uncompressed). Otherwise
compressed, 64-bit and damaged files must be refused with 5 and leave no
output.
Exits 77 (skipped) without Pillow.
"""
import os
import shutil
import struct
import subprocess
import sys

try:
    from PIL import Image
except ImportError:
    print("Pillow is not installed: skipped")
    sys.exit(77)

TOOL, DATA, WORK = sys.argv[1:4]
os.makedirs(WORK, exist_ok=True)
MAGICK = next((p for p in ("/usr/bin/magick", "/usr/bin/convert") if os.path.exists(p)), None)

# Refused, by the format's facts: compressed otherwise (Huffman 1D, JPEG,
# PNG), 64 bits per pixel, a header that no kind of BMP has (bad bit count,
# header size, planes, colour table, width, or shorter than it declares), or
# run-length codes that draw outside the image or rows stored top-down. The
# other files of b/ are damaged only in fields that an enlargement never
# reads (biSizeImage, bfSize, resolutions, palette indexes, colour masks)
# and are enlarged as they are.
REFUSED = {
    "q/pal1huffmsb.bmp", "q/rgb24jpeg.bmp",
    "q/rgb24png.bmp", "q/rgba64.bmp", "b/badbitcount.bmp",
    "b/badheadersize.bmp", "b/badpalettesize.bmp", "b/badplanes.bmp", "b/badrle.bmp",
    "b/badrle4.bmp", "b/badrle4bis.bmp", "b/badrle4ter.bmp", "b/badrlebis.bmp",
    "b/badrleter.bmp", "b/badwidth.bmp", "b/reallybig.bmp", "b/rletopdown.bmp",
    "b/shortfile.bmp", "x/ba-bm.bmp",
}


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def size_fields(data):
    """The byte ranges of the fields an enlargement rewrites: bfSize, the
    width and height (16-bit in the 12-byte header), biSizeImage (headers of
    40 bytes and more) and a V5 profile's offset."""
    info = u32(data, 14)
    fields = [(2, 6), (18, 22) if info == 12 else (18, 26)]
    if info >= 40:
        fields.append((34, 38))
    if info == 124:
        fields.append((126, 130))
    return fields


def masked_prefix(data, length):
    prefix = bytearray(data[:length])
    for start, end in size_fields(data):
        prefix[start:end] = bytes(end - start)
    return bytes(prefix)


def readable_copy(data):
    """A copy that the decoders read: BI_ALPHABITFIELDS as BI_BITFIELDS (the
    alpha mask then unread), a colour count over 256 cut to 256."""
    data = bytearray(data)
    if u32(data, 14) >= 40 and u32(data, 30) == 6:
        struct.pack_into("<I", data, 30, 3)
    if u32(data, 14) >= 40 and u16(data, 28) <= 8 and u32(data, 46) > 256:
        struct.pack_into("<I", data, 46, 256)
    return bytes(data)


def encoded_bits(data):
    """The depth of run-length encoded pixels (RLE8, RLE4, OS/2's RLE24), or 0."""
    info, compression = u32(data, 14), u32(data, 30)
    if info < 40 or info == 16:
        return 0
    return {1: 8, 2: 4, 4: 24 if info == 64 else 0}.get(compression, 0)


def decode_codes(data):
    """(width, height, RGBA bytes) of run-length encoded pixels, read as the
    format describes its codes: palette colours, undrawn pixels (0, 0, 0, 0)."""
    bits, width, height = encoded_bits(data), u32(data, 18), u32(data, 22)
    table_at, entries = 14 + u32(data, 14), 2 ** bits if bits < 24 else 0
    palette = [bytes((data[table_at + 4 * i + 2], data[table_at + 4 * i + 1],
                      data[table_at + 4 * i], 255)) for i in range(entries)]
    grid = [[bytes(4)] * width for _ in range(height)]
    colour = (lambda v: bytes((v[2], v[1], v[0], 255))) if bits == 24 else (lambda v: palette[v])
    at, end = u32(data, 10), u32(data, 10) + (u32(data, 34) or len(data))
    x = y = 0
    while at + 1 < min(end, len(data)):
        count, second = data[at], data[at + 1]
        at += 2
        if count:
            value = data[at - 1:at + 2] if bits == 24 else second
            at += 2 if bits == 24 else 0
            for i in range(count):
                pixel = value if bits != 4 else (second >> 4 if i % 2 == 0 else second & 15)
                if x < width:  # encoders that write the padding as pixels go past it
                    grid[y][x] = colour(pixel)
                x += 1
        elif second == 0:
            x, y = 0, y + 1
        elif second == 1:
            break
        elif second == 2:
            x, y, at = x + data[at], y + data[at + 1], at + 2
        else:
            stored = (second * bits + 7) // 8
            for i in range(second):
                pixel = (data[at + 3 * i:at + 3 * i + 3] if bits == 24 else data[at + i] if bits == 8
                         else data[at + i // 2] >> 4 if i % 2 == 0 else data[at + i // 2] & 15)
                if x < width:
                    grid[y][x] = colour(pixel)
                x += 1
            at += stored + stored % 2
    return width, height, b"".join(b"".join(row) for row in reversed(grid))


def decode_with_gm(path):
    size = subprocess.run(["gm", "identify", "-format", "%w %h", path], capture_output=True)
    pixels = subprocess.run(["gm", "convert", path, "-depth", "8", "rgba:-"], capture_output=True)
    if size.returncode != 0 or pixels.returncode != 0 or b"runlength" in pixels.stderr:
        return None
    width, height = map(int, size.stdout.split())
    return width, height, pixels.stdout


def decode(path):
    """(width, height, RGBA bytes) as Pillow, else ImageMagick, reads the
    file, or None where neither does; run-length encoded files as
    GraphicsMagick, else decode_codes, reads them."""
    with open(path, "rb") as f:
        data = f.read()
    if encoded_bits(data):
        decoded = decode_with_gm(path) if shutil.which("gm") else None
        return decoded or decode_codes(data)
    copy = readable_copy(data)
    copy_path = os.path.join(WORK, "readable-" + os.path.basename(path))
    with open(copy_path, "wb") as f:
        f.write(copy)
    try:
        with Image.open(copy_path) as image:
            rgba = image.convert("RGBA")
            return rgba.width, rgba.height, rgba.tobytes()
    except Exception:  # Pillow refuses some kinds: ImageMagick then
        pass
    if MAGICK is None:
        return None
    size = subprocess.run([MAGICK, copy_path, "-format", "%w %h", "info:"], capture_output=True)
    pixels = subprocess.run([MAGICK, copy_path, "-depth", "8", "rgba:-"], capture_output=True)
    if size.returncode != 0 or pixels.returncode != 0:
        return None
    width, height = map(int, size.stdout.split())
    return width, height, pixels.stdout


def palette_colour_zero(data):
    """The first colour of the table as RGBA (black where there is none)."""
    if encoded_bits(data) == 24:
        return bytes((0, 0, 0, 255))
    at = 14 + u32(data, 14)
    return bytes((data[at + 2], data[at + 1], data[at], 255))


def enlarged(width, height, pixels, factor):
    rows = []
    for y in range(height):
        row = b"".join(pixels[4 * x:4 * x + 4] * factor for x in range(width * y, width * y + width))
        rows.append(row * factor)
    return b"".join(rows)


def check(path, want_refused):
    """'' when the tool does right by `path`, else what is wrong."""
    problems = []
    with open(path, "rb") as f:
        encoded = encoded_bits(f.read()) != 0
    for factor, flags in ((2, []), (3, [])) + (((2, ["--uncompressed"]),) if encoded else ()):
        out = os.path.join(WORK, "out.bmp")
        if os.path.exists(out):
            os.remove(out)
        run = subprocess.run([TOOL, *flags, path, out, str(factor)], capture_output=True, text=True)
        if want_refused:
            if run.returncode != 5 or os.path.exists(out):
                return f"exit {run.returncode}, want 5 and no output"
            return ""
        if run.returncode != 0:
            return f"exit {run.returncode}: {run.stderr.strip()}"
        with open(path, "rb") as f:
            data_in = f.read()
        with open(out, "rb") as f:
            data_out = f.read()
        prefix = u32(data_in, 10)
        if flags and (encoded_bits(data_out) or u32(data_out, 30) != 0):
            return f"factor {factor} {flags}: the output is still compressed"
        if masked_prefix(data_in, prefix)[:30] + masked_prefix(data_in, prefix)[34:] != (
                masked_prefix(data_out, prefix)[:30] + masked_prefix(data_out, prefix)[34:]) or (
                not flags and data_in[30:34] != data_out[30:34]):
            return f"factor {factor}: the bytes before the pixels differ"
        source, result = decode(path), decode(out)
        if flags and source is not None:
            # Undrawn pixels become colour 0 when written uncompressed.
            background = decode_codes(data_in)[2]
            zero = palette_colour_zero(data_in)
            pixels = bytearray(source[2])
            for i in range(0, len(pixels), 4):
                if background[i:i + 4] == bytes(4):
                    pixels[i:i + 4] = zero
            source = (source[0], source[1], bytes(pixels))
        if source is None or result is None:
            problems.append("no decoder reads it: its kind checked, not its pixels")
            continue
        width, height, pixels = source
        if result[:2] != (width * factor, height * factor):
            return f"factor {factor}: {result[:2]}, want {(width * factor, height * factor)}"
        if result[2] != enlarged(width, height, pixels, factor):
            return f"factor {factor}: the pixels differ"
    return "; ".join(sorted(set(problems))) if problems else ""


def written_by_others():
    """Files that other programs write by default (those installed)."""
    folder = os.path.join(WORK, "others")
    os.makedirs(folder, exist_ok=True)
    source = Image.new("RGB", (37, 23))
    source.putdata([(x * 7 % 256, y * 11 % 256, x * y % 256) for y in range(23) for x in range(37)])
    alpha = source.convert("RGBA")
    alpha.putalpha(Image.linear_gradient("L").resize((37, 23)))
    files = {"src.png": source, "src-alpha.png": alpha, "src16.png": source.quantize(16),
             "src200.png": source.quantize(200), "src2.png": source.convert("1")}
    for name, image in files.items():
        image.save(os.path.join(folder, name))
    for name, image in {"pillow-rgba": alpha, "pillow-l": source.convert("L"),
                        "pillow-p": source.quantize(200), "pillow-1": source.convert("1")}.items():
        image.save(os.path.join(folder, name + ".bmp"))
    commands = []
    if MAGICK:
        commands += [[MAGICK, "src.png", "im-v5.bmp"], [MAGICK, "src-alpha.png", "im-alpha.bmp"],
                     [MAGICK, "src16.png", "im-16.bmp"]]
    if MAGICK:
        commands += [[MAGICK, "src200.png", "-compress", "RLE", "im-rle8.bmp"]]
    if shutil.which("gm"):
        commands += [["gm", "convert", "src200.png", "gm-rle8.bmp"],
                     ["gm", "convert", "src-alpha.png", "gm-alpha.bmp"],
                     ["gm", "convert", "src16.png", "gm-16.bmp"],
                     ["gm", "convert", "src2.png", "gm-2.bmp"]]
    if shutil.which("ffmpeg"):
        commands += [["ffmpeg", "-v", "error", "-y", "-i", "src.png", "-pix_fmt", kind,
                      f"ffmpeg-{kind}.bmp"] for kind in ("bgra", "rgb565", "rgb555", "pal8", "monob")]
    if shutil.which("ppmtobmp") and shutil.which("pngtopnm"):
        commands += [["sh", "-c", f"pngtopnm {src} | ppmtobmp {flags} > {out}"]
                     for src, flags, out in (("src16.png", "", "netpbm-4.bmp"),
                                             ("src2.png", "", "netpbm-1.bmp"),
                                             ("src16.png", "-bpp 8", "netpbm-8.bmp"),
                                             ("src16.png", "-os2", "netpbm-os2.bmp"))]
    for command in commands:
        subprocess.run(command, cwd=folder, check=True, capture_output=True)
    return sorted(os.path.join(folder, name) for name in os.listdir(folder) if name.endswith(".bmp"))


def main():
    suite = sorted(os.path.relpath(os.path.join(root, name), DATA)
                   for root, _, names in os.walk(DATA) for name in names if name.endswith(".bmp"))
    failures = 0
    for name in suite + written_by_others():
        verdict = check(os.path.join(DATA, name), name in REFUSED)
        bad = verdict != "" and not verdict.startswith("no decoder")
        failures += bad
        print(f"{'FAILED' if bad else 'ok':6} {os.path.basename(name)} {verdict}")
    print(f"{failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
