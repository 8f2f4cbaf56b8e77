"""Turns the measurements of bench/compare.sh into docs/benchmarks.md and
the gnuplot script of docs/benchmarks.png.

usage: report.py RESULTS_DIR "TOOLS" RUNS DOCS_DIR
"""
import json
import os
import platform
import subprocess
import sys

FRAMES = {"1080p": 1920 * 1080 * 3, "4k": 3840 * 2160 * 3, "8k": 7680 * 4320 * 3}
KINDS = {"same": "same pixels, other bytes", "copy": "byte-identical files",
         "px1": "1 pixel differs", "pct10": "10 % of pixels differ"}


def load(results, index, tool):
    base = os.path.join(results, f"{index}.{tool}")
    if not os.path.exists(base + ".json"):
        return None
    run = json.load(open(base + ".json"))["results"][0]
    with open(base + ".mem") as f:
        lines = [line for line in f.read().split() if line.isdigit()]
    peak = int(lines[-1]) * 1024 if lines else 0
    return {"wall": run["mean"] * 1000, "cpu": (run["user"] + run["system"]) * 1000,
            "peak": peak}


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
    for kernel in ["Memcpy", "DiffAbsDelta", "DiffXor", "DiffAbsDelta_scalar", "DiffXor_scalar"]:
        cells = []
        for s in sizes:
            rate = rates.get((kernel, s))
            ratio = rate / rates[("Memcpy", s)]
            cells.append(f"{rate:.1f} GB/s" + ("" if kernel == "Memcpy" else f" ({ratio:.2f}×)"))
        out.append(f"| {kernel} | " + " | ".join(cells) + " |")
    return out


