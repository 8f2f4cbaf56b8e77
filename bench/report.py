"""Turns the measurements of bench/compare.sh into docs/benchmarks.md and
the gnuplot script of docs/benchmarks.png.

usage: report.py RESULTS_DIR "TOOLS" RUNS DOCS_DIR
"""
import json
import os
import platform
import subprocess
import sys
from statistics import median

FRAMES = {"64x64": 64 * 64 * 3, "320x240": 320 * 240 * 3, "720p": 1280 * 720 * 3,
          "1080p": 1920 * 1080 * 3, "4k": 3840 * 2160 * 3, "8k": 7680 * 4320 * 3,
          "cypress": 3446 * 10728 * 3}
KINDS = {"same": "same pixels, other bytes", "copy": "byte-identical files",
         "px1": "1 pixel differs", "pct10": "10 % of pixels differ",
         "differs": "differ, no difference picture", "diffpng": "differ, PNG difference picture"}


def ratio(times, tool, other):
    """Median and range of tool/other, round by round."""
    pairs = [a / b for a, b in zip(times[tool], times[other]) if b > 0]
    return median(pairs), min(pairs), max(pairs)


def load(results, index, tools):
    run = json.load(open(os.path.join(results, f"{index}.json")))
    data = {}
    for tool in tools:
        if tool not in run["wall"]:
            continue
        with open(os.path.join(results, f"{index}.{tool}.mem")) as f:
            lines = [line for line in f.read().split() if line.isdigit()]
        data[tool] = {"wall": median(run["wall"][tool]) * 1000,
                      "cpu": median(run["cpu"][tool]) * 1000,
                      "peak": int(lines[-1]) * 1024 if lines else 0}
    return run, data


def machine():
    cpu = "unknown processor"
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    return f"{os.cpu_count()} cores, {cpu}, Linux {platform.release()}"


def kernel_table(path):
    if not os.path.exists(path):
        return []
    rates = {}
    for b in json.load(open(path))["benchmarks"]:
        name, w, h = b["name"].split("/")
        rates[(name[3:], w[2:] + "x" + h[2:])] = b["bytes_per_second"] / 1e9
    sizes = sorted({s for _, s in rates}, key=lambda s: int(s.split("x")[0]))
    out = ["| kernel | " + " | ".join(sizes) + " |", "|---" * (len(sizes) + 1) + "|"]
    for kernel in ["Memcpy", "CompareBlocks", "DiffAbsDelta", "DiffXor", "DiffAbsDelta_scalar",
                   "DiffXor_scalar"]:
        cells = []
        for s in sizes:
            rate = rates.get((kernel, s))
            ratio = rate / rates[("Memcpy", s)]
            cells.append(f"{rate:.1f} GB/s" + ("" if kernel == "Memcpy" else f" ({ratio:.2f}×)"))
        out.append(f"| {kernel} | " + " | ".join(cells) + " |")
    return out


def fmt(r):
    return f"{r[0]:.2f} ({r[1]:.2f}–{r[2]:.2f})"


