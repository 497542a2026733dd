#!/usr/bin/env bash
# pty_ports.sh setup|cleanup STATE_DIR ["DEVICE PEER"...]
#
# Test fixture of the serial and parallel kinds (and, with its own pair, of the UI
# tests): pairs of ptys joined by socat, one end of each mapped to the device name
# under test, the other to a COM name that the tests open as the printer. Standard COM/LPT names go through HKLM\Software\Wine\Ports
# (so that QueryDosDeviceA answers for them, which needs a fresh Wine server); the
# other names are plain dosdevices links. The pair behind COM20 goes away when a test
# creates STATE_DIR/vanish-COM20 (a device pulled out in the middle of an exchange).
# Cleanup stops the socat processes and removes every mapping again; the session
# (scripts/with-wine) runs it too when the tests are interrupted.
set -u
source "$(dirname "$0")/../../scripts/lib.sh"
action=$1
state=$2
dosdevices="$WINEPREFIX/dosdevices"

# device name under test, peer name
pairs=(
  "COM1 COM2" "COM10 COM11" "ComPortName COM12" "COM20 COM21"
  "LPT1 COM13" "LPT9 COM14" "QXLPT1 COM15" "QXLPT2 COM16" "PVD_LPT1 COM17" "PVD_LPT2 COM18" "LptPortName COM19"
)
[ $# -gt 2 ] && pairs=("${@:3}")

in_registry() { [[ $1 =~ ^(COM|LPT)[0-9]+$ ]]; }
lower() { tr '[:upper:]' '[:lower:]' <<<"$1"; }

write_registry() {  # $1: "set" or "delete"
  local file="$state/ports.reg"
  {
    echo "REGEDIT4"
    echo
    echo "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]"
    local i=0 pair name
    for pair in "${pairs[@]}"; do
      for name in $pair; do
        local end=a
        [ "$name" = "${pair%% *}" ] || end=b
        in_registry "$name" || continue
        if [ "$1" = set ]; then
          echo "\"$name\"=\"$(readlink "$state/p$i.$end")\""
        else
          echo "\"$name\"=-"
        fi
      done
      i=$((i + 1))
    done
  } >"$file"
  "$WINE64" regedit /S "Z:${file//\//\\}" </dev/null >/dev/null 2>&1
}

cleanup() {
  if [ -f "$state/pids" ]; then
    while read -r pid; do kill "$pid" 2>/dev/null; done <"$state/pids"
    rm -f "$state/pids"
  fi
  [ -d "$state" ] || return 0
  local pair name
  for pair in "${pairs[@]}"; do
    for name in $pair; do rm -f "$dosdevices/$(lower "$name")"; done
  done
  write_registry delete
  qx_restart_wine
  rm -rf "$state"
}

setup() {
  cleanup
  # An interrupted run never gets to the Cleanup test: the session runs it then.
  qx_at_session_end bash "$(realpath "$0")" cleanup "$state" "${pairs[@]}"
  mkdir -p "$state"
  local i=0 pair
  for pair in "${pairs[@]}"; do
    setsid socat pty,raw,echo=0,link="$state/p$i.a" pty,raw,echo=0,link="$state/p$i.b" </dev/null >/dev/null 2>&1 &
    echo $! >>"$state/pids"
    i=$((i + 1))
  done
  # Watches for the vanish request (at most 15 minutes), then stops COM20's pair.
  if [ "${pairs[3]:-}" = "COM20 COM21" ]; then
    local vanishing
    vanishing=$(sed -n 4p "$state/pids")
    setsid bash -c 'for _ in $(seq 18000); do
        [ -d "$1" ] || exit 0
        [ -e "$1/vanish-COM20" ] && { kill "$2"; exit 0; }
        sleep 0.05
      done' watcher "$state" "$vanishing" </dev/null >/dev/null 2>&1 &
    echo $! >>"$state/pids"
  fi
  local n
  for i in "${!pairs[@]}"; do
    for n in $(seq 50); do [ -L "$state/p$i.b" ] && [ -L "$state/p$i.a" ] && break; sleep 0.1; done
    [ -L "$state/p$i.b" ] || { qx_log "pty_ports: socat pair $i did not start"; return 1; }
  done
  write_registry set
  i=0
  for pair in "${pairs[@]}"; do
    local device=${pair%% *} peer=${pair##* }
    in_registry "$device" || ln -sfn "$(readlink "$state/p$i.a")" "$dosdevices/$(lower "$device")"
    i=$((i + 1))
  done
  qx_restart_wine || { qx_log "pty_ports: the Wine server did not start"; return 1; }
  # The Wine mount manager makes the registry's links as it starts.
  i=0
  for pair in "${pairs[@]}"; do
    local name end
    for name in $pair; do
      end=a
      [ "$name" = "${pair%% *}" ] || end=b
      in_registry "$name" || continue
      local want
      want=$(readlink "$state/p$i.$end")
      for n in $(seq 200); do [ "$(readlink "$dosdevices/$(lower "$name")")" = "$want" ] && break; sleep 0.1; done
      [ "$(readlink "$dosdevices/$(lower "$name")")" = "$want" ] || { qx_log "pty_ports: $name not mapped"; return 1; }
    done
    i=$((i + 1))
  done
}

case "$action" in
  setup) setup ;;
  cleanup) cleanup ;;
  *) qx_log "usage: pty_ports.sh setup|cleanup STATE_DIR [\"DEVICE PEER\"...]"; exit 2 ;;
esac
