# Sourced: the environment every Wine command of the tests and scripts uses.
# QUORVEL_BUILD may name the build folder; the prefix lives inside it.
QUORVEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export QUORVEL_BUILD=${QUORVEL_BUILD:-$QUORVEL_ROOT/build/windows-x64}
export WINEPREFIX=${WINEPREFIX:-$QUORVEL_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs when the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINE=${WINE:-/usr/lib/wine/wine64}
export WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
