#!/usr/bin/env bash
# ui_ports.sh setup|cleanup STATE_DIR [APP_COM PRINTER_COM]
#
# One pty pair joined by socat for the UI tests and the demo: APP_COM (default COM7) is
# the port the utility opens, PRINTER_COM (default COM8) or the pty link
# STATE_DIR/printer is where the simulated printer sits. Both names go through
# HKLM\Software\Wine\Ports, so that QueryDosDeviceA answers for them; that needs a
# fresh Wine server, so setup and cleanup restart it.
set -u
source "$(dirname "$0")/../../scripts/lib.sh"
action=$1
state=$2
app_com=${3:-COM7}
printer_com=${4:-COM8}
dosdevices="$WINEPREFIX/dosdevices"
lower() { tr '[:upper:]' '[:lower:]' <<<"$1"; }

write_registry() {  # $1: "set" or "delete"
  local file="$state/ports.reg"
  {
    echo "REGEDIT4"
    echo
    echo "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]"
    if [ "$1" = set ]; then
      echo "\"$app_com\"=\"$(readlink "$state/app")\""
      echo "\"$printer_com\"=\"$(readlink "$state/printer")\""
    else
      echo "\"$app_com\"=-"
      echo "\"$printer_com\"=-"
    fi
  } >"$file"
  "$WINE64" regedit /S "Z:${file//\//\\}" </dev/null >/dev/null 2>&1
}

cleanup() {
  [ -d "$state" ] || return 0
  if [ -f "$state/pid" ]; then
    kill "$(cat "$state/pid")" 2>/dev/null
    rm -f "$state/pid"
  fi
  rm -f "$dosdevices/$(lower "$app_com")" "$dosdevices/$(lower "$printer_com")"
  write_registry delete
  qx_restart_wine
  rm -rf "$state"
}

setup() {
  cleanup
  # An interrupted run never gets to the Cleanup test: the session runs it then.
  qx_at_session_end bash "$(realpath "$0")" cleanup "$state" "$app_com" "$printer_com"
  mkdir -p "$state"
  setsid socat pty,raw,echo=0,link="$state/app" pty,raw,echo=0,link="$state/printer" </dev/null >/dev/null 2>&1 &
  echo $! >"$state/pid"
  local n
  for n in $(seq 50); do [ -L "$state/app" ] && [ -L "$state/printer" ] && break; sleep 0.1; done
  [ -L "$state/printer" ] || { qx_log "ui_ports: socat did not start"; return 1; }
  write_registry set
  qx_restart_wine || { qx_log "ui_ports: the Wine server did not start"; return 1; }
  # The Wine mount manager makes the links from the registry as it starts.
  local name end want
  for name in "$app_com:app" "$printer_com:printer"; do
    end=${name#*:}
    name=${name%%:*}
    want=$(readlink "$state/$end")
    for n in $(seq 200); do [ "$(readlink "$dosdevices/$(lower "$name")")" = "$want" ] && break; sleep 0.1; done
    [ "$(readlink "$dosdevices/$(lower "$name")")" = "$want" ] || { qx_log "ui_ports: $name not mapped"; return 1; }
  done
}

case "$action" in
  setup) setup ;;
  cleanup) cleanup ;;
  *) qx_log "usage: ui_ports.sh setup|cleanup STATE_DIR [APP_COM PRINTER_COM]"; exit 2 ;;
esac
