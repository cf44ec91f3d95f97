# The one Wine prefix of the Windows scripts, so that Wine sets a prefix up once (about a minute
# and 500 MB) rather than once per build folder.
# Sourced by the Windows scripts:
#   use_wine_prefix
# exports WINEPREFIX (WINE_PREFIX_DIR, default build-wine/ beside the scripts' folder) and the
# settings every Windows script runs Wine with, and makes the folder. Two scripts at once share its
# Wine server; the scripts here run one after another.

use_wine_prefix() {
    local root
    root=$(realpath "$(dirname "${BASH_SOURCE[0]}")/..")
    WINEPREFIX=$(realpath -m "${WINE_PREFIX_DIR:-$root/build-wine}")
    # No prompts to install Mono or Gecko when the prefix is made.
    export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
}
