"""The Python package bmpresizer (python/) on the built engine.

Run by CTest as `python_package`, with PYTHONPATH at python/ and
BMPRESIZE_LIBRARY at the built engine; BMPRESIZE_TOOL (the built tool) and
BMPRESIZER_VERSION (the project's) when known. By hand:

    PYTHONPATH=python BMPRESIZE_LIBRARY=build/src/libbmpresize.so.1 \
        python3 -m pytest tests/python

Images of every kind come from the programs that write BMPs (those
installed) and are judged by Pillow and numpy, not by the engine.
"""

import errno
import io
import os
import pathlib
import pickle
import re
import shutil
import signal
import stat
import struct
import subprocess
import sys
import textwrap
import time

import pytest

import bmpresizer

# A 2 x 2 image, 24 bits per pixel, bottom-up, written by hand from the BMP
# format: rows of 6 bytes padded to 8 (blue, green, red per pixel).
SMALL = bytes.fromhex(
    "424d" "46000000" "0000" "0000" "36000000"  # "BM", 70 bytes, pixels at 54
    "28000000" "02000000" "02000000" "0100" "1800"  # 40-byte header, 2 x 2, 1 plane, 24 bits
    "00000000" "10000000" "130b0000" "130b0000" "00000000" "00000000"  # BI_RGB, 16 bytes
    "010203" "040506" "0000"  # bottom row: A B
    "0a0b0c" "0d0e0f" "0000"  # top row:    C D
)
# The same enlarged twice, written by hand: 4 x 4, rows of 12 bytes, each
# pixel twice across and each row twice down, bottom-up as before.
SMALL_X2 = bytes.fromhex(
    "424d" "66000000" "0000" "0000" "36000000"  # 102 bytes
    "28000000" "04000000" "04000000" "0100" "1800"
    "00000000" "30000000" "130b0000" "130b0000" "00000000" "00000000"  # 48 bytes of pixels
    "010203" "010203" "040506" "040506"
    "010203" "010203" "040506" "040506"
    "0a0b0c" "0a0b0c" "0d0e0f" "0d0e0f"
    "0a0b0c" "0a0b0c" "0d0e0f" "0d0e0f"
)
# SMALL 3 times across and 2 down, by hand: 6 x 4, rows of 18 bytes padded
# to 20.
SMALL_3X2 = bytes.fromhex(
    "424d" "86000000" "0000" "0000" "36000000"  # 134 bytes
    "28000000" "06000000" "04000000" "0100" "1800"
    "00000000" "50000000" "130b0000" "130b0000" "00000000" "00000000"  # 80 bytes of pixels
    "010203" "010203" "010203" "040506" "040506" "040506" "0000"
    "010203" "010203" "010203" "040506" "040506" "040506" "0000"
    "0a0b0c" "0a0b0c" "0a0b0c" "0d0e0f" "0d0e0f" "0d0e0f" "0000"
    "0a0b0c" "0a0b0c" "0a0b0c" "0d0e0f" "0d0e0f" "0d0e0f" "0000"
)
TOOL = os.environ.get("BMPRESIZE_TOOL")
# Where the system allows, names that are not UTF-8, as bytes pass them.
ODD = os.fsdecode(b" \xff") if sys.platform.startswith("linux") else " \u00ff"


def run_module(*args, **options):
    return subprocess.run([sys.executable, "-m", "bmpresizer", *args], capture_output=True, **options)


class Place(os.PathLike):
    """An os.PathLike of the caller's own, neither str nor pathlib."""

    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


class Pipe(io.BytesIO):
    """A stream that moves at most 1000 bytes a call, as a pipe may, and
    seeks only when told it can."""

    def __init__(self, data=b"", seeks=False):
        super().__init__(data)
        self.seeks = seeks

    def seekable(self):
        return self.seeks

    def readinto(self, buffer):
        return super().readinto(memoryview(buffer)[:1000])

    def write(self, data):
        return super().write(memoryview(data)[:1000])


