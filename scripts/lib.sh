# Shared settings and helpers of the project's scripts. Source it; it runs nothing itself.
QX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QX_BUILD=${QX_BUILD:-$QX_ROOT/build}
WINE64=/usr/lib/wine/wine64
WINESERVER64=/usr/lib/wine/wineserver64

# The project's own Wine prefix. A WINEPREFIX the user exported is neither used nor
# stopped: every Wine program the scripts, the fixtures and CTest's emulator start
# runs in this one (or in a copy of it a fixture names explicitly).
QX_WINEPREFIX=${QX_WINEPREFIX:-$QX_BUILD/wineprefix}
export WINEPREFIX=$QX_WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# No Gecko or Mono downloads; no menu builder, which would write launchers and icons
# for whatever is installed into the home folder.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

qx_log() { printf '%s\n' "$*" >&2; }

# Stops the Wine server of WINEPREFIX and every Wine process of it, waiting at most 30 s.
qx_stop_wine() {
  "$WINESERVER64" -k >/dev/null 2>&1
  timeout 30 "$WINESERVER64" -w >/dev/null 2>&1
}

# Starts a persistent Wine server for WINEPREFIX and Wine's own background processes,
# detached from our output: started by the first test they would inherit its pipes and
# keep CTest waiting for end of file. RUNNER... (e.g. ip netns exec NS) runs them.
qx_start_wine() {
  "$@" "$WINESERVER64" -p </dev/null >/dev/null 2>&1
  "$@" timeout 120 "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1
}

# A fresh Wine server: the mount manager makes the COM/LPT links of
# HKLM\Software\Wine\Ports only as the server starts.
qx_restart_wine() {
  qx_stop_wine
  qx_start_wine
}
