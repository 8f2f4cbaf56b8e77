#!/bin/sh
# Builds with clang++ and warnings as errors, and runs the whole suite: the
# code must stay warning-free on both compilers, not only on g++.
set -eu
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-clang}

scripts/install-deps.sh clang

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DGLIMRA_WERROR=ON
cmake --build "$build" -j2
# The slow picture beyond 4 GiB has its own CI step; once is enough.
ctest --test-dir "$build" --output-on-failure --timeout 600 -j2 -LE slow