def through(form, data, factor, folder):
    """`data` enlarged by `factor` through one form of bmpresizer's calls."""
    src, dst, out = folder / ("in%s.bmp" % ODD), folder / ("out%s.bmp" % ODD), Pipe()
    src.write_bytes(data)
    ahead = Pipe(b"ahead" + data, seeks=True)  # read from where it stands
    ahead.seek(5)
    with open(src, "rb") as opened:
        returned = {
            "str": lambda: bmpresizer.enlarge(str(src), str(dst), factor),
            "bytes paths": lambda: bmpresizer.enlarge(os.fsencode(src), os.fsencode(dst), factor),
            "PathLike": lambda: bmpresizer.enlarge(src, Place(str(dst)), factor),
            "seekable object": lambda: bmpresizer.enlarge(ahead, out, factor),
            "pipe to path": lambda: bmpresizer.enlarge(Pipe(data), str(dst), factor),
            "file to path": lambda: bmpresizer.enlarge(opened, dst, factor),
            "path to pipe": lambda: bmpresizer.enlarge(str(src), out, factor),
            "enlarge_bytes": lambda: bmpresizer.enlarge_bytes(memoryview(bytearray(data)), factor),
            "bytes": lambda: bmpresizer.enlarge_bytes(data, factor),
            "strided": lambda: bmpresizer.enlarge_bytes(  # every other byte
                memoryview(bytes(b for x in data for b in (x, 0)))[::2], factor),
        }[form]()
    if returned is not None:
        return returned
    return out.getvalue() or dst.read_bytes()


FORMS = ["str", "bytes paths", "PathLike", "seekable object", "pipe to path", "file to path",
         "path to pipe", "enlarge_bytes"]


@pytest.mark.parametrize("form", FORMS + ["bytes", "strided"])
@pytest.mark.parametrize("factor, expected", [(2, SMALL_X2), ((3, 2), SMALL_3X2), (1, SMALL)],
                         ids=["2", "3x2", "1"])
def test_enlarges_by_hand(tmp_path, capfd, form, factor, expected):
    assert through(form, SMALL, factor, tmp_path) == expected
    assert capfd.readouterr() == ("", "")


# Programs that write BMPs, and what they write: {name: (program, shell
# command in a folder of src.png, src-alpha.png, src16.png and src2.png)};
# Pillow's from the image of its mode.
MAGICK = "/usr/bin/magick" if os.path.exists("/usr/bin/magick") else "/usr/bin/convert"
PRODUCERS = {
    "magick-v5": (MAGICK, MAGICK + " src.png out.bmp"),
    "magick-alpha": (MAGICK, MAGICK + " src-alpha.png out.bmp"),
    "magick-16": (MAGICK, MAGICK + " src16.png out.bmp"),
    "gm-alpha": ("gm", "gm convert src-alpha.png out.bmp"),
    "gm-16": ("gm", "gm convert src16.png out.bmp"),
    "gm-2": ("gm", "gm convert src2.png out.bmp"),
    # 256 colours or fewer: RLE8, as both Magicks write them by default.
    "gm-rle8": ("gm", "gm convert src200.png out.bmp"),
    "magick-rle8": (MAGICK, MAGICK + " src200.png -compress RLE out.bmp"),
    "netpbm-1": ("ppmtobmp", "pngtopnm src2.png | ppmtobmp > out.bmp"),
    "netpbm-4": ("ppmtobmp", "pngtopnm src16.png | ppmtobmp > out.bmp"),
    "netpbm-8": ("ppmtobmp", "pngtopnm src16.png | ppmtobmp -bpp 8 > out.bmp"),
    "netpbm-os2": ("ppmtobmp", "pngtopnm src16.png | ppmtobmp -os2 > out.bmp"),
    **{"ffmpeg-" + kind: ("ffmpeg", "ffmpeg -v error -y -i src.png -pix_fmt %s out.bmp" % kind)
       for kind in ("bgra", "rgb565", "rgb555", "pal8", "monob")},
    **{"pillow-" + mode: (None, mode) for mode in ("RGB", "RGBA", "L", "P", "1")},
}


