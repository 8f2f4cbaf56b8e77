#!/bin/sh
# Installs the Debian packages the build and the tests need, only those that
# are missing, so that a fresh Debian 12 machine needs nothing else.
# Extra package names may be given as arguments.
set -eu

# mandoc checks the manual page and Universal Ctags the functions' lengths
# (their tests skip themselves without them).
packages="cmake ninja-build g++ make python3 libfreeimage-dev libdeflate-dev libjpeg62-turbo-dev libisal-dev libseccomp-dev libgtest-dev nlohmann-json3-dev zlib1g-dev libpng-dev mandoc universal-ctags $*"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing:$missing"
$sudo apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
