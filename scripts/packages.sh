# Debian packages of the build, the tests and the demo, and a way to install the missing ones.
# Sourced by the other scripts.

BUILD_PACKAGES=(cmake make g++ qtbase5-dev python3-qdarkstyle libarchive-dev libssl-dev
    binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix fonts-dejavu-core minisign zstd libzstd-dev
    qttools5-dev-tools qttranslations5-l10n)
FUZZ_PACKAGES=(clang libfuzzer-14-dev)
# The tests that run real servers: nginx, with its slice module, for the edge cache.
TEST_PACKAGES=(nginx-light)
BENCH_PACKAGES=(libarchive-tools unzip)
# scripts/test-windows: the Windows programs run under Wine.
WINDOWS_PACKAGES=(wine wine64)
DEMO_PACKAGES=(nginx-light xvfb xauth xdotool imagemagick curl tesseract-ocr tesseract-ocr-eng)

install_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]} (run as root, or install them)" >&2
        return 1
    fi
    echo "Installing ${missing[*]} (a minute or a few)"
    # Another apt at work (an unattended upgrade, a second script) is waited for, not failed on.
    local wait=(-o DPkg::Lock::Timeout=900)
    apt-get "${wait[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive apt-get "${wait[@]}" install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}