@pytest.fixture(scope="session")
def produce(tmp_path_factory):
    """produce(name) -> the bytes that producer writes (skips when the
    program is not installed)."""
    image = pytest.importorskip("PIL.Image")
    folder = tmp_path_factory.mktemp("producers")
    source = image.new("RGB", (37, 23))
    source.putdata([(x * 7 % 256, y * 11 % 256, x * y % 256) for y in range(23) for x in range(37)])
    alpha = source.convert("RGBA")
    alpha.putalpha(image.linear_gradient("L").resize((37, 23)))
    for name, picture in {"src.png": source, "src-alpha.png": alpha, "src16.png": source.quantize(16),
                          "src200.png": source.quantize(200), "src2.png": source.convert("1")}.items():
        picture.save(str(folder / name))
    made = {}

    def make(name):
        program, command = PRODUCERS[name]
        if program is None:
            out = io.BytesIO()
            (source.quantize(200) if command == "P" else alpha.convert(command)).save(out, "BMP")
            return out.getvalue()
        if not shutil.which(program):
            pytest.skip("%s is not installed" % program)
        if name not in made:
            subprocess.run(command, shell=True, cwd=str(folder), check=True, capture_output=True)
            made[name] = (folder / "out.bmp").read_bytes()
        return made[name]

    return make


def decoded(data):
    """The picture in a BMP as Pillow reads it: an array of RGBA rows. Pillow
    takes BI_ALPHABITFIELDS as BI_BITFIELDS (the alpha mask then unread)."""
    from PIL import Image
    import numpy
    data = bytearray(data)
    if struct.unpack_from("<I", data, 14)[0] >= 40 and struct.unpack_from("<I", data, 30)[0] == 6:
        struct.pack_into("<I", data, 30, 3)
    with Image.open(io.BytesIO(bytes(data))) as image:
        return numpy.asarray(image.convert("RGBA"))


def masked_headers(data):
    """The bytes before the pixels but for the fields that hold sizes:
    bfSize, width and height (16-bit in the 12-byte header), biSizeImage
    and a V5 profile's offset."""
    info, start = struct.unpack_from("<I", data, 14)[0], struct.unpack_from("<I", data, 10)[0]
    head = bytearray(data[:start])
    sizes = [(2, 6), (18, 22) if info == 12 else (18, 26)]
    sizes += [(34, 38)] if info >= 40 else []
    sizes += [(126, 130)] if info == 124 else []
    for begin, end in sizes:
        head[begin:end] = bytes(end - begin)
    return bytes(head)


@pytest.mark.parametrize("factor", [2, (3, 2)], ids=["2", "3x2"])
@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("producer", PRODUCERS)
def test_every_kind(tmp_path, produce, producer, form, factor):
    numpy = pytest.importorskip("numpy")
    data = produce(producer)
    across, down = (factor, factor) if isinstance(factor, int) else factor
    output = through(form, data, factor, tmp_path)
    want = decoded(data).repeat(down, axis=0).repeat(across, axis=1)
    numpy.testing.assert_array_equal(decoded(output), want)
    assert masked_headers(output) == masked_headers(data)
    if "rle8" in producer:
        # Kept encoded, or written uncompressed where asked.
        plain = bmpresizer.enlarge_bytes(data, factor, uncompressed=True)
        assert struct.unpack_from("<I", output, 30)[0] == 1
        assert struct.unpack_from("<I", plain, 30)[0] == 0
        numpy.testing.assert_array_equal(decoded(plain), want)
        # Encoded rows tell their enlargement's length only whole.
        assert bmpresizer.describe(data, factor).output_bytes == len(output)
        assert bmpresizer.describe(data[:bmpresizer.HEADER_BYTES], factor).output_bytes == 0
        assert bmpresizer.describe(data[:bmpresizer.HEADER_BYTES], factor,
                                   uncompressed=True).output_bytes == len(plain)


