# Sourced by the scripts that build libraries from Debian's source
# packages (apt-get source; their upstream tarballs checked against the
# SHA-256 below): `fetch PACKAGE` unpacks one into $deps/src/PACKAGE, once.
# The sourcing script sets $deps.

# Upstream tarballs of the source packages, as Debian 12 ships them.
declare -A tarballs=(
    [libisal]="libisal_2.30.0.orig.tar.xz f363f1be3d657d5676cef5253ee2233e60116e2fa9c9de86881185bf81e0e4b8"
    [libdeflate]="libdeflate_1.14.orig.tar.gz 89e7df898c37c3427b0f39aadcf733731321a278771d20fc553f92da8d4808ac"
    [libjpeg-turbo]="libjpeg-turbo_2.1.5.orig.tar.gz 254f3642b04e309fee775123133c6464181addc150499561020312ec61c1bf7c"
)

# apt-get source needs the source lines of Debian's own archive.
enable_debian_sources() {
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    if ! apt-get source --print-uris libdeflate >/dev/null 2>&1; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            $sudo tee /etc/apt/sources.list.d/glimra-deb-src.sources >/dev/null
        $sudo apt-get update -qq
    fi
}

fetch() {
    local package=$1 file sum
    read -r file sum <<<"${tarballs[$package]}"
    [ -d "$deps/src/$package" ] && return
    mkdir -p "$deps/download" "$deps/src/$package"
    (cd "$deps/download" && apt-get source --download-only "$package" >/dev/null 2>&1)
    echo "$sum  $deps/download/$file" | sha256sum --check --quiet
    tar -xf "$deps/download/$file" -C "$deps/src/$package" --strip-components=1
}
