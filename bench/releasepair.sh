#!/bin/sh
# Lays out two real releases of the updater itself, for the delta rows of bench/run:
#
#     bench/releasepair.sh OLD_COMMIT NEW_COMMIT FOLDER
#
# Each commit of this repository is taken with git archive (no worktree is added), built in
# Release without tests and demo, and laid out as FOLDER/COMMIT/release: the updater binary and
# the shared libraries a release would carry beside it (Qt 5, libarchive, libcrypto), copied
# from the system under their sonames, so both releases hold the same libraries and differ in
# the binary alone. A release already laid out is kept, so a second run builds nothing.
set -eu

[ $# -eq 3 ] || { echo "usage: bench/releasepair.sh OLD_COMMIT NEW_COMMIT FOLDER" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$3"
folder=$(cd "$3" && pwd)

lay_out() {
    commit=$(git -C "$root" rev-parse --short "$1^{commit}")
    place=$folder/$commit
    if [ -x "$place/release/updater" ]; then
        echo "$place/release"
        return
    fi
    # Standard output names the folders; progress goes to standard error.
    echo "releasepair: building the updater at $commit (a few minutes)" >&2
    rm -rf "$place"
    mkdir -p "$place/src" "$place/release"
    git -C "$root" archive "$commit" | tar -x -C "$place/src"
    cmake -S "$place/src" -B "$place/build" -DCMAKE_BUILD_TYPE=Release \
        -DUPDATER_BUILD_TESTS=OFF -DUPDATER_BUILD_DEMO=OFF >"$place/configure.log" 2>&1 || {
        cat "$place/configure.log" >&2
        exit 1
    }
    cmake --build "$place/build" -j"$(nproc)" --target updater >"$place/build.log" 2>&1 || {
        tail -n 40 "$place/build.log" >&2
        exit 1
    }
    cp "$place/build/updater" "$place/release/"
    # The libraries the binary loads that a release ships; the C and C++ runtimes and the
    # rest of the system are the user's.
    ldd "$place/release/updater" | awk '$3 ~ /^\// { print $1, $3 }' \
        | grep -E '^lib(Qt5[A-Za-z]+|archive|crypto)\.so' | while read -r name path; do
        cp "$path" "$place/release/$name"
    done
    echo "$place/release"
}

lay_out "$1"
lay_out "$2"