def main():
    results, tools, runs, docs = sys.argv[1], sys.argv[2].split(), sys.argv[3], sys.argv[4]
    pairs = [line.strip().split("|") for line in open(os.path.join(results, "pairs"))]
    peers = [t for t in tools if t not in ("glimra", "floor")]
    data = {(i, t): load(results, i, t) for i, _ in pairs for t in tools}

    summary = ["| pair | what | glimra wall | floor wall | ×floor | glimra CPU | lowest peer CPU "
               "| glimra peak | ×frame |", "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    full = ["| pair | tool | wall ms | CPU ms | peak MiB | ×floor |",
            "|---|---|---:|---:|---:|---:|"]
    misses = {"cpu": []}
    worst_frame = 0.0
    for i, name in pairs:
        label, kind = name.split()
        g, f = data[(i, "glimra")], data[(i, "floor")]
        frame = FRAMES[label.split("_")[0]]
        peer_cpu = [(data[(i, p)]["cpu"], p) for p in peers if data[(i, p)]]
        low = min(peer_cpu) if peer_cpu else None
        if low and g["cpu"] >= low[0]:
            misses["cpu"].append(f"{name} ({low[1]})")
        worst_frame = max(worst_frame, g["peak"] / frame)
        summary.append(
            f"| {label} | {KINDS[kind]} | {g['wall']:.0f} ms | {f['wall']:.0f} ms | "
            f"{g['wall'] / f['wall']:.2f} | {g['cpu']:.0f} ms | "
            + (f"{low[0]:.0f} ms ({low[1]})" if low else "–")
            + f" | {g['peak'] / 2**20:.0f} MiB | {g['peak'] / frame:.2f} |")
        for t in tools:
            d = data[(i, t)]
            if d is None:
                full.append(f"| {name} | {t} | – | – | – | – |")
                continue
            full.append(f"| {name} | {t} | {d['wall']:.0f} | {d['cpu']:.0f} | "
                        f"{d['peak'] / 2**20:.0f} | {d['wall'] / f['wall']:.2f} |")

    with open(os.path.join(results, "chart.dat"), "w") as out:
        out.write("# pair " + " ".join(tools) + "\n")
        for i, name in pairs:
            cells = [f"{data[(i, t)]['wall']:.1f}" if data[(i, t)] else "?" for t in tools]
            out.write(f"\"{name}\" " + " ".join(cells) + "\n")
    chart_data = os.path.join(results, "chart.dat")
    columns = ", ".join(
        f"{repr(chart_data) if n == 0 else repr('')} using {n + 2}{':xtic(1)' if n == 0 else ''}"
        f" title '{t}'" for n, t in enumerate(tools))
    with open(os.path.join(results, "chart.gp"), "w") as out:
        out.write(f"""set terminal pngcairo size 1600,700 font ',10'
set output '{os.path.join(docs, 'benchmarks.png')}'
set datafile missing '?'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.9 border -1
set logscale y
set ylabel 'wall time, ms (log scale, lower is better)'
set xtics rotate by -45 scale 0
set key top left
set grid ytics
set title 'glimra, the FreeImage decode floor and peer tools, mean of {runs} runs'
plot {columns}
""")

    md = ["# Benchmarks", "",
          "Made by `bench/compare.sh` (whole runs, with hyperfine) and "
          "`build-bench/bench/glimra_kernel_bench` (kernels, Google Benchmark). "
          f"Machine: {machine()}. Each whole-run figure is the mean of {runs} runs "
          "(`hyperfine -N --runs N`) on a warm page cache; peak memory is the maximum resident "
          "size from one further run under `/usr/bin/time -f %M`. CPU is user + system time.",
          "",
          "The *floor* (`bench/decode_floor.cpp`) only identifies, loads and converts both "
          "files with FreeImage (`FreeImage_GetFileType`, `FreeImage_Load`, "
          "`FreeImage_ConvertTo24Bits`), as a plain FreeImage-based comparison must at least do. "
          "×floor is the wall-time ratio to it in the same run; ×frame is glimra's peak "
          "resident size over the size of one 24-bit frame of the pair.",
          "",
          "Peers, run only here: ImageMagick `compare -metric AE A B null:`, GraphicsMagick "
          "`gm compare -metric mae -maximum-error 0 A B`, odiff (npm `odiff-bin`) "
          "`odiff A B --threshold 0`, pixelmatch (npm) `pixelmatch A B '' 0 true` "
          "(threshold 0, anti-aliased pixels included). pixelmatch reads PNG only, so it has "
          "no figures for the BMP and JPEG pairs. No tool writes a difference picture. "
          "odiff decodes on two threads; glimra and the floor run on one.",
          "",
          "Corpus (`bench/make_corpus.cpp`, deterministic): photo-like pictures (gradients and "
          "noise, compress poorly) and screenshot-like ones (flat panels and text-like "
          "glyphs) at 1920×1080, 3840×2160 and 7680×4320 as PNG, and at 3840×2160 also as "
          "BMP and JPEG. Each base picture is compared with the same pixels stored with other "
          "encoder settings (PNG compression level, 32-bit BMP, progressive JPEG), a "
          "byte-identical copy, a copy with one pixel changed and one with 10 % of the pixels "
          "changed.",
          "", "## Summary", ""] + summary + [
          "",
          f"Worst glimra peak memory: {worst_frame:.2f}× one 24-bit frame. "
          + ("glimra's CPU time is below every peer's on every pair."
             if not misses["cpu"] else
             "Pairs where a peer used less CPU than glimra: " + ", ".join(misses["cpu"]) + "."),
          "", "![wall times](benchmarks.png)", "",
          "## Kernels", "",
          "Warm buffers of picture size, allocated through `CreateImage`; GB/s counts the "
          "bytes of one input picture per call, for memcpy the bytes copied. "
          "In brackets the ratio to memcpy of the same size. A kernel reads two buffers and "
          "writes one, memcpy reads one and writes one.", ""] + kernel_table(
              os.path.join(results, "kernels.json")) + [
          "", "## All measurements", ""] + full + [""]
    with open(os.path.join(docs, "benchmarks.md"), "w") as out:
        out.write("\n".join(md))


if __name__ == "__main__":
    main()
