#!/bin/bash
# Runs the end-to-end suite with every start of the tool under valgrind's
# memcheck: any invalid access, use of uninitialised memory or definite leak
# makes that run exit 99, which fails its test.
# Usage: scripts/check-valgrind.sh [build-dir]   (default build-valgrind)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build-valgrind}"

scripts/install-deps.sh valgrind

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMRA_WERROR=ON
cmake --build "$build_dir" -j2 --target glimra glimra_e2e_tests

logs="$build_dir/valgrind-logs"
rm -rf "$logs"
mkdir -p "$logs"
wrapper="$build_dir/glimra-under-valgrind"
cat >"$wrapper" <<WRAPPER
#!/bin/sh
exec valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \\
    --track-origins=yes --suppressions="$PWD/tests/valgrind/glimra.supp" \\
    --log-file="$PWD/$logs/%p.log" "$PWD/$build_dir/glimra" "\$@"
WRAPPER
chmod +x "$wrapper"

# Left out, each for a reason of its own:
#  - the address-space sweep and the huge headers, which run under
#    RLIMIT_AS: valgrind itself needs far more address space than the tool;
#  - the full-disk save, which mounts a tmpfs and says nothing new here.
# The >4 GiB picture is in its own (slow) executable and never runs here.
excluded="Limits.FullDiskOnSaveKeepsTheEarlierFile"
excluded="$excluded:Hostile.EveryAddressSpaceLimitGivesAnAnswerOrAMessage"
excluded="$excluded:Hostile.HeadersClaimingHugePicturesFailWithAMessage"
# The library hands over uninitialised pixels for a TGA cut inside its first
# row: a library finding, reported once and not repeated on every run.
excluded="$excluded:Hostile.TgaCutInsideItsFirstRowStillDiffers"

status=0
GLIMRA_BINARY="$PWD/$wrapper" "$build_dir/tests/glimra_e2e_tests" \
    --gtest_filter="-$excluded" --gtest_brief=1 || status=$?

runs=$(find "$logs" -name '*.log' | wc -l)
reports=$(find "$logs" -name '*.log' -size +0 | wc -l)
echo "valgrind: $runs runs of the tool, $reports with a report"
for log in $(find "$logs" -name '*.log' -size +0 | head -n 5); do
    echo "== $log"
    head -n 60 "$log"
done
[ "$status" -eq 0 ] && [ "$reports" -eq 0 ]
