"""The engine library libbmpresize through ctypes: its structures, the
prototypes of its functions, and where it is looked for. Private: the
package's functions are the interface."""

import ctypes
import ctypes.util
import os
import sys
import threading
from typing import Iterator, Optional, Tuple

c_int32, c_uint32, c_int64, c_uint64 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64, ctypes.c_uint64
c_size_t, c_void_p, c_int, c_char_p = ctypes.c_size_t, ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p

OK = 0
STANDARD_STREAMS = 1
WRITE_UNCOMPRESSED = 2
HEADER_BYTES = 138
UNKNOWN_LENGTH = 2**64 - 1

# The error numbers the package itself reports (bmpresize.h keeps them).
E_INVALID_ARGUMENT = 201
E_INPUT_OPEN = 301
E_INPUT_IS_DIRECTORY = 302
E_INPUT_PATH_INVALID = 303
E_INPUT_STREAM_CLOSED = 304
E_OUTPUT_OPEN = 401
E_OUTPUT_PATH_INVALID = 402
E_OUTPUT_IS_INPUT = 403
E_OUTPUT_NO_READER = 404
E_OUTPUT_STREAM_CLOSED = 405
E_WRITE_FAILED = 704
E_CLOSE_FAILED = 705
E_CANCELLED = 706
E_OUT_OF_MEMORY = 707


class Result(ctypes.Structure):
    _fields_ = [("error", c_int), ("system_error", c_int), ("have", c_uint64),
                ("want", c_uint64), ("output_bytes", c_uint64)]


PROGRESS = ctypes.CFUNCTYPE(c_int, c_void_p, c_uint64, c_uint64)


class Options(ctypes.Structure):
    _fields_ = [("across", c_int32), ("down", c_int32), ("kinds", c_uint32), ("flags", c_uint32),
                ("threads", c_uint32), ("progress", PROGRESS), ("progress_context", c_void_p),
                ("work", c_void_p), ("work_bytes", c_size_t)]


READ_AT = ctypes.CFUNCTYPE(c_int64, c_void_p, c_uint64, c_void_p, c_size_t, ctypes.POINTER(c_int))
READ = ctypes.CFUNCTYPE(c_int64, c_void_p, c_void_p, c_size_t, ctypes.POINTER(c_int))


class Source(ctypes.Structure):
    _fields_ = [("context", c_void_p), ("read_at", READ_AT), ("size", c_uint64), ("read", READ)]


class Span(ctypes.Structure):
    _fields_ = [("data", c_void_p), ("size", c_size_t)]


WRITE = ctypes.CFUNCTYPE(c_int, c_void_p, ctypes.POINTER(Span), c_size_t, c_uint64)


class Sink(ctypes.Structure):
    _fields_ = [("context", c_void_p), ("write", WRITE)]


class Image(ctypes.Structure):
    _fields_ = [("header_size", c_uint32), ("bits_per_pixel", c_uint32), ("compression", c_uint32),
                ("width", c_uint32), ("height", c_int32), ("input_bytes", c_uint64),
                ("output_width", c_uint32), ("output_height", c_int32), ("output_bytes", c_uint64)]


_P = ctypes.POINTER
# name: (result type, argument types). Memory arguments are c_void_p, which
# also takes a bytes object as the address of its contents.
_PROTOTYPES = {
    "bmpresize_default_options": (Options, [c_int32, c_int32]),
    "bmpresize_enlarge_file": (c_int, [c_char_p, c_char_p, _P(Options), _P(Result)]),
    "bmpresize_enlarge_stream": (c_int, [_P(Source), _P(Sink), _P(Options), _P(Result)]),
    "bmpresize_enlarge_to_file": (c_int, [_P(Source), c_char_p, _P(Options), _P(Result)]),
    "bmpresize_enlarge_memory": (c_int, [c_void_p, c_size_t, c_void_p, c_size_t, _P(Options),
                                         _P(Result)]),
    "bmpresize_describe": (c_int, [c_void_p, c_size_t, c_uint64, _P(Options), _P(Image),
                                   _P(Result)]),
    "bmpresize_parse_factor": (c_int, [c_char_p, _P(c_int32), _P(c_int32), _P(Result)]),
    "bmpresize_exit_status": (c_int, [c_int]),
    "bmpresize_error_name": (c_char_p, [c_int]),
    "bmpresize_message": (c_size_t, [_P(Result), c_char_p, c_char_p, c_char_p, c_size_t]),
    "bmpresize_version": (c_char_p, []),
}
if os.name == "nt":
    _PROTOTYPES["bmpresize_enlarge_file_w"] = (
        c_int, [ctypes.c_wchar_p, ctypes.c_wchar_p, _P(Options), _P(Result)])
    _PROTOTYPES["bmpresize_enlarge_to_file_w"] = (
        c_int, [_P(Source), ctypes.c_wchar_p, _P(Options), _P(Result)])

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def _names() -> "list[str]":
    if os.name == "nt":
        return ["libbmpresize.dll"]
    if sys.platform == "darwin":
        return ["libbmpresize.1.dylib", "libbmpresize.dylib"]
    return ["libbmpresize.so.1", "libbmpresize.so"]


