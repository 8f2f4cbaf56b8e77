#!/bin/bash
# Fuzzes with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer,
# each target in turn for the given time:
#   glimra_load_and_diff_fuzzer  loading (our readers, then the library) and comparing
#   glimra_own_readers_fuzzer    our PNG, BMP and JPEG readers against the library
#   glimra_inflate_fuzzer        the PNG row reader's inflaters (ISA-L, libdeflate) against zlib
#   glimra_row_readers_fuzzer    PNG, BMP and JPEG rows in batches against the whole picture
# Usage: scripts/fuzz.sh [seconds per target] [build-dir]   (default 60 s, build-fuzz)
#
# The seeds are made by the build (tests/fuzz/make_fuzz_seeds.cpp); each
# target's corpus grows in <build-dir>/corpus-<target> across runs. The
# random seed is fixed (-seed=1), so a CI run replays the same mutations.
#
# Findings: a crash whose innermost frame is our code (or a sanitizer
# interceptor called by our code) fails the run. A crash that starts inside
# the system's picture libraries (FreeImage is old and has many published
# advisories we cannot patch) is recorded as a library finding: the
# reproducer is kept and printed, and the run still fails when it is by
# hand, but under CI (CI=true) it does not make the build red.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build_dir="${2:-build-fuzz}"
targets="glimra_load_and_diff_fuzzer glimra_own_readers_fuzzer glimra_inflate_fuzzer glimra_row_readers_fuzzer"

scripts/install-deps.sh clang libclang-rt-14-dev

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DGLIMRA_WERROR=ON -DGLIMRA_BUILD_TESTS=OFF \
    -DGLIMRA_BUILD_FUZZ=ON -DGLIMRA_SANITIZE_ADDRESS=ON -DGLIMRA_SANITIZE_UNDEFINED=ON
# shellcheck disable=SC2086
cmake --build "$build_dir" -j2 --target $targets glimra_make_fuzz_seeds

seeds="$build_dir/seeds"
findings="$build_dir/findings"
mkdir -p "$seeds" "$findings"
"$build_dir/tests/fuzz/glimra_make_fuzz_seeds" "$seeds"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Runs one target; fails only for a finding in our own code (or any
# finding when run by hand).
fuzz() {
    local target=$1
    local corpus="$build_dir/corpus-$target"
    local log="$build_dir/$target.log"
    mkdir -p "$corpus"
    local status=0
    # close_fd_mask=3: the tool's messages (stdout) and libtiff's warnings
    # (stderr) would drown the fuzzer's own report, which it still prints.
    "$build_dir/tests/fuzz/$target" "$corpus" "$seeds" \
        -seed=1 -max_total_time="$seconds" -use_value_profile=1 -rss_limit_mb=2048 -malloc_limit_mb=128 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
        >"$log" 2>&1 || status=$?

    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ *DONE' "$log" || true
    if [ "$status" -eq 0 ]; then
        echo "fuzz: $target, no findings in $seconds s"
        return 0
    fi
    tail -n 60 "$log"
    # The innermost frame of the first stack in the report.
    local frame
    frame=$(grep -m1 -E '^ *#0 ' "$log" || true)
    echo "fuzz: $target, finding, innermost frame: $frame"
    ls -l "$findings"
    if echo "$frame" | grep -qE '\((/usr)?/lib/x86_64-linux-gnu/lib[^)]*\)'; then
        echo "fuzz: the crash starts inside a system library, not in glimra's code"
        if [ "${CI:-}" = "true" ]; then
            return 0
        fi
    fi
    return 1
}

status=0
for target in $targets; do
    fuzz "$target" || status=1
done
exit $status
