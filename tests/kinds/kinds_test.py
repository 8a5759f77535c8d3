#!/usr/bin/env python3
"""bmpresize on every kind of BMP, judged by independent decoders.

    kinds_test.py TOOL DATA_DIR WORK_DIR

Each file of the public BMP Suite, and each file that common programs
(ImageMagick, GraphicsMagick, Pillow, ffmpeg, netpbm; those installed) write
by default, is enlarged by the tool at factors 2 and 3. An accepted file
must decode, with Pillow or else ImageMagick, to its input's picture with
every pixel repeated factor times each way, and keep its kind: the same
bytes before the pixels, but for the fields that hold sizes. Compressed,
64-bit and damaged files must be refused with 5 and leave no output.
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

# Refused, by the format's facts: compressed (RLE4, RLE8, Huffman 1D, RLE24,
# JPEG, PNG), 64 bits per pixel, or a header that no kind of BMP has (bad
# bit count, header size, planes, colour table, width, or shorter than it
# declares). The other files of b/ are damaged only in fields that an
# enlargement never reads (biSizeImage, bfSize, resolutions, palette indexes,
# colour masks) and are enlarged as they are.
REFUSED = {
    "g/pal4rle.bmp", "g/pal8rle.bmp", "q/pal1huffmsb.bmp", "q/pal4rlecut.bmp",
    "q/pal4rletrns.bmp", "q/pal8rlecut.bmp", "q/pal8rletrns.bmp", "q/rgb24jpeg.bmp",
    "q/rgb24png.bmp", "q/rgb24rle24.bmp", "q/rgba64.bmp", "b/badbitcount.bmp",
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


def decode(path):
    """(width, height, RGBA bytes) as Pillow, else ImageMagick, reads the
    file, or None where neither does."""
    with open(path, "rb") as f:
        copy = readable_copy(f.read())
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


def enlarged(width, height, pixels, factor):
    rows = []
    for y in range(height):
        row = b"".join(pixels[4 * x:4 * x + 4] * factor for x in range(width * y, width * y + width))
        rows.append(row * factor)
    return b"".join(rows)


def check(path, want_refused):
    """'' when the tool does right by `path`, else what is wrong."""
    problems = []
    for factor in (2, 3):
        out = os.path.join(WORK, "out.bmp")
        if os.path.exists(out):
            os.remove(out)
        run = subprocess.run([TOOL, path, out, str(factor)], capture_output=True, text=True)
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
        if masked_prefix(data_in, prefix) != masked_prefix(data_out, prefix):
            return f"factor {factor}: the bytes before the pixels differ"
        source, result = decode(path), decode(out)
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
             "src2.png": source.convert("1")}
    for name, image in files.items():
        image.save(os.path.join(folder, name))
    for name, image in {"pillow-rgba": alpha, "pillow-l": source.convert("L"),
                        "pillow-p": source.quantize(200), "pillow-1": source.convert("1")}.items():
        image.save(os.path.join(folder, name + ".bmp"))
    commands = []
    if MAGICK:
        commands += [[MAGICK, "src.png", "im-v5.bmp"], [MAGICK, "src-alpha.png", "im-alpha.bmp"],
                     [MAGICK, "src16.png", "im-16.bmp"]]
    if shutil.which("gm"):
        commands += [["gm", "convert", "src-alpha.png", "gm-alpha.bmp"],
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
