"""The Python package bmpresizer (python/) on the built library.

Run by CTest as `python_package`, with PYTHONPATH at python/ and
BMPRESIZER_LIBRARY at the build's library; BMPRESIZE_TOOL (the built tool)
and BMPRESIZER_VERSION (the project's) when known. By hand:

    PYTHONPATH=python BMPRESIZER_LIBRARY=build/src/libbmpresizer.so \
        python3 -m pytest tests/python
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

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


def run_module(*args):
    return subprocess.run(
        [sys.executable, "-m", "bmpresizer", *args], capture_output=True, text=True
    )


class Place(os.PathLike):
    """An os.PathLike of the caller's own, neither str nor pathlib."""

    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


@pytest.mark.parametrize(
    "kind, name",
    [
        ("str", "in.bmp"),
        ("bytes", "in.bmp"),
        ("pathlib", "in.bmp"),
        ("PathLike", "in.bmp"),
        ("str", "ünïcødé 画像 🖼.bmp"),
        ("pathlib", "ünïcødé 画像 🖼.bmp"),
        ("bytes", "ünïcødé 画像 🖼.bmp"),
    ],
)
def test_enlarges(tmp_path, kind, name):
    src = tmp_path / name
    dst = tmp_path / ("x2 " + name)
    src.write_bytes(SMALL)
    as_kind = {
        "str": str,
        "bytes": os.fsencode,
        "pathlib": pathlib.Path,
        "PathLike": lambda p: Place(str(p)),
    }[kind]
    assert bmpresizer.enlarge(as_kind(src), as_kind(dst), 2) is None
    assert dst.read_bytes() == SMALL_X2
    assert src.read_bytes() == SMALL


# Each result, through the function, `python -m bmpresizer` and the tool:
# (input, output, FACTOR, the library's code, or 0 for success and 2 for
# arguments the command line refuses).
@pytest.mark.parametrize(
    "src, dst, factor, code",
    [
        ("in.bmp", "out.bmp", "2", 0),
        ("missing.bmp", "out.bmp", "2", 3),
        ("in.bmp", "no folder/out.bmp", "2", 4),
        ("in.bmp", "in.bmp", "2", 4),
        ("text.bmp", "out.bmp", "2", 5),
        ("in.bmp", "out.bmp", "0", 6),
        ("in.bmp", "out.bmp", "2147483647", 6),
        ("in.bmp", "/dev/full", "2", 7),
        ("in.bmp", "out.bmp", "two", 2),
        ("in.bmp", "out.bmp", "2147483648", 2),
    ],
    ids=lambda value: str(value),
)
def test_results(tmp_path, capfd, src, dst, factor, code):
    if dst == "/dev/full" and not os.path.exists(dst):
        pytest.skip("no /dev/full here")
    (tmp_path / "in.bmp").write_bytes(SMALL)
    (tmp_path / "text.bmp").write_bytes(b"not an image at all, not even close\n" * 3)
    src = str(tmp_path / src)
    dst = os.path.join(str(tmp_path), dst)
    could_not_open = "Could not open %s.\n" % src if code == 3 else ""

    if code != 2:
        if code == 0:
            bmpresizer.enlarge(src, dst, int(factor))
            assert pathlib.Path(dst).read_bytes() == SMALL_X2
        else:
            with pytest.raises(bmpresizer.BMPResizerError) as raised:
                bmpresizer.enlarge(src, dst, int(factor))
            error = raised.value
            assert error.code == code
            assert (error.input, error.output, error.factor) == (src, dst, int(factor))
            assert re.match(re.escape(src if code in (3, 5) else dst) + ": ", str(error))
        # The library's own line, on the process's standard output.
        assert capfd.readouterr().out == could_not_open

    run = run_module(src, dst, factor)
    assert run.returncode == code, run.stderr
    assert run.stdout == could_not_open
    if code == 0:
        assert run.stderr == ""
    elif code == 2:
        assert run.stderr.startswith("bmpresizer: ") and "--help" in run.stderr
    else:
        assert run.stderr == "bmpresizer: %s\n" % error
    tool = os.environ.get("BMPRESIZE_TOOL")
    if tool:
        assert subprocess.run([tool, src, dst, factor], capture_output=True).returncode == code


def test_finds_the_library(tmp_path):
    built = bmpresizer.load_library()._name
    # Beside the package, as a wheel carries it, with no variable set.
    shutil.copytree(os.path.dirname(bmpresizer.__file__), str(tmp_path / "bmpresizer"))
    carried = tmp_path / "bmpresizer" / ("BMPResizer.dll" if os.name == "nt" else "libbmpresizer.so.1")
    shutil.copy(built, str(carried))
    environment = dict(os.environ, PYTHONPATH=str(tmp_path))
    del environment["BMPRESIZER_LIBRARY"]
    found = subprocess.run(
        [sys.executable, "-c", "import bmpresizer; print(bmpresizer.load_library()._name)"],
        env=environment, capture_output=True, text=True,
    )
    assert found.stdout == "%s\n" % carried, found.stderr
    # A variable that names no library is an error, whatever else there is.
    environment["BMPRESIZER_LIBRARY"] = str(tmp_path / "nothing.so")
    run = subprocess.run(
        [sys.executable, "-m", "bmpresizer", "in.bmp", "out.bmp", "2"],
        env=environment, capture_output=True, text=True,
    )
    assert run.returncode == 1
    assert run.stderr.startswith("bmpresizer: BMPRESIZER_LIBRARY=%s cannot be loaded" % (tmp_path / "nothing.so"))


def test_versions_agree():
    pyproject = (pathlib.Path(bmpresizer.__file__).parents[1] / "pyproject.toml").read_text()
    assert re.search(r'^version = "%s"$' % re.escape(bmpresizer.__version__), pyproject, re.M)
    assert bmpresizer.__version__ == os.environ.get("BMPRESIZER_VERSION", bmpresizer.__version__)


def test_pip_installs_offline(tmp_path):
    """`pip install ./python` builds with nothing from a package index."""
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True).returncode:
        pytest.skip("pip is not installed (Debian: python3-pip)")
    source = pathlib.Path(bmpresizer.__file__).parents[1]
    target = tmp_path / "site"
    pip = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--no-index", "--no-deps", "--no-cache-dir",
         "--disable-pip-version-check", "--target", str(target), str(source)],
        capture_output=True, text=True,
    )
    assert pip.returncode == 0, pip.stdout + pip.stderr
    assert (target / "bmpresizer" / "__main__.py").read_bytes() == (
        source / "bmpresizer" / "__main__.py").read_bytes()
    (tmp_path / "in.bmp").write_bytes(SMALL)
    run = subprocess.run(
        [sys.executable, "-m", "bmpresizer", str(tmp_path / "in.bmp"), str(tmp_path / "out.bmp"), "2"],
        env=dict(os.environ, PYTHONPATH=str(target)), capture_output=True, text=True,
    )
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "out.bmp").read_bytes() == SMALL_X2
