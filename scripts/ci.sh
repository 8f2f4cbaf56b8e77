#!/bin/bash
# The CI driver: one named step per check, each in a build directory of its
# own that it configures once. `.ci/run` runs the README's `make test`
# (in build/) and then every step; any step runs alone, the same way:
#
#   scripts/ci.sh STEP...       e.g. scripts/ci.sh sanitizers
#   scripts/ci.sh list          the step names
#
# Every step installs the Debian packages it needs (scripts/install-deps.sh)
# and runs in a subshell of its own, so that the steps that install into
# the machine or mount a file system undo that (an EXIT trap) however they
# end.
set -euo pipefail
cd "$(dirname "$0")/.."

steps="slow clang scalar sanitizers valgrind fuzz bench package windows browser clients"

# Configures build directory $1 with the common flags and any further ones.
configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DGLIMRA_WERROR=ON "$@"
}

# The suite without the picture beyond 4 GiB, which has a step of its own.
run_suite() {
    local dir=$1
    shift
    ctest --test-dir "$dir" --output-on-failure --timeout 600 -j2 "$@"
}

# The full-disk test mounts a tmpfs in its own directory and unmounts it
# itself; a test killed halfway cannot, so whatever it left goes here.
unmount_test_disks() {
    local disk
    for disk in $(awk '$2 ~ /\/glimra-e2e-.*\/disk$/ { print $2 }' /proc/mounts); do
        umount "$disk" || true
    done
}

# The picture beyond 4 GiB: a minute and some 13 GB of memory.
step_slow() (
    scripts/install-deps.sh
    configure build-slow -DCMAKE_BUILD_TYPE=Release
    cmake --build build-slow -j2 --target glimra glimra_huge_e2e_tests
    ctest --test-dir build-slow --output-on-failure -L slow
)

# The code stays warning-free under clang++ too.
step_clang() (
    scripts/install-deps.sh clang
    trap unmount_test_disks EXIT
    configure build-clang -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++
    cmake --build build-clang -j2
    run_suite build-clang -LE slow
)

# The scalar twins in place of the vector kernels, as on a machine without SSE2.
step_scalar() (
    scripts/install-deps.sh
    trap unmount_test_disks EXIT
    configure build-scalar -DCMAKE_BUILD_TYPE=Release -DGLIMRA_FORCE_SCALAR=ON
    cmake --build build-scalar -j2
    run_suite build-scalar -LE slow
)

# AddressSanitizer and UBSan over the whole suite; any finding aborts the
# process that made it. Left out: the resource-limit tests
# (AddressSanitizer cannot live under an address-space limit) and the
# library's own faults (AddressSanitizer takes a crash over and ends the
# worker its own way).
step_sanitizers() (
    scripts/install-deps.sh clang libclang-rt-14-dev
    configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DGLIMRA_SANITIZE_ADDRESS=ON -DGLIMRA_SANITIZE_UNDEFINED=ON
    cmake --build build-asan -j2
    # allocator_may_return_null: a request the allocator cannot meet returns
    # null, as it does without the sanitizer, so the tool's own
    # out-of-memory road is what gets tested instead of a sanitizer abort.
    ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:abort_on_error=0" \
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        run_suite build-asan -LE 'slow|resource-limits|library-faults'
)

# The end-to-end suite with every start of the tool under memcheck: any
# invalid access, use of uninitialised memory or definite leak makes that
# run exit 99, which fails its test. Left out: the unit tests (they start
# no tool), tests under resource limits (valgrind needs far more address
# space) and the picture library's own faults (its findings, not ours).
step_valgrind() (
    scripts/install-deps.sh valgrind
    local dir=build-valgrind
    local logs=$PWD/$dir/valgrind-logs
    local wrapper=$PWD/$dir/glimra-under-valgrind
    mkdir -p "$dir"
    cat >"$wrapper" <<WRAPPER
#!/bin/sh
exec valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \\
    --track-origins=yes --trace-children=yes --suppressions="$PWD/tests/valgrind/glimra.supp" \\
    --log-file="$logs/%p.log" "$PWD/$dir/glimra" "\$@"
WRAPPER
    chmod +x "$wrapper"
    configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMRA_TEST_LAUNCHER="$wrapper"
    cmake --build "$dir" -j2
    rm -rf "$logs"
    mkdir -p "$logs"
    local status=0
    run_suite "$dir" -LE 'unit|docs|slow|resource-limits|library-faults' || status=$?
    local runs reports
    runs=$(find "$logs" -name '*.log' | wc -l)
    reports=$(find "$logs" -name '*.log' -size +0 | wc -l)
    echo "valgrind: $runs processes of the tool, $reports with a report"
    find "$logs" -name '*.log' -size +0 | head -n 5 | while read -r log; do
        echo "== $log"
        head -n 60 "$log"
    done
    [ "$status" -eq 0 ] && [ "$reports" -eq 0 ]
)

