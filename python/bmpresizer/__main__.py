"""python -m bmpresizer INPUT OUTPUT FACTOR: the bmpresize tool's single-file
form, through the library. Exit status 0 on success, 2 for wrong arguments,
otherwise the library's code (3 to 7); the reason goes to standard error."""

import re
import sys

import bmpresizer

USAGE = """\
usage: python -m bmpresizer INPUT OUTPUT FACTOR
Enlarges the 24-bit BMP file INPUT FACTOR times into OUTPUT, through the
bmpresizer library (every pixel repeated FACTOR times across and down).

Exit status: 0 on success, 2 for wrong arguments, otherwise the library's code:
  3  INPUT cannot be opened ("Could not open INPUT." on standard output)
  4  OUTPUT cannot be created, or it is INPUT
  5  INPUT is not a 24-bit uncompressed BMP, or it is truncated
  6  the enlarged image cannot be a BMP (factor below 1, over 4 GiB, ...)
  7  a read or write failed (disk full, I/O error)
"""


def _usage_error(problem):
    sys.stderr.write(
        "bmpresizer: %s\nTry 'python -m bmpresizer --help' for more information.\n" % problem
    )
    return 2


def main(argv=None):
    args = sys.argv[1:] if argv is None else list(argv)
    if args and args[0] in ("-h", "--help"):
        sys.stdout.write(USAGE)
        return 0
    if args and args[0] == "--version":
        sys.stdout.write("bmpresizer %s\n" % bmpresizer.__version__)
        return 0
    if args and args[0] == "--":
        args = args[1:]
    if len(args) != 3:
        return _usage_error("too many arguments" if len(args) > 3 else "missing arguments")
    src, dst, text = args
    # FACTOR as the tool takes it: a whole number in decimal that a C int
    # holds; the library refuses 0 and negative ones itself.
    if not re.fullmatch(r"[+-]?[0-9]+", text):
        return _usage_error('FACTOR must be a whole number, not "%s"' % text)
    factor = int(text)
    if not -(2**31) <= factor <= 2**31 - 1:
        return _usage_error(
            "factor %s is out of range: FACTOR is a whole number from 1 to 2147483647" % text
        )
    try:
        bmpresizer.enlarge(src, dst, factor)
    except bmpresizer.BMPResizerError as error:
        sys.stderr.write("bmpresizer: %s\n" % error)
        return error.code
    except OSError as error:  # the library itself was not found
        sys.stderr.write("bmpresizer: %s\n" % error)
        return 1
    except ValueError as error:  # a path with a null character
        return _usage_error(str(error))
    return 0


if __name__ == "__main__":
    sys.exit(main())
