#!/bin/sh
# Builds the Debian package, checks what it holds, installs it the way a
# user would (apt-get install ./glimra_*.deb, which pulls in FreeImage's
# runtime library), runs the installed /usr/bin/glimra on the example pair
# and removes the package again. Needs root or sudo.
set -eu
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-pkg}

# dpkg-shlibdeps (dpkg-dev) and file are what CPack needs to work out the
# package's dependencies.
scripts/install-deps.sh dpkg-dev file

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLIMRA_BUILD_TESTS=OFF
cmake --build "$build" -j2
rm -f "$build"/glimra_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$PWD/$build"/glimra_*.deb)

fail() {
    echo "check-package: $*" >&2
    exit 1
}

contents=$(dpkg-deb -c "$deb")
echo "$contents"
for path in ./usr/bin/glimra ./usr/share/man/man1/glimra.1; do
    echo "$contents" | grep -q " $path\$" || fail "$path is not in the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
echo "$depends" | grep -q "libfreeimage3" || fail "the package does not depend on libfreeimage3"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
trap '$sudo apt-get remove -y -qq glimra >/dev/null 2>&1 || true' EXIT
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$deb"

# Status 0 only for identical pictures, 1 for different ones.
status=0
/usr/bin/glimra examples/before.png examples/before.png || status=$?
[ "$status" -eq 0 ] || fail "identical pictures gave status $status"
diff_picture=$(mktemp --suffix=.png)
status=0
/usr/bin/glimra examples/before.png examples/after.png "$diff_picture" || status=$?
[ "$status" -eq 1 ] || fail "different pictures gave status $status"
# The difference picture shown in the README is what the tool makes today.
status=0
/usr/bin/glimra "$diff_picture" docs/images/demo-diff.png || status=$?
rm -f "$diff_picture"
[ "$status" -eq 0 ] || fail "docs/images/demo-diff.png is out of date: run make demo and copy build/demo-diff.png"

DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq glimra
trap - EXIT
[ ! -e /usr/bin/glimra ] || fail "/usr/bin/glimra is still there after removal"
echo "check-package: $(basename "$deb") builds, installs, works and uninstalls"
