#!/usr/bin/env python3
"""Times many small pairs three ways: one directory run of glimra (one
worker and two), a run of glimra per pair, and odiff per pair.

    bench/batch.py [--pairs N] [--rounds R] [--odiff PATH] [--out docs/benchmarks-batch.md]
    bench/batch.py --report [--pairs N] [--rounds R]

With --report: a tree where every pair differs in one pixel, one
directory run (two workers) with and one without --report, in turn; it
prints what the report adds.

The trees come from `glimra_make_corpus --batch` (1000 screenshot-like
320x240 PNG pairs, every tenth differing in one pixel, the others the same
pixels in other bytes). The ways are measured in turn, round after round,
so that a slow spell of the machine falls on all of them; per-pair runs
are started directly (no shell), and each process's CPU time (user +
system, its workers included) comes from wait4. Medians and min-max
ranges over the rounds.
"""
import argparse
import os
import shutil
import subprocess

from paired import describe, run_once

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def each_pair(command, names, tree):
    wall = cpu = 0.0
    for name in names:
        w, c = run_once(command(os.path.join(tree, "a", name), os.path.join(tree, "b", name)))
        wall += w
        cpu += c
    return wall, cpu


def make_tree(build, tree, pairs, every):
    if not os.path.isdir(os.path.join(tree, "b")):
        for side in ("a", "b"):
            os.makedirs(os.path.join(tree, side), exist_ok=True)
        subprocess.check_call([os.path.join(build, "bench", "glimra_make_corpus"), "--batch",
                               tree, str(pairs), str(every)])


def report_cost(glimra, tree, rounds):
    a, b = os.path.join(tree, "a"), os.path.join(tree, "b")
    report = os.path.join(tree, "report")
    ways = {"without --report": [glimra, a, b, "--jobs=2"],
            "with --report": [glimra, a, b, "--jobs=2", "--report=" + report]}
    walls = {way: [] for way in ways}
    cpus = {way: [] for way in ways}
    for _ in range(rounds):
        for way, command in ways.items():
            shutil.rmtree(report, ignore_errors=True)
            wall, cpu = run_once(command)
            walls[way].append(wall)
            cpus[way].append(cpu)
    for way in ways:
        print(f"{way}: wall {describe(walls[way], 1, ' s')}, CPU {describe(cpus[way], 1, ' s')}")
    added = [w - o for w, o in zip(walls["with --report"], walls["without --report"])]
    ratio = [a / o for a, o in zip(added, walls["without --report"])]
    print(f"the report adds {describe(added, 1, ' s')} of wall time, "
          f"{describe(ratio, 1, '')} of the comparison's")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pairs", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--tree", default="/tmp/glimra-bench/batch")
    parser.add_argument("--odiff", default="/tmp/glimra-bench/node/node_modules/@odiff/linux-x64/odiff")
    parser.add_argument("--out", default=os.path.join(ROOT, "docs", "benchmarks-batch.md"))
    parser.add_argument("--report", action="store_true")
    args = parser.parse_args()

    build = os.path.join(ROOT, "build-bench")
    glimra = os.path.join(build, "glimra")
    if args.report:
        tree = args.tree + "-differing"
        make_tree(build, tree, args.pairs, 1)
        report_cost(glimra, tree, args.rounds)
        return
    make_tree(build, args.tree, args.pairs, 10)
    names = sorted(os.listdir(os.path.join(args.tree, "a")))
    # The directory runs compare the whole tree, the per-pair runs these
    # names: both must be the same pairs.
    if len(names) != args.pairs:
        raise SystemExit(f"{args.tree} holds {len(names)} pairs, not {args.pairs}: "
                         "remove it or give that --pairs")
    a, b = os.path.join(args.tree, "a"), os.path.join(args.tree, "b")

    ways = {
        "directory, 1 worker": lambda: run_once([glimra, a, b, "--jobs=1"]),
        "directory, 2 workers": lambda: run_once([glimra, a, b, "--jobs=2"]),
        "glimra per pair": lambda: each_pair(lambda x, y: [glimra, x, y], names, args.tree),
        "odiff per pair": lambda: each_pair(lambda x, y: [args.odiff, x, y, "--threshold", "0"],
                                            names, args.tree),
    }
    walls = {way: [] for way in ways}
    cpus = {way: [] for way in ways}
    for _ in range(args.rounds):
        for way, measure in ways.items():
            wall, cpu = measure()
            walls[way].append(wall)
            cpus[way].append(cpu)

    n = len(names)
    lines = ["# Many pairs", "",
             f"Made by `bench/batch.py` on {os.cpu_count()} cores: {n} screenshot-like 320×240 "
             "PNG pairs (every tenth differs in one pixel, the others hold the same pixels in "
             "other bytes), measured in turn, round after round, "
             f"{args.rounds} rounds; medians and (min–max). CPU is user + system time of the "
             "process and everything it started.", "",
             "| way | wall for all | CPU for all | CPU per pair |", "|---|---:|---:|---:|"]
    for way in ways:
        lines.append(f"| {way} | {describe(walls[way], 1, ' s')} | {describe(cpus[way], 1, ' s')} | "
                     f"{describe([c / n for c in cpus[way]], 1000, ' ms')} |")
    speedups = [w1 / w2 for w1, w2 in zip(walls["directory, 1 worker"], walls["directory, 2 workers"])]
    per_pair = [c / o for c, o in zip(cpus["directory, 2 workers"], cpus["odiff per pair"])]
    lines += ["", f"Two workers against one: {describe(speedups, 1, '×')} faster (wall, round by round).",
              f"CPU per pair of the directory run (two workers) over odiff's per pair: "
              f"{describe(per_pair, 1, '')}.", ""]
    with open(args.out, "w") as out:
        out.write("\n".join(lines))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
