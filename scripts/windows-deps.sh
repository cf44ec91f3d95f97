# The Windows build of Qt (with TLS), libarchive, OpenSSL and libzstd (MinGW-w64), unpacked into a
# build folder.
# Sourced by the Windows scripts:
#   unpack_windows_deps BUILD_DIR
# unpacks WINDOWS_DEPS (default ../shared/windows/windows-deps-tls.tar.xz) into
# BUILD_DIR/windows-deps once per checksum and sets windows_deps to that folder; its prefix/
# holds the libraries and mingw-toolchain.cmake.

unpack_windows_deps() {
    local bundle
    bundle=$(realpath "${WINDOWS_DEPS:-../shared/windows/windows-deps-tls.tar.xz}")
    windows_deps=$1/windows-deps
    if ! cmp -s "$bundle.sha256" "$windows_deps/bundle.sha256"; then
        (cd "$(dirname "$bundle")" && sha256sum --check --quiet "$bundle.sha256")
        rm -rf "$windows_deps"
        mkdir -p "$windows_deps"
        tar -xJf "$bundle" -C "$windows_deps"
        # Written last: a run cut short mid-unpack unpacks again.
        cp "$bundle.sha256" "$windows_deps/bundle.sha256"
    fi
}