def main():
    results, tools, runs, docs = sys.argv[1], sys.argv[2].split(), sys.argv[3], sys.argv[4]
    pairs = [line.strip().split("|") for line in open(os.path.join(results, "pairs"))]
    peers = [t for t in tools if t not in ("glimra", "floor")]

    summary = ["| pair | what | glimra CPU | ×odiff CPU | ×floor wall | ×floor CPU "
               "| lowest peer CPU | glimra peak | ×frame |",
               "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    full = ["| pair | tool | wall ms | CPU ms | peak MiB |", "|---|---|---:|---:|---:|"]
    misses = []
    charted = {}
    rounds = {}
    for i, name in pairs:
        label, kind = name.split()
        run, data = load(results, i, tools)
        small = label.split("_")[0] in ("64x64", "320x240")
        rounds.setdefault(small, set()).add(run["runs"])
        g = data["glimra"]
        frame = FRAMES[label.split("_")[0]]
        peer_cpu = [(data[p]["cpu"], p) for p in peers if p in data]
        low = min(peer_cpu) if peer_cpu else None
        if low and g["cpu"] >= low[0]:
            misses.append(f"{name} ({low[1]})")
        summary.append(
            f"| {label} | {KINDS[kind]} | {g['cpu']:.1f} ms | "
            + (fmt(ratio(run["cpu"], "glimra", "odiff")) if "odiff" in data else "–") + " | "
            + (fmt(ratio(run["wall"], "glimra", "floor")) if "floor" in data else "–") + " | "
            + (fmt(ratio(run["cpu"], "glimra", "floor")) if "floor" in data else "–") + " | "
            + (f"{low[0]:.1f} ms ({low[1]})" if low else "–")
            + f" | {g['peak'] / 2**20:.1f} MiB | {g['peak'] / frame:.2f} |")
        for t in tools:
            d = data.get(t)
            if d is None:
                full.append(f"| {name} | {t} | – | – | – |")
                continue
            full.append(f"| {name} | {t} | {d['wall']:.1f} | {d['cpu']:.1f} | "
                        f"{d['peak'] / 2**20:.1f} |")
        charted[name] = data

    with open(os.path.join(results, "chart.dat"), "w") as out:
        out.write("# pair " + " ".join(tools) + "\n")
        for _, name in pairs:
            cells = [f"{charted[name][t]['cpu']:.2f}" if t in charted[name] else "?" for t in tools]
            out.write(f"\"{name}\" " + " ".join(cells) + "\n")
    chart_data = os.path.join(results, "chart.dat")
    columns = ", ".join(
        f"{repr(chart_data) if n == 0 else repr('')} using {n + 2}{':xtic(1)' if n == 0 else ''}"
        f" title '{t}'" for n, t in enumerate(tools))
    with open(os.path.join(results, "chart.gp"), "w") as out:
        out.write(f"""set terminal pngcairo size 2000,700 font ',10'
set output '{os.path.join(docs, 'benchmarks.png')}'
set datafile missing '?'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.9 border -1
set logscale y
set ylabel 'CPU time (user + system), ms (log scale, lower is better)'
set xtics rotate by -45 scale 0
set key top left
set grid ytics
set title 'glimra, the FreeImage decode floor and peer tools, median of paired rounds'
plot {columns}
""")

    # compare.sh gives small pairs more rounds: their runs take milliseconds.
    large, small = sorted(rounds.get(False, {runs})), sorted(rounds.get(True, set()))
    rounds_text = f"{'/'.join(map(str, large))} rounds"
    if small and small != large:
        rounds_text += f" ({'/'.join(map(str, small))} for pictures of 320×240 and smaller)"
    md = ["# Benchmarks", "",
          "Made by `bench/compare.sh` (whole runs) and `build-bench/bench/glimra_kernel_bench` "
          f"(kernels, Google Benchmark). Machine: {machine()}, a noisy virtual machine, so "
          "every figure comes from paired runs: for each pair the tools run once per round, "
          "in turn, each round starting with the next tool "
          f"(`bench/paired.py`), for {rounds_text} after one to warm up, on a warm "
          "page cache. Times are medians; a ratio is the median (and in brackets the range) "
          "of the per-round ratios. CPU is user + system time of the process. Peak memory is "
          "the maximum resident size from one further run under `/usr/bin/time -f %M`.",
          "",
          "The *floor* (`bench/decode_floor.cpp`) only identifies, loads and converts both "
          "files with FreeImage (`FreeImage_GetFileType`, `FreeImage_Load` with the flags an "
          "exact comparison needs, `FreeImage_ConvertTo24Bits`), as a plain FreeImage-based "
          "comparison must at least do. ×floor and ×odiff are glimra's time over theirs "
          "(below 1: glimra is faster); ×frame is glimra's peak resident size over the size of "
          "one 24-bit frame of the pair.",
          "",
          "Peers, run only here: odiff 4 (npm `odiff-bin`; its static binary "
          "`@odiff/linux-x64/odiff` is run directly, not through its Node.js wrapper) "
          "`odiff A B --threshold 0`, ImageMagick `compare -metric AE A B null:`, "
          "GraphicsMagick `gm compare -metric mae -maximum-error 0 A B`, pixelmatch (npm) "
          "`pixelmatch A B '' 0 true` (threshold 0, anti-aliased pixels included; PNG only). "
          "No tool writes a difference picture, except in the pairs marked so, where glimra "
          "and odiff alone each write a PNG one. odiff decodes on two threads; so does "
          "glimra for a single pair of files from 256 KB; the floor runs on one.",
          "",
          "Corpus (`bench/make_corpus.cpp`, deterministic): photo-like pictures (gradients and "
          "noise, compress poorly) and screenshot-like ones (flat panels and text-like "
          "glyphs) at 64×64, 320×240, 1280×720, 1920×1080, 3840×2160 and 7680×4320 as PNG, "
          "and at 3840×2160 also as BMP and JPEG. Each base picture is compared with the same "
          "pixels stored with other encoder settings (PNG compression level, 32-bit BMP, "
          "progressive JPEG), a byte-identical copy, a copy with one pixel changed and one "
          "with 10 % of the pixels changed. *cypress* is odiff's own benchmark pair, two "
          "3446×10728 screenshots of one web page (`../shared/peer-pictures`, MIT), "
          "measured when present.",
          "", "## Summary", ""] + summary + [
          "",
          ("glimra's CPU time is below every peer's on every pair."
           if not misses else
           "Pairs where a peer used less CPU than glimra: " + ", ".join(misses) + "."),
          "", "![CPU times](benchmarks.png)", "",
          "## Kernels", "",
          "Warm buffers of picture size, allocated through `CreateImage`; GB/s counts the "
          "bytes of one input picture per call, for memcpy the bytes copied. "
          "In brackets the ratio to memcpy of the same size. A kernel reads two buffers and "
          "writes one (CompareBlocks only reads two), memcpy reads one and writes one.", ""] + kernel_table(
              os.path.join(results, "kernels.json")) + [
          "", "## All measurements", ""] + full + [""]
    with open(os.path.join(docs, "benchmarks.md"), "w") as out:
        out.write("\n".join(md))


if __name__ == "__main__":
    main()
