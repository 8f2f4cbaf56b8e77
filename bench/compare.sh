#!/bin/bash
# Times glimra over a generated corpus beside the plain FreeImage decode
# floor and other image comparison tools, paired: for each pair every tool
# runs once per round, in turn (bench/paired.py), so a slow spell of this
# noisy machine falls on all of them alike. Writes docs/benchmarks.md and
# docs/benchmarks.png. Installs what it needs (the peers only here, never
# for the build or the tests). Not part of CI.
#
#   bench/compare.sh            full run (about half an hour on two cores)
#   RUNS=9 bench/compare.sh     rounds per pair (default 5)
#   SMALL_RUNS=200 ...          rounds per pair of 320x240 and smaller
#                               (default 100: a run takes milliseconds,
#                               and this machine's noise is as large)
#   PAIRS=4k bench/compare.sh   only pairs whose name contains 4k
#   PEERS=0 bench/compare.sh    glimra, the floor and odiff only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=${GLIMRA_BENCH_DIR:-/tmp/glimra-bench}
runs=${RUNS:-5}
small_runs=${SMALL_RUNS:-100}
pairs_filter=${PAIRS:-}
peers=${PEERS:-1}
build=$root/build-bench

extra="gnuplot-nox time libbenchmark-dev"
[ "$peers" = 1 ] && extra="$extra imagemagick graphicsmagick"
command -v npm >/dev/null || extra="$extra npm"
# shellcheck disable=SC2086
scripts/install-deps.sh $extra
node_modules=$work/node/node_modules
if [ ! -x "$node_modules/@odiff/linux-x64/odiff" ]; then
    mkdir -p "$work/node"
    npm install --prefix "$work/node" --no-audit --no-fund --silent odiff-bin@4 pixelmatch pngjs
fi
# odiff's own binary: its npm wrapper would add a Node.js start to every run.
odiff=$node_modules/@odiff/linux-x64/odiff

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLIMRA_BUILD_BENCH=ON \
    -DGLIMRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

corpus=$work/corpus
if [ ! -f "$corpus/.complete" ]; then
    rm -rf "$corpus"
    mkdir -p "$corpus"
    "$build/bench/glimra_make_corpus" "$corpus"
    for base in "$corpus"/*_a.*; do
        cp "$base" "${base/_a./_copy.}"
    done
    touch "$corpus/.complete"
fi

# name|file A|file B: same pixels in other bytes, byte-identical, 1 pixel
# and 10 % of the pixels different (for "alpha" pictures in alpha only).
pair_list() {
    for size in 64x64 320x240 720p 1080p 4k 8k; do
        for ext in png bmp jpg; do
            [ "$ext" != png ] && [ "$size" != 4k ] && continue
            for content in photo screen alpha; do
                local n=${size}_${content}
                # RGBA screenshots with transparency exist at 720p and 4K.
                [ -f "$corpus/${n}_a.$ext" ] || continue
                for kind in same copy px1 pct10; do
                    echo "$n.$ext $kind|$corpus/${n}_a.$ext|$corpus/${n}_$kind.$ext"
                done
            done
        done
    done
    # With a PNG difference picture, glimra and odiff alone: a screenshot
    # pair, and odiff's own benchmark pair where it is at hand.
    echo "720p_screen.png diffpng|$corpus/720p_screen_a.png|$corpus/720p_screen_pct10.png"
    local peer=$root/../shared/peer-pictures
    if [ -f "$peer/www.cypress.io.png" ]; then
        for kind in differs diffpng; do
            echo "cypress_screen.png $kind|$peer/www.cypress.io.png|$peer/www.cypress.io-1.png"
        done
    fi
}

results=$work/results
rm -rf "$results"
mkdir -p "$results"

tools="glimra floor odiff"
[ "$peers" = 1 ] && tools="$tools imagemagick graphicsmagick pixelmatch"

# Prints the command of one tool for one pair, or nothing when the tool
# cannot read that format.
command_for() {
    local tool=$1 a=$2 b=$3 kind=$4
    if [ "$kind" = diffpng ]; then
        case $tool in
            glimra) echo "$build/glimra $a $b $work/difference.glimra.png" ;;
            odiff) echo "$odiff $a $b $work/difference.odiff.png --threshold 0" ;;
        esac
        return 0
    fi
    case $tool in
        glimra) echo "$build/glimra $a $b" ;;
        floor) echo "$build/bench/glimra_decode_floor $a $b" ;;
        odiff) echo "$odiff $a $b --threshold 0" ;;
        imagemagick) echo "compare -metric AE $a $b null:" ;;
        graphicsmagick) echo "gm compare -metric mae -maximum-error 0 $a $b" ;;
        pixelmatch) [[ $a == *.png ]] && echo "$node_modules/.bin/pixelmatch $a $b '' 0 true" ;;
    esac
}

index=0
while IFS='|' read -r name a b; do
    [ -n "$pairs_filter" ] && [[ $name != *"$pairs_filter"* ]] && continue
    index=$((index + 1))
    echo "$index|$name" >>"$results/pairs"
    commands=()
    for tool in $tools; do
        cmd=$(command_for "$tool" "$a" "$b" "${name#* }") || true
        [ -z "$cmd" ] && continue
        commands+=("$tool=$cmd")
        # One run under time(1) for the peak resident size; it also warms
        # the page cache for the timed rounds.
        /usr/bin/time -f "%M" -o "$results/$index.$tool.mem" bash -c "$cmd" >/dev/null 2>&1 || true
    done
    rounds=$runs
    case $name in 64x64_* | 320x240_*) rounds=$small_runs ;; esac
    bench/paired.py -r "$rounds" -w 1 --json "$results/$index.json" "${commands[@]}" >/dev/null
    echo "measured $name"
done < <(pair_list)

"$build/bench/glimra_kernel_bench" --benchmark_min_time=0.5 --benchmark_format=json \
    >"$results/kernels.json" 2>/dev/null
python3 bench/report.py "$results" "$tools" "$runs" "$root/docs"
gnuplot "$results/chart.gp"
echo "wrote docs/benchmarks.md and docs/benchmarks.png"
