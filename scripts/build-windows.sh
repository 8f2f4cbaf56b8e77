#!/bin/bash
# glimra.exe for 64-bit Windows, cross-built with mingw-w64 on Debian 12:
# ISA-L, libdeflate and libjpeg-turbo come from Debian's source packages
# (apt-get source; their upstream tarballs checked against the SHA-256
# in scripts/debian-source.sh), built as static libraries into BUILD/deps,
# and glimra is linked with them into one static BUILD/glimra.exe that
# needs no DLL but the system's. FreeImage.dll, which users add
# themselves, is loaded at run time; the build takes only its header
# (libfreeimage-dev), and nlohmann/json's (nlohmann-json3-dev, header only).
#
#   scripts/build-windows.sh [BUILD]       BUILD defaults to build-mingw
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-mingw}
deps=$PWD/$build/deps
prefix=$deps/prefix
toolchain=$PWD/cmake/mingw-w64.cmake

# shellcheck source=scripts/debian-source.sh
. scripts/debian-source.sh

scripts/install-deps.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix nasm yasm autoconf automake \
    libtool dpkg-dev
enable_debian_sources

build_isal() {
    [ -f "$prefix/lib/libisal.a" ] && return
    fetch libisal
    (cd "$deps/src/libisal" && ./autogen.sh >/dev/null 2>&1 &&
        ./configure --host=x86_64-w64-mingw32 --enable-static --disable-shared --prefix="$prefix" >/dev/null &&
        make -j"$(nproc)" >/dev/null && make install >/dev/null)
}

build_deflate() {
    [ -f "$prefix/lib/libdeflate.a" ] && return
    fetch libdeflate
    (cd "$deps/src/libdeflate" &&
        make -j"$(nproc)" CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar libdeflatestatic.lib >/dev/null)
    mkdir -p "$prefix/lib" "$prefix/include"
    cp "$deps/src/libdeflate/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
    cp "$deps/src/libdeflate/libdeflate.h" "$prefix/include/"
}

build_jpeg() {
    [ -f "$prefix/lib/libjpeg.a" ] && return
    fetch libjpeg-turbo
    cmake -S "$deps/src/libjpeg-turbo" -B "$deps/build-jpeg" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
        -DCMAKE_ASM_NASM_COMPILER=nasm >/dev/null
    cmake --build "$deps/build-jpeg" >/dev/null
    cmake --install "$deps/build-jpeg" >/dev/null
}

build_isal
build_deflate
build_jpeg
mkdir -p "$prefix/include"
cp /usr/include/FreeImage.h "$prefix/include/"
cp -r /usr/include/nlohmann "$prefix/include/"

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DGLIMRA_WINDOWS_DEPS="$prefix" -DGLIMRA_STATIC_RUNTIME=ON -DGLIMRA_BUILD_TESTS=OFF \
    -DGLIMRA_WERROR="${GLIMRA_WERROR:-OFF}" >/dev/null
cmake --build "$build" --target glimra
echo "Built $build/glimra.exe"