# libFuzzer over our loading and comparing path for a minute.
step_fuzz() (
    scripts/fuzz.sh 60 build-fuzz
)

# The benchmarks build and run; their figures are read from
# docs/benchmarks.md (bench/compare.sh), never judged here.
step_bench() (
    scripts/install-deps.sh libbenchmark-dev
    configure build-bench -DCMAKE_BUILD_TYPE=Release -DGLIMRA_BUILD_BENCH=ON -DGLIMRA_BUILD_TESTS=OFF
    cmake --build build-bench -j2
    build-bench/bench/glimra_kernel_bench --benchmark_min_time=0.05
)

# The HTML report in headless Chromium (Debian's), driven by playwright-core
# from the npm registry; its screenshot stays in build-browser/tests.
step_browser() (
    # nodejs brings npm where Debian's own is installed; a machine with
    # another nodejs package keeps it.
    scripts/install-deps.sh chromium nodejs
    command -v npm >/dev/null || scripts/install-deps.sh npm
    local dir=build-browser
    configure "$dir" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$dir" -j2 --target glimra
    npm install --prefix "$dir" --no-audit --no-fund --silent playwright-core@1
    GLIMRA_BROWSER_REQUIRED=1 ctest --test-dir "$dir" --output-on-failure -L browser
)

# The Debian package: what it holds, installing it the way a user would
# (which pulls in FreeImage's runtime library), the installed
# /usr/bin/glimra on the example pair, and removing it again.
step_package() (
    # dpkg-shlibdeps (dpkg-dev) and file are what CPack needs to work out
    # the package's dependencies.
    scripts/install-deps.sh dpkg-dev file
    local dir=build-pkg
    scripts/build-isal.sh "$dir/deps"
    configure "$dir" -DCMAKE_BUILD_TYPE=Release -DGLIMRA_BUILD_TESTS=OFF -DCMAKE_PREFIX_PATH="$PWD/$dir/deps/prefix"
    cmake --build "$dir" -j2
    rm -f "$dir"/glimra_*.deb
    (cd "$dir" && cpack -G DEB)
    local deb
    deb=$(ls "$PWD/$dir"/glimra_*.deb)

    local contents depends
    contents=$(dpkg-deb -c "$deb")
    echo "$contents"
    for path in ./usr/bin/glimra ./usr/share/man/man1/glimra.1; do
        echo "$contents" | grep -q " $path\$" || fail "$path is not in the package"
    done
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    echo "$depends" | grep -q "libfreeimage3" || fail "the package does not depend on libfreeimage3"

    trap 'as_root apt-get remove -y -qq glimra >/dev/null 2>&1 || true' EXIT
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "$deb"

    # Status 0 only for identical pictures, 1 for different ones.
    local status=0
    /usr/bin/glimra examples/before.png examples/before.png || status=$?
    [ "$status" -eq 0 ] || fail "identical pictures gave status $status"
    local diff_picture
    diff_picture=$(mktemp --suffix=.png)
    status=0
    /usr/bin/glimra examples/before.png examples/after.png "$diff_picture" || status=$?
    [ "$status" -eq 1 ] || fail "different pictures gave status $status"
    # The difference picture shown in the README is what the tool makes today.
    status=0
    /usr/bin/glimra "$diff_picture" docs/images/demo-diff.png || status=$?
    rm -f "$diff_picture"
    [ "$status" -eq 0 ] || fail "docs/images/demo-diff.png is out of date: run make demo and copy build/demo-diff.png"

    DEBIAN_FRONTEND=noninteractive as_root apt-get remove -y -qq glimra
    [ ! -e /usr/bin/glimra ] || fail "/usr/bin/glimra is still there after removal"
    echo "package: $(basename "$deb") builds, installs, works and uninstalls"
)

