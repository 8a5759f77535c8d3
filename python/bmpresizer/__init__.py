"""Enlarge BMP images by whole-number factors, through the bmpresize engine.

    >>> import bmpresizer
    >>> bmpresizer.enlarge("photo.bmp", "photo-x4.bmp", 4)
    >>> bmpresizer.enlarge("photo.bmp", "wide.bmp", (3, 2))   # 3 across, 2 down
    >>> big = bmpresizer.enlarge_bytes(data, 2)
    >>> bmpresizer.describe(data, 2).output_bytes

Every pixel is repeated ``across`` times along its row and every row ``down``
times down the image; nothing is blended, so the result is exact. Every
uncompressed kind of BMP is taken (1, 2, 4, 8, 16, 24 and 32 bits per pixel,
colour tables and masks, the OS/2, Windows 3 and V2 to V5 headers) and written
as its own kind. The work is done by the C library libbmpresize through ctypes;
each call releases the GIL, so calls on several threads run at once.

``enlarge(src, dst, factor)`` takes paths (``str``, ``bytes``, ``os.PathLike``;
``bytes`` are passed to the system as they are) or binary file objects. A
failure leaves an existing ``dst`` path exactly as it was, and no file behind;
a ``dst`` file object may have received part of the output. Any failure raises
``BMPResizerError``: its ``code`` is the ``bmpresize`` tool's exit status for
it (the constants below), ``reason`` the engine's name for it (``"not_bmp"``),
``errno`` the system's error number where there is one, and ``str(error)`` the
tool's message, naming the file. It is also an ``OSError`` of the matching
kind where the system refused (``FileNotFoundError``, ``PermissionError``,
...) and a ``ValueError`` for an image or size the engine refuses. The
package prints nothing.

Ctrl-C (``KeyboardInterrupt``) stops a call on the main thread within a block
of output and leaves no output file. A ``progress(bytes_written, bytes_total)``
callable is called after each block; it stops the call by returning ``False``
(the call then raises ``BMPResizerError`` with ``reason == "cancelled"``) or by
raising an exception, which the call raises once stopped.

Where the library is looked for, first found first used:

1. the environment variable ``BMPRESIZE_LIBRARY``, the path of the library
   (an error if it cannot be loaded: nothing else is tried);
2. inside this package's folder, as a wheel may carry it
   (``libbmpresize.so.1``, ``libbmpresize.1.dylib``, ``libbmpresize.dll``);
3. the system's loader: ``ctypes.util.find_library("bmpresize")``, then
   ``libbmpresize.so.1`` (which ``LD_LIBRARY_PATH`` also reaches);
4. on Windows, ``libbmpresize.dll`` in the folder that holds this package
   (the ``bin`` folder of the Windows archive).

``python -m bmpresizer INPUT OUTPUT FACTOR`` is the ``bmpresize`` tool's
single-file form, with its exit codes.
"""

import ctypes
import errno as _errno
import io
import operator
import os
import signal
import threading
from typing import Any, BinaryIO, Callable, Dict, List, NamedTuple, Optional, Tuple, Type, Union

from . import _engine

__all__ = [
    "BMPResizerError",
    "Description",
    "describe",
    "enlarge",
    "enlarge_bytes",
    "load_library",
    "CANNOT_OPEN_INPUT",
    "CANNOT_OPEN_OUTPUT",
    "UNSUPPORTED_INPUT",
    "OUTPUT_TOO_LARGE",
    "IO_ERROR",
    "INVALID_ARGUMENT",
    "SUCCESS",
    "HEADER_BYTES",
]

__version__ = "1.0.0.1"

# BMPResizerError.code: the bmpresize tool's exit status for each failure.
INVALID_ARGUMENT = 2
CANNOT_OPEN_INPUT = 3
CANNOT_OPEN_OUTPUT = 4
UNSUPPORTED_INPUT = 5
OUTPUT_TOO_LARGE = 6
IO_ERROR = 7
# What the older library function BMPResizer returned on success.
SUCCESS = 999
# Bytes of an image's start that always suffice for describe.
HEADER_BYTES = _engine.HEADER_BYTES

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Factor = Union[int, Tuple[int, int]]
Progress = Callable[[int, int], Any]

