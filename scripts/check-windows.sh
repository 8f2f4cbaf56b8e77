#!/bin/sh
# Cross-builds the Windows branch of the platform layer with mingw-w64 and
# runs its unit test under wine. FreeImage has no mingw-w64 build here, so
# only the platform layer and its test are built (GLIMRA_PLATFORM_ONLY);
# the platform layer is the one part that differs between the systems.
set -eu
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-mingw}

# googletest: its sources in /usr/src/googletest, built with the cross compiler.
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 googletest

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DGLIMRA_PLATFORM_ONLY=ON -DGLIMRA_WERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR=wine
cmake --build "$build" -j2

# A wine prefix of its own in the build directory; no window, no
# downloads of Mono or Gecko, no debug chatter.
WINEPREFIX="$PWD/$build/wineprefix"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
status=0
ctest --test-dir "$build" --output-on-failure --timeout 300 || status=$?
# The wine server of this prefix would otherwise linger for a while.
wineserver -k 2>/dev/null || true
exit $status
