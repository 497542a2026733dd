# Shared settings of the project's scripts. Source it; it defines no commands that run.
QX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QX_BUILD=${QX_BUILD:-$QX_ROOT/build}
WINE64=/usr/lib/wine/wine64
WINESERVER64=/usr/lib/wine/wineserver64

# The project's own Wine prefix; the user's ~/.wine is never touched.
export WINEPREFIX=${WINEPREFIX:-$QX_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEARCH=win64

qx_log() { printf '%s\n' "$*" >&2; }
