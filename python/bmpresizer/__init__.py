"""Enlarge 24-bit BMP images by a whole-number factor, through the bmpresizer library.

    >>> import bmpresizer
    >>> bmpresizer.enlarge("photo.bmp", "photo-x4.bmp", 4)

``enlarge(src, dst, factor)`` calls the C function ``BMPResizer`` of the shared
library (libbmpresizer.so.1, BMPResizer.dll) through ctypes. Every pixel is
repeated ``factor`` times across its row and every row ``factor`` times down the
image. The library keeps to the classic 24-bit uncompressed kind of BMP; the
``bmpresize`` tool enlarges every uncompressed kind. Any result but success
raises ``BMPResizerError``, whose ``code`` is the library's result code (3 to 7,
the constants below) and whose message names the file, as the tool's lines do.

**Standard output.** When the input cannot be opened (code 3) the library itself
prints ``Could not open <path>.`` and a line break on the process's standard
output, file descriptor 1, as its C contract says; Python callers see that line
there too (``sys.stdout`` is flushed before each call so that the line comes
after what Python printed). Redirect descriptor 1 to keep it out of the way.

Where the library is looked for, first found first used:

1. the environment variable ``BMPRESIZER_LIBRARY``, the path of the shared
   library (an error if it cannot be loaded: nothing else is tried);
2. inside this package's folder, as a wheel would carry it;
3. the system's loader: ``ctypes.util.find_library("bmpresizer")``, then the
   library's versioned name (``libbmpresizer.so.1``, which ``LD_LIBRARY_PATH``
   also reaches);
4. on Windows, ``BMPResizer.dll`` in the folder that holds this package (the
   ``bin`` folder of the Windows archive, with ``app_framework.dll``).

Paths are ``str``, ``bytes`` (decoded with ``os.fsdecode``) or ``os.PathLike``.
The call releases the GIL and may run on several threads at once for different
outputs. ``python -m bmpresizer IN OUT FACTOR`` is a command line with the exit
codes of the ``bmpresize`` tool.
"""

import ctypes
import ctypes.util
import operator
import os
import sys
import threading

__all__ = [
    "BMPResizerError",
    "enlarge",
    "load_library",
    "CANNOT_OPEN_INPUT",
    "CANNOT_OPEN_OUTPUT",
    "UNSUPPORTED_INPUT",
    "OUTPUT_TOO_LARGE",
    "IO_ERROR",
    "SUCCESS",
]

__version__ = "1.0.0.1"

# The library's result codes (bmpresizer.h).
CANNOT_OPEN_INPUT = 3
CANNOT_OPEN_OUTPUT = 4
UNSUPPORTED_INPUT = 5
OUTPUT_TOO_LARGE = 6
IO_ERROR = 7
SUCCESS = 999

_INT_MIN, _INT_MAX = -(2**31), 2**31 - 1


class BMPResizerError(Exception):
    """The library's ``BMPResizer`` returned ``code`` instead of success.

    ``str(error)`` is the message, ``FILE: what is wrong``; ``input``,
    ``output`` and ``factor`` are the call's arguments (paths as ``str``).
    """

    def __init__(self, code, input, output, factor):
        self.code = code
        self.input = input
        self.output = output
        self.factor = factor
        super().__init__(_message(code, input, output, factor))


def _message(code, src, dst, factor):
    if code == CANNOT_OPEN_INPUT:
        return "%s: cannot open: missing, unreadable or not a file" % src
    if code == CANNOT_OPEN_OUTPUT:
        return (
            "%s: cannot create: a missing folder, no permission, or the input itself" % dst
        )
    if code == UNSUPPORTED_INPUT:
        return (
            "%s: not a BMP of the kind the library enlarges (24 bits per pixel, "
            "uncompressed, a 40-byte header) or shorter than its header says; "
            "the bmpresize tool enlarges every uncompressed kind" % src
        )
    if code == OUTPUT_TOO_LARGE:
        if factor < 1:
            return "%s: factor %d is below 1; nothing to enlarge" % (dst, factor)
        return (
            "%s: the image enlarged %d times would be too large: BMP files cannot "
            "exceed 4 GiB, nor 2147483647 pixels across" % (dst, factor)
        )
    if code == IO_ERROR:
        return "%s: read or write error (a full disk, a failing device, or the input changed)" % dst
    return "%s: the library returned %d, which it never should" % (dst, code)


_lock = threading.Lock()
_function = None
_library = None


def _candidates():
    """Where the library is looked for, in order: (path or name, how found)."""
    here = os.path.dirname(os.path.abspath(__file__))
    if os.name == "nt":
        names = ["BMPResizer.dll"]
    elif sys.platform == "darwin":
        names = ["libbmpresizer.1.dylib", "libbmpresizer.dylib"]
    else:
        names = ["libbmpresizer.so.1", "libbmpresizer.so"]
    for name in names:
        path = os.path.join(here, name)
        if os.path.isfile(path):
            yield path
    found = ctypes.util.find_library("bmpresizer" if os.name != "nt" else "BMPResizer")
    if found:
        yield found
    if os.name != "nt":
        yield names[0]
    else:
        path = os.path.join(os.path.dirname(here), "BMPResizer.dll")
        if os.path.isfile(path):
            yield path


def load_library():
    """The loaded library (a ``ctypes.CDLL``), loaded on first use; its
    ``_name`` is where it was found. Raises ``OSError`` when it is nowhere."""
    global _function, _library
    with _lock:
        if _library is not None:
            return _library
        explicit = os.environ.get("BMPRESIZER_LIBRARY")
        if explicit:
            try:
                library = ctypes.CDLL(os.path.abspath(explicit))
            except OSError as error:
                raise OSError(
                    "BMPRESIZER_LIBRARY=%s cannot be loaded: %s" % (explicit, error)
                ) from None
        else:
            library = None
            tried = []
            for candidate in _candidates():
                try:
                    library = ctypes.CDLL(candidate)
                    break
                except OSError as error:
                    tried.append("%s (%s)" % (candidate, error))
            if library is None:
                raise OSError(
                    "the bmpresizer library was not found: install it (Debian: "
                    "libbmpresizer1), or set BMPRESIZER_LIBRARY to its path"
                    + ("; tried " + ", ".join(tried) if tried else "")
                )
        function = library.BMPResizer
        function.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p, ctypes.c_int]
        function.restype = ctypes.c_int
        _function, _library = function, library
        return library


def _path(value, what):
    path = os.fspath(value)
    if isinstance(path, bytes):
        path = os.fsdecode(path)
    if "\0" in path:
        raise ValueError("%s: embedded null character" % what)
    return path


def enlarge(src, dst, factor):
    """Enlarges the BMP file ``src`` ``factor`` times into ``dst``.

    Returns None on success; raises ``BMPResizerError`` with the library's
    code otherwise (see the module's documentation for the line that code 3
    prints on standard output). ``factor`` is an int; the library refuses
    one below 1 with code 6, and one beyond a C int is passed as the
    nearest C int.
    """
    src = _path(src, "src")
    dst = _path(dst, "dst")
    factor = operator.index(factor)
    if _function is None:
        load_library()
    try:
        sys.stdout.flush()
    except (AttributeError, OSError, ValueError):
        pass
    code = _function(src, dst, min(max(factor, _INT_MIN), _INT_MAX))
    if code != SUCCESS:
        raise BMPResizerError(code, src, dst, factor)
