#!/usr/bin/env python3
"""Time commands: median wall time, its spread and peak resident memory.

    measure.py [--runs N] [--warmup W] [--remove PATH]... [--log PATH] \
        [--times PATH] [--warm PATH]... -- CMD ARG... [--and CMD ARG...]...

Runs each CMD W times (at least once) untimed under /usr/bin/time as a
warm-up that also gives the memory figure, then N rounds in which every CMD
runs once (so that a machine whose speed drifts during the measurement moves
every command's times alike), in orders chosen so that each command comes
first, and right after each other command, equally often (a Williams
design: what a run leaves behind can speed up or slow down the next one,
and merely starting each round one command further on kept every command
behind the same neighbour; N is rounded up to a whole number of passes over
the orders), and prints one line per CMD, in the order given:

    ok MEDIAN MIN MAX PEAK_RSS_KIB      (every run exited 0)
    fail EXIT_STATUS                    (a run failed; its stderr is in --log)

With several commands, the stderr of command K (counted from 1) goes to the
--log path with ".K" added.

MEDIAN, MIN and MAX are seconds of wall time over the timed runs, measured
with time.perf_counter around spawn + wait (sub-millisecond resolution,
unlike the 10 ms steps of /usr/bin/time's %e).

PEAK_RSS_KIB is /usr/bin/time's %M (maximum resident set size) for the
warm-up run(s), which run under /usr/bin/time for that purpose; the timed runs
are spawned directly so /usr/bin/time's own start-up (~0.7 ms) does not add to
the times. Why not read ru_maxrss from wait4() here: Python's posix_spawn
shares this interpreter's memory until exec, and Linux carries that
high-water mark (~14 MiB) over into the child's ru_maxrss. /usr/bin/time
forks from a small process, so its floor is ~1 MiB. For `bash -c 'a | b'`
the value is the largest of bash and the processes it waited for, not their
sum (Linux keeps the maximum of reaped children).

--times PATH writes every round's times, one line per round and one
tab-separated column of seconds per CMD in the order given ("-" for a
command that has failed): commands of the same round ran side by side, so
the ratio of two columns, round by round, cancels most of the machine's
drift, and its median is steadier than the ratio of the two medians.

Before every run the --remove files are deleted (so each run writes a fresh
file, none overwrites an old one) and sync() is called so write-back left
over from the previous run does not slow the next one down; then the --warm
files are read through, so that every run finds its input in the page cache:
a machine may page out what was not read for a while (this one's memory
manager pages out anything left alone for a minute), and the run that came
first after that paid for reading the disk, up to 300 ms on a 60 ms run.
Only the standard library is used.
"""

import argparse
import os
import sys
import tempfile
import time

TIME = "/usr/bin/time"


def run_once(argv, log_path):
    """Run argv once; return (exit_status, seconds)."""
    actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
               (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
               (os.POSIX_SPAWN_OPEN, 2, log_path,
                os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)]
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
    _, status = os.waitpid(pid, 0)
    seconds = time.perf_counter() - start
    return os.waitstatus_to_exitcode(status), seconds


def run_with_time(argv, log_path):
    """Run argv under /usr/bin/time; return (exit_status, maxrss_kib)."""
    fd, rss_path = tempfile.mkstemp(prefix="measure-rss-")
    os.close(fd)
    try:
        status, _ = run_once([TIME, "-f", "%M", "-o", rss_path, "--"] + argv,
                             log_path)
        with open(rss_path) as f:
            # On failure /usr/bin/time writes "Command exited with non-zero
            # status N" before the number; the number is always last.
            words = f.read().split()
        rss = int(words[-1]) if words and words[-1].isdigit() else 0
    finally:
        os.remove(rss_path)
    return status, rss


def balanced_orders(n):
    """Orders of range(n) in which each item comes first, and right after each
    other item, equally often: n of them (2n for odd n), each the first one
    shifted, the first being 0, 1, n-1, 2, n-2, ...; for odd n also each one
    reversed."""
    first, low, high = [0], 1, n - 1
    while len(first) < n:
        first.append(low)
        low += 1
        if len(first) < n:
            first.append(high)
            high -= 1
    orders = [[(c + r) % n for c in first] for r in range(n)]
    if n % 2 and n > 1:
        orders += [order[::-1] for order in orders]
    return orders


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--warmup", type=int, default=1)
    parser.add_argument("--remove", action="append", default=[])
    parser.add_argument("--log", default=os.devnull)
    parser.add_argument("--times")
    parser.add_argument("--warm", action="append", default=[])
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    words = args.command[1:] if args.command[:1] == ["--"] else args.command
    commands = [[]]
    for word in words:
        if word == "--and":
            commands.append([])
        else:
            commands[-1].append(word)
    if not all(commands):
        parser.error("no command given (or an empty one around --and)")

    def log_of(i):
        if len(commands) == 1 or args.log == os.devnull:
            return args.log
        return "%s.%d" % (args.log, i + 1)

    def fresh_start():
        # Every run writes a new file, and no write-back left over from the
        # run before slows it down.
        for path in args.remove:
            try:
                os.remove(path)
            except FileNotFoundError:
                pass
        os.sync()
        for path in args.warm:
            with open(path, "rb") as f:
                while f.read(1 << 20):
                    pass

    times = [[] for _ in commands]
    peak_rss = [0 for _ in commands]
    failed = [None for _ in commands]
    for i, command in enumerate(commands):
        for _ in range(max(1, args.warmup)):
            fresh_start()
            status, rss = run_with_time(command, log_of(i))
            peak_rss[i] = max(peak_rss[i], rss)
            if status != 0 and failed[i] is None:
                failed[i] = status
    rounds = []
    orders = balanced_orders(len(commands))
    runs = -(-args.runs // len(orders)) * len(orders)
    for round_number in range(runs):
        order = orders[round_number % len(orders)]
        this_round = ["-"] * len(commands)
        for i in order:
            command = commands[i]
            if failed[i] is not None:
                continue
            fresh_start()
            status, seconds = run_once(command, log_of(i))
            if status != 0:
                failed[i] = status
            times[i].append(seconds)
            this_round[i] = "%.6f" % seconds
        rounds.append(this_round)
    if args.times:
        with open(args.times, "w") as f:
            for this_round in rounds:
                f.write("\t".join(this_round) + "\n")
    for i in range(len(commands)):
        if failed[i] is not None:
            print("fail %d" % failed[i])
            continue
        t = sorted(times[i])
        median = t[len(t) // 2] if len(t) % 2 else \
            (t[len(t) // 2 - 1] + t[len(t) // 2]) / 2
        print("ok %.6f %.6f %.6f %d" % (median, t[0], t[-1], peak_rss[i]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
