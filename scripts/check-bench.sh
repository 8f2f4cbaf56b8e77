#!/bin/sh
# Keeps the benchmarks building and running; the figures themselves are
# read from docs/benchmarks.md, made by bench/compare.sh, never judged here.
set -eu
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}

scripts/install-deps.sh libbenchmark-dev

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLIMRA_WERROR=ON \
    -DGLIMRA_BUILD_BENCH=ON -DGLIMRA_BUILD_TESTS=OFF
cmake --build "$build" -j2
"$build/bench/glimra_kernel_bench" --benchmark_min_time=0.05