# Each failure: (src, dst, factor, what the error is: code, reason, the
# built-in exception it also is, errno; the forms it is reached through).
IN, OUT, ALL = ("paths", "path to object"), ("paths", "object to path"), (
    "paths", "object to path", "path to object", "bytes")
ERRORS = [
    ("missing%s.bmp" % ODD, "out.bmp", 2, 3, "input_open", FileNotFoundError, errno.ENOENT, IN),
    (".", "out.bmp", 2, 3, "input_is_directory", IsADirectoryError, errno.EISDIR, IN),
    ("in\0.bmp", "out.bmp", 2, 3, "input_path_invalid", ValueError, None, IN),
    ("in.bmp", "no%s/out.bmp" % ODD, 2, 4, "output_open", FileNotFoundError, errno.ENOENT, OUT),
    # (A file object read into its own path is read from the old file,
    # which the new one replaces whole: nothing to refuse.)
    ("in.bmp", "in.bmp", 2, 4, "output_is_input", None, None, ("paths",)),
    ("in.bmp", "/dev/full", 2, 7, "write_failed", OSError, errno.ENOSPC, OUT + ("path to object",)),
    ("text.bmp", "out.bmp", 2, 5, "not_bmp", ValueError, None, ALL),
    ("cut.bmp", "out.bmp", 2, 5, "pixels_truncated", ValueError, None, ALL),
    ("in.bmp", "out.bmp", 0, 6, "factor_below_one", ValueError, None, ALL),
    ("in.bmp", "out.bmp", (1, -1), 6, "factor_below_one", ValueError, None, ALL),
    ("in.bmp", "out.bmp", 2**31 - 1, 6, "width_too_large", ValueError, None, ALL),
    # Factors that a C int32 would wrap to 2 are refused, not wrapped.
    ("in.bmp", "out.bmp", 2**32 + 2, 2, "invalid_argument", ValueError, None, ALL),
    ("in.bmp", "out.bmp", (2, 2 - 2**32), 2, "invalid_argument", ValueError, None, ALL),
]


@pytest.mark.parametrize("src, dst, factor, code, reason, also, number, form", [
    case[:-1] + (form,) for case in ERRORS for form in case[-1]],
    ids=lambda value: str(value).replace("\0", "NUL"))
def test_failures(tmp_path, capfd, src, dst, factor, code, reason, also, number, form):
    if dst == "/dev/full" and not os.path.exists(dst):
        pytest.skip("no /dev/full here")
    (tmp_path / "in.bmp").write_bytes(SMALL)
    (tmp_path / "text.bmp").write_bytes(b"not an image at all, not even close\n" * 3)
    (tmp_path / "cut.bmp").write_bytes(SMALL[:-3])  # the last pixel cut
    (tmp_path / "out.bmp").write_bytes(b"kept")
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    src, dst = os.path.join(str(tmp_path), src), os.path.join(str(tmp_path), dst)
    with open(dst, "wb", buffering=0) if dst == "/dev/full" else io.BytesIO() as out:
        with pytest.raises(bmpresizer.BMPResizerError) as raised:
            if form == "paths":
                bmpresizer.enlarge(src, dst, factor)
            elif form == "object to path":
                with open(src, "rb") as stream:
                    bmpresizer.enlarge(stream, dst, factor)
            elif form == "path to object":
                bmpresizer.enlarge(src, out, factor)
            else:
                bmpresizer.enlarge_bytes(pathlib.Path(src).read_bytes(), factor)
        assert out.tell() == 0  # refused before any write, or none went through
    error = raised.value
    assert (error.code, error.reason, error.errno) == (code, reason, number)
    assert isinstance(error, also or bmpresizer.BMPResizerError)
    assert not isinstance(error, OSError) or number is not None
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), str(copy), copy.errno) == (type(error), str(error), error.errno)
    # Nothing printed, every file as it was, none left behind.
    assert capfd.readouterr() == ("", "")
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == before
    if form == "paths" and TOOL and code != 2 and "\0" not in src:  # the tool's message
        across, down = (factor, factor) if isinstance(factor, int) else factor
        tool = subprocess.run([TOOL, src, dst, "%dx%d" % (across, down)], capture_output=True)
        assert (tool.returncode, tool.stderr) == (code, b"bmpresize: " + os.fsencode(str(error)) + b"\n")


