#!/bin/bash
# A static ISA-L for this machine, built from Debian's source package (which
# ships it only as a shared library) into DIR/prefix, once. Linked into the
# tool, it spares every run the loading and relocating of libisal.so:
# about a tenth of a small pair's time (cold, a 64x64 pair 0.88 of the CPU,
# a 320x240 pair 0.91). The build finds it with CMAKE_PREFIX_PATH=DIR/prefix.
#
#   scripts/build-isal.sh DIR
set -euo pipefail
cd "$(dirname "$0")/.."
deps=$(realpath -m "$1")
prefix=$deps/prefix
[ -f "$prefix/lib/libisal.a" ] && exit 0

# shellcheck source=scripts/debian-source.sh
. scripts/debian-source.sh
scripts/install-deps.sh nasm autoconf automake libtool dpkg-dev
enable_debian_sources
fetch libisal
# Position-independent: it goes into a position-independent executable.
(cd "$deps/src/libisal" && ./autogen.sh >/dev/null 2>&1 &&
    ./configure --enable-static --disable-shared --with-pic --prefix="$prefix" >/dev/null &&
    make -j"$(nproc)" >/dev/null && make install >/dev/null)
