# libzstd for the Windows build, made into a build folder. Sourced by the Windows
# scripts after windows-deps.sh:
#   build_windows_zstd BUILD_DIR
# fetches Debian's zstd source package, compiles its library (no programs) with MinGW-w64 into
# a static library in BUILD_DIR/windows-zstd/{include,lib}, once per version, and sets windows_zstd to
# that folder (for CMake's -DZSTD_ROOT). The Windows bundle of ../shared/windows has no zstd,
# and rebuilding the bundle takes an hour, whereas the library alone takes seconds; static, so
# the package ships no new DLL.

WINDOWS_ZSTD_VERSION=1.5.4+dfsg2

build_windows_zstd() {
    windows_zstd=$1/windows-zstd
    local stamp="zstd $WINDOWS_ZSTD_VERSION decoder and encoder, -O2, no legacy, no threads"
    [ "$(cat "$windows_zstd/stamp" 2>/dev/null)" = "$stamp" ] && [ -f "$windows_zstd/lib/libzstd.a" ] \
        && return 0
    rm -rf "$windows_zstd"
    mkdir -p "$windows_zstd"/{apt/lists/partial,apt/sources,source,objects,lib,include}
    local apt=$windows_zstd/apt
    # apt verifies the .dsc against the signed Sources index of this list alone; the machine's
    # own sources and lists stay untouched.
    cat >"$apt/sources/bookworm-src.sources" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    local options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources"
        -o "Dir::State::Lists=$apt/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
    apt-get "${options[@]}" -qq update || return 1
    (cd "$windows_zstd/source" && apt-get "${options[@]}" -qq source --download-only libzstd) \
        || return 1
    local orig=$windows_zstd/source/libzstd_$WINDOWS_ZSTD_VERSION.orig.tar.xz
    [ -f "$orig" ] || {
        echo "windows-zstd: Debian's bookworm no longer offers zstd $WINDOWS_ZSTD_VERSION" >&2
        return 1
    }
    tar -xJf "$orig" -C "$windows_zstd/source" --strip-components=1 || return 1
    compile_windows_zstd "$windows_zstd" || return 1
    echo "$stamp" >"$windows_zstd/stamp"
}

# The decoder for the program, the encoder for the test suites, which make their own patches; the
# program links only the decoder's objects from the static library. The x86-64 Huffman assembly
# is left out, its ELF-only directives being the one part MinGW's assembler may not take.
compile_windows_zstd() {
    local lib=$1/source/lib objects=$1/objects
    local flags=(-O2 -DZSTD_LEGACY_SUPPORT=0 -DZSTD_DISABLE_ASM -I"$lib" -I"$lib/common")
    # ZSTD_MULTITHREAD stays undefined: libzstd tests whether it is defined, not its value.
    (cd "$objects" && printf '%s\0' "$lib"/common/*.c "$lib"/compress/*.c "$lib"/decompress/*.c \
        | xargs -0 -P "$(nproc)" -n 3 x86_64-w64-mingw32-gcc-posix "${flags[@]}" -c) || return 1
    rm -f "$1/lib/libzstd.a"
    x86_64-w64-mingw32-ar rcs "$1/lib/libzstd.a" "$objects"/*.o || return 1
    cp "$lib/zstd.h" "$lib/zstd_errors.h" "$1/include/"
}
