"""python -m bmpresizer INPUT OUTPUT FACTOR: the bmpresize tool's single-file
form, through the engine library. Exit status 0 on success, 2 for wrong
arguments, otherwise the tool's (3 to 7), with its message on standard error;
1 when the library itself cannot be loaded. Ctrl-C ends the process as the
signal would, with no output left behind."""

import os
import re
import signal
import sys
from typing import List, Optional, Sequence

import bmpresizer
from bmpresizer import _engine

USAGE = """\
usage: python -m bmpresizer INPUT OUTPUT FACTOR
Enlarges the BMP file INPUT by the whole number FACTOR (1 or more) into OUTPUT,
through the bmpresize library: every pixel repeated FACTOR times across and
every row FACTOR times down. FACTOR may be ACROSSxDOWN (3x2: 3 times across,
2 down). Every uncompressed BMP is taken and written as its own kind.

INPUT - reads standard input and OUTPUT - writes standard output (a file named
- is ./-). An existing OUTPUT is replaced only once the enlargement is
complete: a failure or Ctrl-C leaves it as it was, and no partial file.

Exit status:
  0  the output is complete
  1  the bmpresize library cannot be loaded
  2  wrong arguments
  3  the input cannot be opened
  4  the output cannot be created (or it is the input file)
  5  the input is not an uncompressed BMP, or it is truncated or damaged
  6  the enlarged image cannot be a BMP (factor below 1, over 4 GiB, ...)
  7  a read or write failed (disk full, I/O error), or memory ran out
"""


_NUMBER = r"[+-]?[0-9]+"


def _usage_error(problem: str) -> int:
    sys.stderr.write(
        "bmpresizer: %s\nTry 'python -m bmpresizer --help' for more information.\n" % problem)
    return bmpresizer.INVALID_ARGUMENT


def main(argv: Optional[Sequence[str]] = None) -> int:
    words: List[str] = sys.argv[1:] if argv is None else list(argv)
    args: List[str] = []
    options_done = False
    for word in words:
        # As the tool reads them: "-" is a stream and "-3" a number.
        if options_done or word == "-" or not word.startswith("-") or re.fullmatch(_NUMBER, word):
            args.append(word)
        elif word == "--":
            options_done = True
        elif word in ("-h", "--help"):
            sys.stdout.write(USAGE)
            return 0
        elif word == "--version":
            sys.stdout.write("bmpresizer %s\n" % bmpresizer.__version__)
            return 0
        else:
            return _usage_error("unknown option %s" % word)
    if len(args) != 3:
        return _usage_error("too many arguments" if len(args) > 3 else "missing arguments")
    src, dst, text = args
    names = (os.fsencode(src), os.fsencode(dst))
    try:
        # FACTOR as the engine reads it for every program: the tool's rule.
        factors, why = _engine.parse_factor(os.fsencode(text))
        if factors is None:
            return _usage_error(
                "factor %s is out of range: each factor is a whole number from 1 to 2147483647"
                % text if why == 2 else
                'FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not "%s"' % text)
        for name, stream, closed in ((src, sys.stdin, _engine.E_INPUT_STREAM_CLOSED),
                                     (dst, sys.stdout, _engine.E_OUTPUT_STREAM_CLOSED)):
            if name == "-" and stream is None:  # its descriptor was closed at start
                raise bmpresizer._fail(closed, *names, factors)
        if sys.stdout is not None:
            sys.stdout.flush()  # the engine writes descriptor 1 itself
        bmpresizer._enlarge_paths(src, dst, factors, None, _engine.STANDARD_STREAMS, names)
    except bmpresizer.BMPResizerError as error:
        sys.stderr.write("bmpresizer: %s\n" % error)
        return error.code
    except OSError as error:  # the library cannot be loaded
        sys.stderr.write("bmpresizer: %s\n" % error)
        return 1
    return 0


if __name__ == "__main__":
    try:
        status = main()
    except KeyboardInterrupt:
        # As the tool ends: by the signal itself, which the shell sees.
        sys.stderr.flush()
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        os.kill(os.getpid(), signal.SIGINT)
        status = 130
    sys.exit(status)
