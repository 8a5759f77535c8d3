#!/usr/bin/env python3
"""The Python package against Pillow and numpy, and on several threads.

    PYTHONPATH=python BMPRESIZE_LIBRARY=build/src/libbmpresize.so.1 \
        python3 bench/python_bench.py [--runs N] [--width W] [--height H] [--factor F]

A random 24-bit image (4000 x 3000 by default) enlarged 3 times in memory:
bmpresizer.enlarge_bytes; Pillow's open + resize(NEAREST) + save to a
BytesIO; numpy's a.repeat(F, 0).repeat(F, 1) on the array Pillow decoded
(the repetition alone: no decoding, no encoding). Then four enlarge_bytes
calls of a 2000 x 1500 image, one after the other and on four threads, the
same with 50 calls each of a 400 x 300 image (outputs the cache holds), and
four enlarge calls into files in a temporary folder. Prints the median
of N runs of each (seconds), how many times as fast bmpresizer is as each
other way, and the four threads as the calls in a row; as a reference for
what threads gain on the machine, four sha256 of as many bytes (hashlib also
runs without the GIL). Pillow and numpy are optional.
"""

import argparse
import hashlib
import io
import os
import statistics
import struct
import sys
import tempfile
import threading
import time

import bmpresizer


def random_bmp(width, height):
    """A 24-bit bottom-up BMP of random pixels."""
    row = (width * 3 + 3) & ~3
    header = struct.pack("<2sIHHI", b"BM", 54 + row * height, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, row * height, 2835, 2835, 0, 0)
    return header + info + os.urandom(row * height)


def median_time(work, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def median_times(first, second, runs):
    """The median times of two works, run by turns so that a machine whose
    load changes meanwhile weighs on both alike."""
    times = ([], [])
    for _ in range(runs):
        for work, kept in zip((first, second), times):
            start = time.perf_counter()
            work()
            kept.append(time.perf_counter() - start)
    return statistics.median(times[0]), statistics.median(times[1])


def on_threads(works):
    threads = [threading.Thread(target=work) for work in works]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--width", type=int, default=4000)
    parser.add_argument("--height", type=int, default=3000)
    parser.add_argument("--factor", type=int, default=3)
    args = parser.parse_args()
    factor, runs = args.factor, args.runs
    data = random_bmp(args.width, args.height)
    rows = []

    def row(name, seconds, slower=None, faster=None):
        """A row; its note: how many times `slower` (a time) this row is
        faster, or this row is faster than `faster`."""
        note = ""
        if slower is not None:
            note = "%.1fx as fast" % (slower / seconds)
        elif faster is not None:
            note = "bmpresizer %.1fx as fast" % (seconds / faster)
        rows.append((name, seconds, note))

    ours = median_time(lambda: bmpresizer.enlarge_bytes(data, factor), runs)
    row("bmpresizer.enlarge_bytes", ours)
    try:
        from PIL import Image
    except ImportError:
        Image = None
    if Image is not None:
        def pillow():
            with Image.open(io.BytesIO(data)) as image:
                out = io.BytesIO()
                image.resize((image.width * factor, image.height * factor), Image.NEAREST).save(out, "BMP")
                return out.getvalue()
        row("Pillow open + resize(NEAREST) + save", median_time(pillow, runs), faster=ours)
        try:
            import numpy
        except ImportError:
            numpy = None
        if numpy is not None:
            with Image.open(io.BytesIO(data)) as image:
                array = numpy.asarray(image)
            row("numpy a.repeat(%d, 0).repeat(%d, 1)" % (factor, factor),
                median_time(lambda: array.repeat(factor, 0).repeat(factor, 1), runs), faster=ours)

    small = random_bmp(2000, 1500)
    def threads_versus_a_row(name, calls):
        in_a_row, threaded = median_times(lambda: [call() for call in calls],
                                          lambda: on_threads(calls), runs)
        row(name % "in a row", in_a_row)
        row(name % "4 threads", threaded, slower=in_a_row)

    threads_versus_a_row("4 x enlarge_bytes 2000x1500 x3, %s",
                         [lambda: bmpresizer.enlarge_bytes(small, 3)] * 4)
    # The same with outputs that the processor's cache holds (3 MB), so
    # that memory's own speed, which the threads share, weighs less.
    tiny = random_bmp(400, 300)
    threads_versus_a_row("4 x 50 enlarge_bytes 400x300 x3, %s",
                         [lambda: [bmpresizer.enlarge_bytes(tiny, 3) for _ in range(50)]] * 4)
    # What threads gain on this machine anyway: hashlib, which also lets
    # other threads run while it works, on data of the outputs' size.
    output = bmpresizer.enlarge_bytes(small, 3)
    threads_versus_a_row("4 x sha256 of 81 MB, %s (reference)",
                         [lambda: hashlib.sha256(output).digest()] * 4)
    with tempfile.TemporaryDirectory() as folder:
        src = os.path.join(folder, "in.bmp")
        with open(src, "wb") as f:
            f.write(small)
        files = [lambda i=i: bmpresizer.enlarge(src, os.path.join(folder, "out%d.bmp" % i), 3)
                 for i in range(4)]
        threads_versus_a_row("4 x enlarge to files 2000x1500 x3, %s", files)

    print("%dx%d 24-bit at factor %d, median of %d runs; bmpresizer %s, Python %s"
          % (args.width, args.height, factor, runs, bmpresizer.__version__, sys.version.split()[0]))
    print("%-46s %9s" % ("", "seconds"))
    for name, seconds, note in rows:
        print("%-46s %9.4f  %s" % (name, seconds, note))


if __name__ == "__main__":
    main()