_INT32_MAX = 2**31 - 1
# Outputs from this size on take long enough (milliseconds) for Ctrl-C to
# stop the call rather than wait for it.
_LONG_CALL_BYTES = 8 << 20
# Memory inputs and outputs, and file objects, as messages name them.
_MEMORY_NAME = "<bytes>"


class BMPResizerError(Exception):
    """An enlargement that failed, and why.

    ``code`` is the bmpresize tool's exit status for it (2 a wrong call, 3 the
    input cannot be opened, 4 the output cannot, 5 the input is not a BMP the
    engine takes, 6 the enlargement cannot be a BMP, 7 the work failed part
    way); ``reason`` the engine's name for it (``"input_open"``,
    ``"not_bmp"``, ...); ``errno`` the system's error number, or None;
    ``input``, ``output`` and ``factor`` the call's, as messages name them.
    ``str(error)`` is the tool's message. Raised as a subclass that is also
    the matching ``OSError`` (when there is an ``errno``), ``ValueError``
    (codes 2, 5 and 6, and paths that cannot be one) or ``MemoryError``.
    """

    errno: Optional[int]

    def __init__(self, message: str, code: int, reason: str, errno: Optional[int] = None,
                 input: Optional[str] = None, output: Optional[str] = None,
                 factor: Optional[Tuple[int, int]] = None) -> None:
        super().__init__(message)
        self.message = message
        self.code = code
        self.reason = reason
        self.errno = errno
        self.input = input
        self.output = output
        self.factor = factor
        if isinstance(self, OSError) and errno:
            self.strerror = os.strerror(errno)
            reading = code == CANNOT_OPEN_INPUT or reason in ("read_failed", "input_shrank")
            self.filename = input if reading else output

    def __str__(self) -> str:
        return self.message

    def __reduce__(self) -> Tuple[Any, ...]:
        return (_rebuild_error, (self.message, self.code, self.reason, self.errno, self.input,
                                 self.output, self.factor))


_error_classes: Dict[Tuple[type, ...], Type[BMPResizerError]] = {}


def _error_class(code: int, reason: str, number: Optional[int]) -> Type[BMPResizerError]:
    """BMPResizerError, or its subclass that is also the matching built-in
    exception."""
    extras: List[type] = []
    if number:
        extras.append(type(OSError(number, "")))  # the OSError subclass Python picks
    if code in (INVALID_ARGUMENT, UNSUPPORTED_INPUT, OUTPUT_TOO_LARGE) or reason.endswith("path_invalid"):
        extras.append(ValueError)
    if reason == "out_of_memory":
        extras.append(MemoryError)
    key = tuple(extras)
    if not key:
        return BMPResizerError
    if key not in _error_classes:
        name = "BMPResizer" + "".join(e.__name__.replace("Error", "") for e in key) + "Error"
        _error_classes[key] = type(name, (BMPResizerError,) + key, {"__module__": __name__})
    return _error_classes[key]


def _rebuild_error(message: str, code: int, reason: str, number: Optional[int],
                   *rest: Any) -> BMPResizerError:
    return _error_class(code, reason, number)(message, code, reason, number, *rest)


def _name(value: Union[bytes, str]) -> bytes:
    """A name as the engine's messages take it: UTF-8, or a path's bytes."""
    if isinstance(value, bytes):
        return value
    return value.encode("utf-8", "surrogateescape") if os.name == "nt" else os.fsencode(value)


def _shown(name: bytes) -> str:
    return name.decode("utf-8", "replace") if os.name == "nt" else os.fsdecode(name)


