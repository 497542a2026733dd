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
# keep CTest waiting for end of file. With a display it also brings up the server's
# desktop and keeps it up: Wine closes a desktop one second after the last program on
# it ended, and the next window must then wait for a new desktop process, which on a
# loaded machine comes too late (or meets the old one still closing) and the window
# fails. So no test ever makes the first window of a desktop; the steps that start a
# server do (scripts/with-wine and the fixtures labelled wine_first_window). A desktop
# that does not come up gets one more fresh server, logged with the marker
# "wine_first_window: retried" (scripts/test lists those steps).
# RUNNER... (e.g. ip netns exec NS) runs the Wine programs.
qx_start_wine() {
  local attempt
  for attempt in 1 2; do
    "$@" "$WINESERVER64" -p </dev/null >/dev/null 2>&1
    "$@" timeout 120 "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1
    [ -n "${DISPLAY:-}" ] || return 0
    qx_start_desktop "$@" && return 0
    [ "$attempt" = 2 ] || qx_log "wine_first_window: retried: the desktop of a fresh Wine server did not come up"
    qx_stop_wine
  done
  qx_log "Wine: the desktop did not come up on display $DISPLAY"
  return 1
}

# Starts the program that keeps the desktop up (one that waits for ever on a pipe of
# its own; it ends with the server), makes the first window, and waits (60 s at most)
# until the desktop process has loaded the display driver; fails at once when it could
# not load it.
qx_start_desktop() {
  local video='HKLM\System\CurrentControlSet\Control\Video' state end=$((SECONDS + 60)) pipe fd
  pipe=$(mktemp -u) && mkfifo "$pipe" || return 1
  exec {fd}<>"$pipe"
  rm -f "$pipe"
  "$@" "$WINE64" find.exe keep <&"$fd" >/dev/null 2>&1 &
  exec {fd}<&-
  "$@" timeout 60 "$WINE64" rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1
  while [ "$SECONDS" -lt "$end" ]; do
    state=$("$@" timeout 20 "$WINE64" reg query "$video" /s </dev/null 2>/dev/null)
    grep -q GraphicsDriver <<<"$state" && return 0
    grep -q DriverError <<<"$state" && return 1
    sleep 0.5
  done
  return 1
}

# A fresh Wine server: the mount manager makes the COM/LPT links of
# HKLM\Software\Wine\Ports only as the server starts.
qx_restart_wine() {
  qx_stop_wine
  qx_start_wine
}

# Runs COMMAND... in a session and process group of its own and waits for it. When
# this script is interrupted or terminated meanwhile, that whole group is terminated and
# waited for (then killed, after 300 s) and this script exits, running its EXIT trap.
# Returns COMMAND's status.
qx_run() {
  setsid "$@" <&0 &
  qx_child=$!
  trap 'qx_stop_child; exit 130' INT
  trap 'qx_stop_child; exit 143' TERM HUP
  wait "$qx_child"
  local status=$?
  qx_child=
  return $status
}

qx_stop_child() {
  [ -n "${qx_child:-}" ] || return 0
  trap '' INT TERM HUP
  kill -TERM -- "-$qx_child" 2>/dev/null
  local end=$((SECONDS + 300))
  while kill -0 -- "-$qx_child" 2>/dev/null; do
    [ "$SECONDS" -lt "$end" ] || { kill -KILL -- "-$qx_child" 2>/dev/null; break; }
    sleep 0.2
  done
  wait "$qx_child" 2>/dev/null
  qx_child=
}

# Processes and namespaces that must outlive the script that made them (a fixture's
# socat pairs, printers, network namespaces) are stopped by a command the script
# registers with qx_at_session_end; the session (scripts/with-wine, scripts/test) runs
# these commands when it ends, however it ends. Outside a session this does nothing.
qx_at_session_end() {
  [ -n "${QX_SESSION_END:-}" ] || return 0
  local line
  line=$(printf '%q ' "$@")
  grep -qxF -- "$line" "$QX_SESSION_END" 2>/dev/null || printf '%s\n' "$line" >>"$QX_SESSION_END"
}

# Opens a session for the commands this script starts (exports QX_SESSION_END).
qx_session_begin() {
  QX_SESSION_END=$(mktemp "${TMPDIR:-/tmp}/qx-session.XXXXXX")
  export QX_SESSION_END
}

# Runs the registered commands (each bounded), newest first, and closes the session.
# No test follows them, so a Wine server they start needs no desktop.
qx_session_end() {
  [ -n "${QX_SESSION_END:-}" ] && [ -f "$QX_SESSION_END" ] || return 0
  local line
  while IFS= read -r line; do
    [ -n "$line" ] && DISPLAY= eval "timeout 120 $line" </dev/null >/dev/null 2>&1
  done < <(tac "$QX_SESSION_END")
  rm -f "$QX_SESSION_END"
}