def candidates() -> Iterator[str]:
    """Where the library is looked for without BMPRESIZE_LIBRARY, in order."""
    here = os.path.dirname(os.path.abspath(__file__))
    names = _names()
    for name in names:
        path = os.path.join(here, name)
        if os.path.isfile(path):
            yield path
    found = ctypes.util.find_library("bmpresize")
    if found:
        yield found
    if os.name != "nt":
        yield names[0]
    else:
        path = os.path.join(os.path.dirname(here), names[0])
        if os.path.isfile(path):
            yield path


def load() -> ctypes.CDLL:
    """The engine, loaded on first use with every prototype set. A CDLL, so
    that each call releases the GIL."""
    global _library
    with _lock:
        if _library is not None:
            return _library
        library: Optional[ctypes.CDLL] = None
        explicit = os.environ.get("BMPRESIZE_LIBRARY")
        if explicit:
            try:
                library = ctypes.CDLL(os.path.abspath(explicit))
            except OSError as error:
                raise OSError("BMPRESIZE_LIBRARY=%s cannot be loaded: %s" % (explicit, error)) from None
        else:
            tried = []
            for candidate in candidates():
                try:
                    library = ctypes.CDLL(candidate)
                    break
                except OSError as error:
                    tried.append("%s (%s)" % (candidate, error))
            if library is None:
                raise OSError(
                    "the bmpresize library (libbmpresize) was not found: install it (Debian: "
                    "libbmpresize1), or set BMPRESIZE_LIBRARY to its path"
                    + ("; tried " + ", ".join(tried) if tried else ""))
        try:
            for name, (restype, argtypes) in _PROTOTYPES.items():
                function = getattr(library, name)
                function.restype, function.argtypes = restype, argtypes
        except AttributeError as error:
            raise OSError("%s is not the bmpresize engine library: %s" % (library._name, error)) from None
        _library = library
        return library


# CPython's own functions, where there are: the address of any buffer's
# memory without a copy, a bytes object to fill, and memory seen as a
# memoryview. Elsewhere the package copies instead.
class PyBuffer(ctypes.Structure):
    _fields_ = [("buf", c_void_p), ("obj", c_void_p), ("len", ctypes.c_ssize_t),
                ("itemsize", ctypes.c_ssize_t), ("readonly", c_int), ("ndim", c_int),
                ("format", c_char_p), ("shape", c_void_p), ("strides", c_void_p),
                ("suboffsets", c_void_p), ("internal", c_void_p)]


try:
    _api = ctypes.pythonapi
    get_buffer = _api.PyObject_GetBuffer
    get_buffer.argtypes, get_buffer.restype = [ctypes.py_object, _P(PyBuffer), c_int], c_int
    release_buffer = _api.PyBuffer_Release
    release_buffer.argtypes, release_buffer.restype = [_P(PyBuffer)], None
    new_bytes = _api.PyBytes_FromStringAndSize
    new_bytes.argtypes, new_bytes.restype = [c_void_p, ctypes.c_ssize_t], ctypes.py_object
    bytes_address = _api.PyBytes_AsString
    bytes_address.argtypes, bytes_address.restype = [ctypes.py_object], c_void_p
    memory_view = _api.PyMemoryView_FromMemory
    memory_view.argtypes, memory_view.restype = [c_void_p, ctypes.c_ssize_t, c_int], ctypes.py_object
    HAVE_PYTHON_API = sys.implementation.name == "cpython"
except (AttributeError, OSError):
    HAVE_PYTHON_API = False
PYBUF_READ, PYBUF_WRITE = 0x100, 0x200

# Linux maps new memory a 4 KiB page at a time, each on its first write: for
# hundreds of megabytes, slower than the enlargement itself, and one thread
# at a time. Large outputs ask for 2 MiB pages instead, as numpy does.
_HUGE_PAGE = 1 << 21
_madvise = None
if sys.platform.startswith("linux"):
    try:
        _madvise = ctypes.CDLL(None).madvise
        _madvise.argtypes, _madvise.restype = [c_void_p, c_size_t, c_int], c_int
    except (AttributeError, OSError):
        _madvise = None


def advise_huge_pages(address: int, size: int) -> None:
    """Asks for huge pages for the whole 2 MiB pages within [address,
    address + size), where the system has them; a hint only."""
    start = (address + _HUGE_PAGE - 1) & ~(_HUGE_PAGE - 1)
    end = (address + size) & ~(_HUGE_PAGE - 1)
    if _madvise is not None and end - start >= _HUGE_PAGE:
        _madvise(start, end - start, 14)  # MADV_HUGEPAGE


def parse_factor(text: bytes) -> "Tuple[Optional[Tuple[int, int]], int]":
    """FACTOR as the engine reads it for every program: ((across, down), 0),
    or (None, 1) for text that is no factor, (None, 2) for a number beyond a
    32-bit int."""
    across, down, result = c_int32(), c_int32(), Result()
    if b"\0" in text:
        return None, 1
    if load().bmpresize_parse_factor(text, ctypes.byref(across), ctypes.byref(down),
                                     ctypes.byref(result)) != 0:
        return None, int(result.have)
    return (across.value, down.value), 0