def _failure(result: _engine.Result, input_name: bytes, output_name: bytes,
             factors: Tuple[int, int]) -> BMPResizerError:
    """The exception for a failed `result`, with the tool's message."""
    engine = _engine.load()
    size = 512
    while True:
        text = ctypes.create_string_buffer(size)
        length = engine.bmpresize_message(result, input_name.replace(b"\0", b"\\0"),
                                          output_name.replace(b"\0", b"\\0"), text, size)
        if length < size:
            break
        size = length + 1
    code = engine.bmpresize_exit_status(result.error)
    reason = engine.bmpresize_error_name(result.error).decode()
    number = result.system_error
    if reason.endswith("path_invalid"):  # not the system's refusal
        number = 0
    if result.error == _engine.E_INPUT_IS_DIRECTORY:
        number = number or _errno.EISDIR
    if code not in (CANNOT_OPEN_INPUT, CANNOT_OPEN_OUTPUT, IO_ERROR):
        number = 0
    return _error_class(code, reason, number)(
        _shown(text.value), code, reason, number or None, _shown(input_name),
        _shown(output_name), factors)


def _fail(error: int, input_name: bytes, output_name: bytes, factors: Tuple[int, int],
          number: int = 0) -> BMPResizerError:
    """The exception for `error`, which the package found itself."""
    result = _engine.Result()
    result.error, result.system_error = error, number
    return _failure(result, input_name, output_name, factors)


def load_library() -> Any:
    """The engine library (a ``ctypes.CDLL``), loaded on first use; its
    ``_name`` is where it was found. Raises ``OSError`` when it is nowhere."""
    return _engine.load()


def _factors(factor: Factor, input_name: bytes, output_name: bytes) -> Tuple[int, int]:
    """(across, down) of an int or a pair of ints. Each must fit the engine's
    int32, rather than be cut to one: below 1 is for the engine to refuse."""
    try:
        across = down = operator.index(factor)  # type: ignore[arg-type]
    except TypeError:
        try:
            across, down = factor  # type: ignore[misc]
            across, down = operator.index(across), operator.index(down)
        except (TypeError, ValueError):
            raise TypeError("factor must be an int or a pair of ints (across, down), not %r"
                            % (factor,)) from None
    if not all(-_INT32_MAX - 1 <= value <= _INT32_MAX for value in (across, down)):
        shown = "%dx%d" % (across, down) if across != down else str(across)
        raise _error_class(INVALID_ARGUMENT, "invalid_argument", None)(
            "factor %s is out of range: each factor is a whole number from 1 to %d"
            % (shown, _INT32_MAX), INVALID_ARGUMENT, "invalid_argument", None,
            _shown(input_name), _shown(output_name), (across, down))
    return across, down


class Description(NamedTuple):
    """What an image's headers say, and what its enlargement would be.

    ``height`` and ``output_height`` count rows (``top_down`` tells the order
    the rows are stored in); ``compression`` is biCompression (0, or 3 and 6
    for colour masks); ``input_bytes`` are the bytes of the input the
    enlargement reads, ``output_bytes`` the output's exact length."""

    width: int
    height: int
    bits_per_pixel: int
    header_size: int
    compression: int
    input_bytes: int
    output_width: int
    output_height: int
    output_bytes: int
    top_down: bool


