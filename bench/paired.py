#!/usr/bin/env python3
"""Times commands side by side, interleaved, for paired ratios on a noisy machine.

    bench/paired.py [-r RUNS] [-w WARMUP] NAME=COMMAND NAME=COMMAND ...

Each round runs every command once, in turn (starting one command later
each round), so that a slow spell of the machine falls on all of them
alike. For each command it prints the median and the min-max range of
wall time and of CPU time (user + system, from wait4), and for every
command after the first its ratio to the first, computed round by round:
median and min-max range of the paired ratios. After the rounds each command
runs once more under /usr/bin/time for its peak resident memory (it and the
processes it waited for): measured from the rounds themselves, the peak
would hold this script's own memory, which a child keeps across exec.
The exit status of a command does not matter (glimra answers with 1).
With --json FILE the raw times are written there too.
"""
import argparse
import json
import os
import shlex
import statistics
import subprocess
import tempfile
import time


def run_once(argv):
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, _, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    return wall, usage.ru_utime + usage.ru_stime


def peak_kib(argv):
    """The peak resident memory of one run of argv, from GNU time."""
    with tempfile.NamedTemporaryFile(mode="r") as out:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", out.name] + argv,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(out.read().split()[-1])


def describe(values, unit=1000.0, suffix=" ms"):
    return "%.2f%s (%.2f–%.2f)" % (statistics.median(values) * unit, suffix,
                                   min(values) * unit, max(values) * unit)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("-r", "--runs", type=int, default=20)
    parser.add_argument("-w", "--warmup", type=int, default=2)
    parser.add_argument("--json")
    parser.add_argument("commands", nargs="+", metavar="NAME=COMMAND")
    args = parser.parse_args()

    named = []
    for item in args.commands:
        name, _, command = item.partition("=")
        named.append((name, shlex.split(command)))

    for _ in range(args.warmup):
        for _, argv in named:
            run_once(argv)
    walls = {name: [] for name, _ in named}
    cpus = {name: [] for name, _ in named}
    for round_number in range(args.runs):
        # Each round starts with the next command: what one command leaves
        # behind (freed memory the machine must give back, cold caches)
        # then falls on every command in turn, not always on the first.
        start = round_number % len(named)
        for name, argv in named[start:] + named[:start]:
            wall, cpu = run_once(argv)
            walls[name].append(wall)
            cpus[name].append(cpu)

    peaks = {name: peak_kib(argv) for name, argv in named}
    base = named[0][0]
    for name, _ in named:
        line = "%-14s wall %s  cpu %s  peak %.1f MiB" % (name, describe(walls[name]), describe(cpus[name]),
                                                         peaks[name] / 1024)
        if name != base:
            wall_ratio = [a / b for a, b in zip(walls[name], walls[base])]
            cpu_ratio = [a / b for a, b in zip(cpus[name], cpus[base]) if b > 0]
            line += "  ×%s: wall %s  cpu %s" % (base, describe(wall_ratio, 1, ""),
                                                 describe(cpu_ratio, 1, ""))
        print(line)
    if args.json:
        with open(args.json, "w") as out:
            json.dump({"runs": args.runs, "wall": walls, "cpu": cpus, "peakKiB": peaks}, out)


if __name__ == "__main__":
    main()
