#!/bin/bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang++, warnings as errors) and runs the whole test suite on that build.
# Any finding aborts the process that made it, so the test that ran it fails.
# Usage: scripts/check-sanitizers.sh [build-dir]   (default build-asan)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build-asan}"

scripts/install-deps.sh clang libclang-rt-14-dev

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DGLIMRA_WERROR=ON \
    -DGLIMRA_SANITIZE_ADDRESS=ON -DGLIMRA_SANITIZE_UNDEFINED=ON
cmake --build "$build_dir" -j2

# allocator_may_return_null: a request the allocator cannot meet returns
# null, as it does without the sanitizer, so the tool's own out-of-memory
# road is what gets tested instead of a sanitizer abort.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build_dir" --output-on-failure --timeout 600 -j2 -LE slow