class _Call:
    """One engine call's Python side: the options, the progress callback and
    whatever a callback caught, raised once the engine has returned. Nothing
    escapes a callback into ctypes: it is kept here and the call cancelled."""

    def __init__(self, factors: Tuple[int, int], progress: Optional[Progress], flags: int = 0,
                 long: bool = True) -> None:
        engine = _engine.load()
        # options.work stays null: the engine then allocates a buffer of its
        # own for each call, faster than one that ctypes zero-fills here.
        self.options = engine.bmpresize_default_options(*factors)
        self.options.flags = flags
        self.caught: Optional[BaseException] = None
        self._progress = progress
        self._previous_handler: Any = None
        # The main thread gets Ctrl-C. Its handler then runs only between
        # Python instructions, which during the call means inside a callback:
        # the progress callback is what lets it run. A short call (`long`
        # false) is not worth the handler's exchange: Ctrl-C then comes
        # right after it.
        self._watch_interrupts = (long and threading.current_thread() is threading.main_thread()
                                  and callable(signal.getsignal(signal.SIGINT)))
        if progress is not None or self._watch_interrupts:
            self._progress_function = _engine.PROGRESS(self._on_progress)
            self.options.progress = self._progress_function

    def keep(self, caught: BaseException) -> None:
        """Keeps the first exception a callback caught (an interruption
        before any other), which makes the engine stop."""
        if self.caught is None or (isinstance(caught, KeyboardInterrupt)
                                   and not isinstance(self.caught, KeyboardInterrupt)):
            self.caught = caught

    def _on_progress(self, context: Any, written: int, total: int) -> int:
        try:
            if self.caught is not None:
                return 1
            if self._progress is not None and self._progress(written, total) is False:
                return 1
            return 0
        except BaseException as caught:  # noqa: B902 - re-raised once the engine returns
            self.keep(caught)
            return 1

    def _on_interrupt(self, number: int, frame: Any) -> None:
        # Runs the handler the program had, which raises KeyboardInterrupt
        # unless the program chose otherwise; what it raises stops the call.
        # An exception raised here would surface wherever the interpreter
        # was (possibly a callback's first instruction), so none is.
        try:
            self._previous_handler(number, frame)
        except BaseException as caught:  # noqa: B902
            self.keep(caught)

    def __enter__(self) -> "_Call":
        if self._watch_interrupts:
            try:
                self._previous_handler = signal.signal(signal.SIGINT, self._on_interrupt)
            except (ValueError, OSError):  # not the main interpreter
                self._watch_interrupts = False
        return self

    def __exit__(self, kind: Optional[type], *exc: Any) -> None:
        if self._watch_interrupts:
            signal.signal(signal.SIGINT, self._previous_handler)
            caught, self.caught = self.caught, None
            if caught is not None and kind is None:  # Ctrl-C after the call's end
                raise caught

    def check(self, result: _engine.Result, input_name: bytes, output_name: bytes,
              factors: Tuple[int, int]) -> None:
        """Raises what the call caught, or its failure."""
        caught, self.caught = self.caught, None
        if caught is not None and not isinstance(caught, OSError):
            raise caught
        if result.error != _engine.OK:
            failure = _failure(result, input_name, output_name, factors)
            if caught is not None:
                raise failure from caught
            raise failure


def _view(address: int, size: int, writable: bool) -> memoryview:
    """The engine's memory as a memoryview of bytes, for the duration of a
    callback (released after it, so that a kept view cannot reach it)."""
    if _engine.HAVE_PYTHON_API:
        view: memoryview = _engine.memory_view(
            address, size, _engine.PYBUF_WRITE if writable else _engine.PYBUF_READ)
        return view
    view = memoryview((ctypes.c_ubyte * size).from_address(address)).cast("B")
    return view if writable or not hasattr(view, "toreadonly") else view.toreadonly()


def _error_number(caught: BaseException) -> int:
    number = getattr(caught, "errno", None)
    return number if isinstance(number, int) and number > 0 else _errno.EIO


