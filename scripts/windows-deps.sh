# The Windows build of Qt (with TLS), libarchive, OpenSSL and libzstd (MinGW-w64), unpacked once
# for every Windows script.
# Sourced by the Windows scripts:
#   unpack_windows_deps BUILD_DIR
# unpacks WINDOWS_DEPS (default ../shared/windows/windows-deps-tls.tar.xz) once per checksum into
# build-windows-deps/<checksum>/ (WINDOWS_DEPS_DIR), links BUILD_DIR/windows-deps to it and sets
# windows_deps to that link; its prefix/ holds the libraries and mingw-toolchain.cmake. Bundles
# of other checksums are removed: each takes about 900 MB.

unpack_windows_deps() {
    local bundle sum shared
    bundle=$(realpath "${WINDOWS_DEPS:-../shared/windows/windows-deps-tls.tar.xz}")
    (cd "$(dirname "$bundle")" && sha256sum --check --quiet "$bundle.sha256")
    sum=$(cut -c1-16 "$bundle.sha256")
    shared=$(realpath -m "${WINDOWS_DEPS_DIR:-build-windows-deps}")
    if [ ! -f "$shared/$sum/unpacked" ]; then
        echo "Unpacking the Windows libraries into $shared/$sum (about a minute)"
        rm -rf "${shared:?}"/*
        mkdir -p "$shared/$sum"
        tar -xJf "$bundle" -C "$shared/$sum"
        # Written last: a run cut short mid-unpack unpacks again.
        touch "$shared/$sum/unpacked"
    fi
    mkdir -p "$1"
    # A folder of an earlier layout, holding a copy of its own, goes for the link.
    [ -L "$1/windows-deps" ] || rm -rf "$1/windows-deps"
    ln -sfn "$shared/$sum" "$1/windows-deps"
    windows_deps=$1/windows-deps
}