@pytest.mark.skipif(os.name == "nt", reason="POSIX modes and links")
@pytest.mark.parametrize("form", ["str", "pipe to path"])
def test_outputs_as_the_engine_puts_them(tmp_path, form):
    """A new output gets the mode of a new file, a replaced one keeps its
    own, and a symbolic link has its target replaced."""
    dst, target = tmp_path / ("out%s.bmp" % ODD), tmp_path / "target.bmp"
    umask = os.umask(0o027)
    try:
        assert through(form, SMALL, 2, tmp_path) == SMALL_X2
    finally:
        os.umask(umask)
    assert stat.S_IMODE(dst.stat().st_mode) == 0o640
    dst.chmod(0o604)
    assert through(form, SMALL, (3, 2), tmp_path) == SMALL_3X2
    assert stat.S_IMODE(dst.stat().st_mode) == 0o604
    dst.rename(target)
    dst.symlink_to(target.name)
    assert through(form, SMALL, 2, tmp_path) == SMALL_X2
    assert dst.is_symlink() and target.read_bytes() == SMALL_X2
    assert sorted(os.listdir(tmp_path)) == sorted(["in%s.bmp" % ODD, "out%s.bmp" % ODD, "target.bmp"])


@pytest.mark.parametrize("stop, raised", [
    (lambda written, total: False, bmpresizer.BMPResizerError),
    (lambda written, total: 1 / 0, ZeroDivisionError),
])
@pytest.mark.parametrize("form", ["paths", "pipe to path", "bytes"])
def test_progress_stops(tmp_path, capfd, form, stop, raised):
    src, dst = tmp_path / "in.bmp", tmp_path / "out.bmp"
    src.write_bytes(SMALL)
    dst.write_bytes(b"kept")
    seen = []
    run = {"paths": lambda p: bmpresizer.enlarge(src, dst, 2, progress=p),
           "pipe to path": lambda p: bmpresizer.enlarge(Pipe(SMALL), dst, 2, progress=p),
           "bytes": lambda p: bmpresizer.enlarge_bytes(SMALL, 2, progress=p)}[form]
    # No unfinished output shows while the call runs, where the system allows.
    run(lambda written, total: seen.append((written, total, sorted(os.listdir(tmp_path)))))
    assert seen[-1] == (len(SMALL_X2), len(SMALL_X2), ["in.bmp", "out.bmp"])
    dst.write_bytes(b"kept")
    with pytest.raises(raised) as error:
        run(stop)
    assert raised is not bmpresizer.BMPResizerError or error.value.reason == "cancelled"
    assert capfd.readouterr() == ("", "")  # nothing escaped into ctypes
    assert sorted(os.listdir(tmp_path)) == ["in.bmp", "out.bmp"]
    assert dst.read_bytes() == b"kept"


def test_describe():
    # The headers alone tell the kind and the output's length.
    info = bmpresizer.describe(SMALL[:bmpresizer.HEADER_BYTES], (3, 2))
    assert info == bmpresizer.Description(2, 2, 24, 40, 0, len(SMALL) - 2, 6, 4, len(SMALL_3X2), False)
    stream = io.BytesIO(b"x" + SMALL_X2)
    stream.seek(1)
    assert bmpresizer.describe(stream).output_bytes == len(SMALL_X2)
    assert stream.tell() == 1
    with pytest.raises(ValueError) as raised:
        bmpresizer.describe(SMALL[:-3], length=len(SMALL) - 3)
    assert raised.value.reason == "pixels_truncated"