def _source(call: _Call, stream: Any) -> _engine.Source:
    """A source that reads the file object `stream` from where it stands:
    at any offset where it seeks, else in order."""
    source = _engine.Source()
    def read_into(view: memoryview) -> Optional[int]:
        data = stream.read(len(view))
        if data is None:
            return None
        view[:len(data)] = data
        return len(data)

    readinto: Callable[[memoryview], Optional[int]] = getattr(stream, "readinto", read_into)

    def fill(view: memoryview, whole: bool) -> int:
        done = 0
        while done < len(view):
            count = readinto(view[done:] if done else view)
            if count is None:
                raise BlockingIOError(_errno.EAGAIN, "no data ready in a non-blocking stream")
            if count == 0 or not whole:
                return done + int(count)
            done += int(count)
        return done

    seekable = getattr(stream, "seekable", None)
    if seekable() if callable(seekable) else hasattr(stream, "seek"):
        start = stream.tell()
        end = stream.seek(0, io.SEEK_END)
        source.size = max(end - start, 0)

        def read_at(context: Any, offset: int, buffer: int, size: int, error: Any) -> int:
            try:
                view = _view(buffer, size, True)
                try:
                    stream.seek(start + offset)
                    return fill(view, True)
                finally:
                    view.release()
            except BaseException as caught:  # noqa: B902 - raised after the call
                call.keep(caught)
                error[0] = _error_number(caught)
                return -1

        source.read_at = _engine.READ_AT(read_at)  # kept alive by `source`
    else:
        def read(context: Any, buffer: int, size: int, error: Any) -> int:
            try:
                view = _view(buffer, size, True)
                try:
                    return fill(view, False)
                finally:
                    view.release()
            except BaseException as caught:  # noqa: B902
                call.keep(caught)
                error[0] = _error_number(caught)
                return -1

        source.read = _engine.READ(read)
    return source


def _sink(call: _Call, write: Callable[[memoryview], Optional[int]], raw: bool) -> _engine.Sink:
    """A sink that hands each span, in order, to `write` (which returns the
    count written, fewer for a raw stream, or None: all, unless raw)."""
    sink = _engine.Sink()

    def write_spans(context: Any, spans: Any, count: int, offset: int) -> int:
        try:
            for index in range(count):
                span = spans[index]
                if not span.size:
                    continue
                view = _view(span.data, span.size, False)
                try:
                    done = 0
                    while done < span.size:
                        written = write(view[done:] if done else view)
                        if written is None:
                            if raw:
                                raise BlockingIOError(_errno.EAGAIN, "a non-blocking stream is full")
                            written = span.size - done
                        done += written
                finally:
                    try:
                        view.release()
                    except BufferError:  # the writer kept a view: nothing more to do
                        pass
            return 0
        except BaseException as caught:  # noqa: B902
            call.keep(caught)
            return _error_number(caught)

    sink.write = _engine.WRITE(write_spans)
    return sink


def _path_of(value: object) -> Optional[Union[str, bytes]]:
    """The path that `value` is, or None for a file object."""
    if isinstance(value, (str, bytes, os.PathLike)):
        return os.fspath(value)
    return None


def _path(path: Union[str, bytes], invalid: int, names: Tuple[bytes, bytes],
          factors: Tuple[int, int]) -> bytes:
    """A path as the engine takes it (a path with a NUL is none)."""
    encoded = _name(path)
    if b"\0" in encoded:
        raise _fail(invalid, *names, factors, _errno.EINVAL)
    return encoded


def _stream_name(stream: Any, default: str) -> bytes:
    name = getattr(stream, "name", None)
    return _name(name) if isinstance(name, (str, bytes)) else default.encode()