# glimra.exe, cross-built with mingw-w64 from Debian's source packages
# (scripts/build-windows.sh) and checked under wine: the platform layer's
# unit test, the end-to-end suite against glimra.exe but for what it lacks
# (no FreeImage.dll, no workers, no POSIX modes or terminal), and the same
# lines, JSON and difference pictures as the Linux build on sample pairs.
step_windows() (
    # googletest: its sources in /usr/src/googletest, built with the cross compiler.
    scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 googletest
    GLIMRA_WERROR=ON scripts/build-windows.sh build-mingw
    local platform=build-mingw-platform linux=build-wine-suite
    configure "$platform" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DGLIMRA_PLATFORM_ONLY=ON \
        -DCMAKE_CROSSCOMPILING_EMULATOR=wine
    cmake --build "$platform" -j2
    configure "$linux" -DCMAKE_BUILD_TYPE=Release -DGLIMRA_TEST_LAUNCHER="$PWD/scripts/wine-glimra.sh"
    cmake --build "$linux" -j2
    # A wine prefix of its own in the build directory; no window, no
    # downloads of Mono or Gecko, no debug chatter. Its server would
    # otherwise linger for a while.
    export WINEPREFIX="$PWD/build-mingw/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    trap 'wineserver -k 2>/dev/null || true' EXIT
    # The prefix made and one server kept for the whole step, before tests
    # start wine side by side.
    mkdir -p "$WINEPREFIX"
    wineserver -p
    wine build-mingw/glimra.exe --version
    ctest --test-dir "$platform" --output-on-failure --timeout 300
    GLIMRA_TOOL_LACKS=picture-library,workers,permission-bits,terminal run_suite "$linux" -L e2e
    same_as_linux "$linux/glimra"
)

# glimra.exe under wine and the Linux build $1 on the same pairs: the same
# status, lines (times aside) and difference pictures, byte for byte.
same_as_linux() {
    local linux=$1 out=build-mingw/same-as-linux data=tests/data/perceptual
    rm -rf "$out" && mkdir -p "$out/linux" "$out/windows"
    local cases=(
        "examples/before.png examples/after.png DIFF -v"
        "examples/before.png examples/after.png DIFF -x --json"
        "$data/hinting-none.png $data/hinting-full.png DIFF --highlight --threshold=0.1 --antialiasing --json"
        "$data/clear-none.png $data/clear-full.png DIFF --ignore=40x40+10+10 --tolerance=3 -v"
        "$data $data --json"
    )
    local i=0 args side status
    for args in "${cases[@]}"; do
        for side in linux windows; do
            status=0
            # shellcheck disable=SC2086
            if [ "$side" = linux ]; then
                "$linux" ${args//DIFF/$out/$side/$i.png} >"$out/$side/$i.txt" || status=$?
            else
                wine build-mingw/glimra.exe ${args//DIFF/$out/$side/$i.png} >"$out/$side/$i.txt" || status=$?
            fi
            sed -i -E 's/took [0-9.]+ ms/took T ms/; s/"milliseconds":[0-9.]+/"milliseconds":T/; s#'"$out"'/(linux|windows)/#OUT/#g' \
                "$out/$side/$i.txt"
            echo "status $status" >>"$out/$side/$i.txt"
        done
        i=$((i + 1))
    done
    diff -r "$out/linux" "$out/windows" || fail "glimra.exe answers otherwise than the Linux build (see $out)"
}

# The clients of --serve (clients/node, clients/python) against the
# built binary: node's own test runner and pytest.
step_clients() (
    scripts/install-deps.sh nodejs python3-pytest
    local dir=build-clients
    configure "$dir" -DCMAKE_BUILD_TYPE=Release -DGLIMRA_BUILD_TESTS=OFF
    cmake --build "$dir" -j2 --target glimra
    export GLIMRA_BINARY="$PWD/$dir/glimra"
    node --test clients/node/test/
    # Debian's pytest belongs to its own python3.
    /usr/bin/python3 -m pytest -q -p no:cacheprovider clients/python/tests
)

fail() {
    echo "ci: $*" >&2
    return 1
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if [ $# -eq 0 ]; then
    echo "usage: scripts/ci.sh STEP...   (steps: $steps)" >&2
    exit 2
fi
if [ "$1" = list ]; then
    echo "$steps"
    exit 0
fi
for step in "$@"; do
    case " $steps " in
        *" $step "*) ;;
        *) echo "ci: no step '$step' (steps: $steps)" >&2; exit 2 ;;
    esac
done
for step in "$@"; do
    echo "=== ci: $step"
    "step_$step"
done