# `python -m bmpresizer` as the tool: (arguments, standard input, exit
# status, standard output; None: the usage).
@pytest.mark.parametrize("args, stdin, code, stdout", [
    (["-", "-", "2"], SMALL, 0, SMALL_X2),
    (["-", "-", "3x2"], SMALL, 0, SMALL_3X2),
    (["in.bmp", "-", "3X2"], b"", 0, SMALL_3X2),
    (["--", "in.bmp", "out.bmp", "2"], b"", 0, b""),
    (["missing.bmp", "-", "2"], b"", 3, b""),
    (["-", "-", "2"], b"BM", 5, b""),
    (["in.bmp", "out.bmp", "-2"], b"", 6, b""),
    (["in.bmp", "out.bmp", "2147483648"], b"", 2, b""),
    (["in.bmp", "out.bmp", "3x"], b"", 2, b""),
    (["in.bmp", "out.bmp"], b"", 2, b""),
    (["-x", "in.bmp", "out.bmp", "2"], b"", 2, b""),
    (["--version"], b"", 0, b"bmpresizer %s\n" % bmpresizer.__version__.encode()),
    (["--help"], b"", 0, None),
], ids=lambda value: " ".join(value) if isinstance(value, list) else None)
def test_command_line(tmp_path, args, stdin, code, stdout):
    (tmp_path / "in.bmp").write_bytes(SMALL)
    run = run_module(*args, input=stdin, cwd=str(tmp_path))
    assert run.returncode == code, run.stderr
    assert run.stdout == stdout if stdout is not None else run.stdout.startswith(b"usage: python -m")
    assert run.stderr.startswith(b"bmpresizer: ") if code else run.stderr == b""
    if "out.bmp" in args:
        assert (tmp_path / "out.bmp").exists() == (code == 0)
    if TOOL and not args[0].startswith("--"):
        tool = subprocess.run([TOOL, *args], input=stdin, capture_output=True, cwd=str(tmp_path))
        assert (run.returncode, run.stdout) == (tool.returncode, tool.stdout)
        assert run.stderr.split(b"\n")[0] == tool.stderr.replace(b"bmpresize:", b"bmpresizer:", 1).split(b"\n")[0]