def enlarge(src: Union[Path, BinaryIO], dst: Union[Path, BinaryIO], factor: Factor, *,
            progress: Optional[Progress] = None, uncompressed: bool = False) -> None:
    """Enlarges the BMP image ``src`` into ``dst``.

    ``factor`` is an int, or a pair ``(across, down)``: every pixel repeated
    ``across`` times along its row and every row ``down`` times. ``src`` and
    ``dst`` are each a path (``str``, ``bytes`` as the system holds them, or
    ``os.PathLike``) or a binary file object: ``src`` is read from where it
    stands (at any offset where it seeks, else in order), ``dst`` is written
    where it stands, in order. A ``dst`` path appears complete or not at all;
    a ``dst`` file object may hold part of the output after a failure.
    ``progress(bytes_written, bytes_total)`` is called after each block of
    output; it stops the call by returning False or raising. A run-length
    encoded image (RLE8, RLE4, RLE24) stays encoded, unless ``uncompressed``
    (for readers without run-length codes).

    Raises ``BMPResizerError`` (see the module's documentation), or what
    ``progress`` or a file object raised, and ``KeyboardInterrupt`` for
    Ctrl-C, each once the call has stopped.
    """
    src_path, dst_path = _path_of(src), _path_of(dst)
    names = (_stream_name(src, "<input>") if src_path is None else _name(src_path),
             _stream_name(dst, "<output>") if dst_path is None else _name(dst_path))
    factors = _factors(factor, *names)
    flags = _engine.WRITE_UNCOMPRESSED if uncompressed else 0
    if src_path is not None and dst_path is not None:
        _enlarge_paths(src_path, dst_path, factors, progress, flags, names)
        return
    engine = _engine.load()
    opened: Optional[BinaryIO] = None
    try:
        stream: Any = src
        if src_path is not None:
            path = _path(src_path, _engine.E_INPUT_PATH_INVALID, names, factors)
            try:
                opened = stream = open(path, "rb", buffering=0)  # noqa: SIM115 - closed below
            except OSError as error:
                raise _fail(_engine.E_INPUT_IS_DIRECTORY if error.errno == _errno.EISDIR
                            else _engine.E_INPUT_OPEN, *names, factors, error.errno or 0) from None
        with _Call(factors, progress, flags) as call:
            source = _source(call, stream)
            result = _engine.Result()
            if dst_path is not None:
                # The engine puts the output in place as its path calls do.
                if os.name == "nt":
                    wide = os.fsdecode(dst_path)
                    if "\0" in wide:
                        raise _fail(_engine.E_OUTPUT_PATH_INVALID, *names, factors, _errno.EINVAL)
                    engine.bmpresize_enlarge_to_file_w(source, wide, call.options, result)
                else:
                    engine.bmpresize_enlarge_to_file(
                        source, _path(dst_path, _engine.E_OUTPUT_PATH_INVALID, names, factors),
                        call.options, result)
            else:
                writer: Any = dst
                sink = _sink(call, writer.write, isinstance(writer, io.RawIOBase))
                engine.bmpresize_enlarge_stream(source, sink, call.options, result)
            call.check(result, *names, factors)
    finally:
        if opened is not None:
            opened.close()


def _enlarge_paths(src: Union[str, bytes], dst: Union[str, bytes], factors: Tuple[int, int],
                   progress: Optional[Progress], flags: int, names: Tuple[bytes, bytes]) -> None:
    """The engine's path call (flags: its options' flags)."""
    engine = _engine.load()
    result = _engine.Result()
    with _Call(factors, progress, flags) as call:
        if os.name == "nt":
            wide = [os.fsdecode(src), os.fsdecode(dst)]
            for path, invalid in zip(wide, (_engine.E_INPUT_PATH_INVALID, _engine.E_OUTPUT_PATH_INVALID)):
                if "\0" in path:
                    raise _fail(invalid, *names, factors, _errno.EINVAL)
            engine.bmpresize_enlarge_file_w(wide[0], wide[1], call.options, result)
        else:
            engine.bmpresize_enlarge_file(
                _path(src, _engine.E_INPUT_PATH_INVALID, names, factors),
                _path(dst, _engine.E_OUTPUT_PATH_INVALID, names, factors), call.options, result)
        call.check(result, *names, factors)


class _Memory:
    """The address and length of a bytes-like object's memory: its own where
    CPython lends it, else a copy's. A context manager."""

    def __init__(self, data: Any) -> None:
        self.data = data
        self.view: Any = None

    def __enter__(self) -> Tuple[Any, int]:
        if isinstance(self.data, bytes):
            return self.data, len(self.data)  # c_void_p takes a bytes object's contents
        if _engine.HAVE_PYTHON_API:
            view = _engine.PyBuffer()
            try:  # raises TypeError for an object without a buffer
                _engine.get_buffer(self.data, view, 0)  # PyBUF_SIMPLE: contiguous bytes
                self.view = view
                return view.buf, view.len
            except (BufferError, ValueError):  # not contiguous: copied below
                pass
        copy = memoryview(self.data).tobytes()
        return copy, len(copy)

    def __exit__(self, *exc: Any) -> None:
        if self.view is not None:
            _engine.release_buffer(self.view)
            self.view = None


def _new_bytes(size: int) -> Tuple[Any, Any]:
    """A bytes object of `size` bytes to be filled, and its address; where
    CPython cannot give one, a bytearray."""
    if _engine.HAVE_PYTHON_API and size > 1:  # 0 and 1 byte objects are shared
        data = _engine.new_bytes(None, size)
        address = _engine.bytes_address(data)
        _engine.advise_huge_pages(address, size)
        return data, address
    data = bytearray(size)
    return data, (ctypes.c_char * size).from_buffer(data)


def enlarge_bytes(data: Any, factor: Factor, *, progress: Optional[Progress] = None,
                  uncompressed: bool = False) -> bytes:
    """The BMP image in ``data`` (bytes, bytearray, memoryview, anything with
    the buffer protocol) enlarged by ``factor``, as ``enlarge`` does.

    Raises ``BMPResizerError`` as ``enlarge`` does (messages name the image
    ``<bytes>``)."""
    names = (_MEMORY_NAME.encode(), _MEMORY_NAME.encode())
    factors = _factors(factor, *names)
    engine = _engine.load()
    result = _engine.Result()
    with _Memory(data) as (address, length):
        flags = _engine.WRITE_UNCOMPRESSED if uncompressed else 0
        options = engine.bmpresize_default_options(*factors)
        options.flags = flags
        if engine.bmpresize_describe(address, length, length, options, _engine.Image(), result):
            raise _failure(result, *names, factors)
        size = result.output_bytes
        output, output_address = _new_bytes(size)
        with _Call(factors, progress, flags, long=size >= _LONG_CALL_BYTES) as call:
            engine.bmpresize_enlarge_memory(address, length, output_address, size, call.options, result)
            call.check(result, *names, factors)
    if isinstance(output, bytearray):
        return bytes(output)
    return output  # type: ignore[no-any-return]


def describe(data_or_header: Any, factor: Factor = 1, *, length: Optional[int] = None,
             uncompressed: bool = False) -> Description:
    """What the headers of an image say, and its enlargement by ``factor``
    would be, without enlarging it.

    ``data_or_header`` is the image or its start (``HEADER_BYTES``, 138
    bytes, always suffice) as a bytes-like object, or a binary file object
    read from where it stands (and put back there where it seeks). ``length``
    is the whole input's length, checked against what the headers need; by
    default that of a file object that seeks, else unknown. A run-length
    encoded image kept encoded (not ``uncompressed``) tells its
    enlargement's length only when all of it is given: else
    ``output_bytes`` is 0. Raises the ``BMPResizerError`` that the
    enlargement would raise before writing."""
    names = (_MEMORY_NAME.encode(), _MEMORY_NAME.encode())
    if hasattr(data_or_header, "read"):
        stream = data_or_header
        names = (_stream_name(stream, "<input>"), names[1])
        seekable = getattr(stream, "seekable", None)
        start = stream.tell() if callable(seekable) and seekable() else None
        head = b""
        while len(head) < HEADER_BYTES:
            more = stream.read(HEADER_BYTES - len(head))
            if not more:
                break
            head += more
        if start is not None:
            end = stream.seek(0, io.SEEK_END)
            stream.seek(start)
            length = end - start if length is None else length
        data_or_header = head
    factors = _factors(factor, *names)
    engine = _engine.load()
    options = engine.bmpresize_default_options(*factors)
    options.flags = _engine.WRITE_UNCOMPRESSED if uncompressed else 0
    image, result = _engine.Image(), _engine.Result()
    with _Memory(data_or_header) as (address, size):
        engine.bmpresize_describe(address, size, _engine.UNKNOWN_LENGTH if length is None else length,
                                  options, image, result)
    if result.error != _engine.OK:
        raise _failure(result, *names, factors)
    return Description(image.width, abs(image.height), image.bits_per_pixel, image.header_size,
                       image.compression, image.input_bytes, image.output_width,
                       abs(image.output_height), image.output_bytes, image.height < 0)