def big_bmp(path, width=1000, height=750):
    row = width * 3
    path.write_bytes(b"BM" + struct.pack("<IHHI", 54 + row * height, 0, 0, 54)
                     + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, row * height, 0, 0, 0, 0)
                     + bytes(range(256)) * (row * height // 256) + bytes(row * height % 256))


@pytest.mark.skipif(os.name == "nt", reason="SIGINT from another process")
@pytest.mark.parametrize("command, ends", [
    (["-c", "import bmpresizer, sys; print('go', flush=True); "
            "bmpresizer.enlarge('in.bmp', 'out.bmp', 40)"], b"KeyboardInterrupt"),
    (["-m", "bmpresizer", "in.bmp", "out.bmp", "40"], b""),
])
def test_ctrl_c(tmp_path, command, ends):
    """Ctrl-C in a 3.6 GB enlargement: the call stops at once, and no
    output is left."""
    big_bmp(tmp_path / "in.bmp")
    process = subprocess.Popen([sys.executable, *command], cwd=str(tmp_path),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if command[0] == "-c":
        process.stdout.readline()
    time.sleep(0.5)
    assert process.poll() is None, process.communicate()
    sent = time.monotonic()
    process.send_signal(signal.SIGINT)
    _, stderr = process.communicate(timeout=20)
    assert time.monotonic() - sent < 1.0
    assert process.returncode == -signal.SIGINT
    assert stderr.rstrip().endswith(ends) and b"Exception ignored" not in stderr
    assert os.listdir(tmp_path) == ["in.bmp"]


@pytest.mark.skipif(not os.path.exists("/dev/fd"), reason="no /dev/fd")
def test_calls_release_the_gil(tmp_path):
    """A call on one thread writes a pipe that only Python code on another
    thread reads: it completes only if the call lets that code run, and
    another call runs meanwhile."""
    (tmp_path / "in.bmp").write_bytes(SMALL)
    script = textwrap.dedent("""
        import os, threading, bmpresizer
        read, write = os.pipe()
        want = bmpresizer.describe(open("in.bmp", "rb"), 300).output_bytes
        call = threading.Thread(target=bmpresizer.enlarge, args=("in.bmp", "/dev/fd/%d" % write, 300))
        call.start()
        got = os.read(read, 1 << 16)
        assert bmpresizer.enlarge_bytes(open("in.bmp", "rb").read(), 2)[:2] == b"BM"
        while len(got) < want:
            got += os.read(read, 1 << 20)
        call.join()
        print(len(got) == want and call.is_alive() is False)
    """)
    run = subprocess.run([sys.executable, "-c", script], cwd=str(tmp_path), capture_output=True,
                         text=True, timeout=10)
    assert run.stdout == "True\n", run.stderr


def test_finds_the_library(tmp_path):
    built = bmpresizer.load_library()._name
    # Inside the package, as a wheel carries it, with no variable set.
    shutil.copytree(os.path.dirname(bmpresizer.__file__), str(tmp_path / "bmpresizer"))
    carried = tmp_path / "bmpresizer" / ("libbmpresize.dll" if os.name == "nt" else "libbmpresize.so.1")
    shutil.copy(built, str(carried))
    environment = dict(os.environ, PYTHONPATH=str(tmp_path))
    del environment["BMPRESIZE_LIBRARY"]
    found = subprocess.run(
        [sys.executable, "-c", "import bmpresizer; print(bmpresizer.load_library()._name)"],
        env=environment, capture_output=True, text=True)
    assert found.stdout == "%s\n" % carried, found.stderr
    # A variable that names no library is an error, whatever else there is.
    environment["BMPRESIZE_LIBRARY"] = str(tmp_path / "nothing.so")
    run = run_module("in.bmp", "out.bmp", "2", env=environment, text=True)
    assert run.returncode == 1
    assert run.stderr.startswith("bmpresizer: BMPRESIZE_LIBRARY=%s cannot be loaded" % (tmp_path / "nothing.so"))


def test_versions_agree():
    pyproject = (pathlib.Path(bmpresizer.__file__).parents[1] / "pyproject.toml").read_text()
    assert re.search(r'^version = "%s"$' % re.escape(bmpresizer.__version__), pyproject, re.M)
    assert bmpresizer.__version__ == os.environ.get("BMPRESIZER_VERSION", bmpresizer.__version__)


def test_pip_installs_offline(tmp_path):
    """`pip install ./python` builds with nothing from a package index, and
    installs every file of the package."""
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True).returncode:
        pytest.skip("pip is not installed (Debian: python3-pip)")
    source = pathlib.Path(bmpresizer.__file__).parent
    target = tmp_path / "site"
    pip = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--no-index", "--no-deps", "--no-cache-dir",
         "--disable-pip-version-check", "--target", str(target), str(source.parent)],
        capture_output=True, text=True)
    assert pip.returncode == 0, pip.stdout + pip.stderr
    def files(folder):
        return sorted(p.name for p in folder.iterdir() if p.suffix in (".py", ".typed"))
    assert files(target / "bmpresizer") == files(source)
    (tmp_path / "in.bmp").write_bytes(SMALL)
    run = run_module(str(tmp_path / "in.bmp"), str(tmp_path / "out.bmp"), "2",
                     env=dict(os.environ, PYTHONPATH=str(target)))
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "out.bmp").read_bytes() == SMALL_X2
