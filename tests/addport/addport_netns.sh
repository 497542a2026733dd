#!/usr/bin/env bash
# addport_netns.sh setup|cleanup STATE_DIR
# addport_netns.sh run STATE_DIR PROGRAM ARGS...
# addport_netns.sh run-search STATE_DIR QXSIM PROGRAM ARGS...
#
# Test fixture of the Add Port dialog. Showing the dialog broadcasts a network search
# from every local address, so its tests run in a network namespace of their own, with
# a Wine server of their own started inside it (on a copy of the project's prefix, so
# that the tests running meanwhile keep theirs). The namespace has loopback and veth
# links to two more namespaces, one simulated printer each; the printers run only for
# `run-search`. The first printer is reached over two links and answers over both from
# the same address. The copy of the prefix maps COM3, COM5 and LPT2 and no
# other COM or LPT name.
# A run exits 77 (skipped) when the fixture could not make the namespaces.
set -u
source "$(dirname "$0")/../../scripts/lib.sh"
action=$1
state=$2
shift 2

id=$(printf '%s' "$state" | cksum | cut -d' ' -f1)
id=$(printf '%06d' $((id % 1000000)))
ns=qxap$id          # the dialog's namespace
ns1=qxap${id}p1     # first printer
ns2=qxap${id}p2     # second printer
net=10.$((10#${id: -2} + 100))  # 10.N.1.0/24 and 10.N.2.0/24
prefix=$state/prefix

in_ns() { ip netns exec "$ns" "$@"; }

stop_wine() {
  [ -d "$prefix" ] || return 0
  WINEPREFIX=$prefix qx_stop_wine
}

start_wine() {
  WINEPREFIX=$prefix qx_start_wine in_ns
}

cleanup() {
  if [ -f "$state/printers" ]; then
    while read -r pid; do kill "$pid" 2>/dev/null; done <"$state/printers"
  fi
  stop_wine
  for n in "$ns" "$ns1" "$ns2"; do ip netns del "$n" 2>/dev/null; done
  for n in 1 2 3; do ip link del "qa${id}d$n" 2>/dev/null; done
  rm -rf "$state"
}

make_networks() {
  ip netns add "$ns" 2>/dev/null && ip netns add "$ns1" && ip netns add "$ns2" || return 1
  in_ns ip link set lo up || return 1
  local i
  for i in 1 2; do
    local peer=qxap${id}p$i
    ip link add "qa${id}d$i" type veth peer name "qa${id}p$i" || return 1
    ip link set "qa${id}d$i" netns "$ns" && ip link set "qa${id}p$i" netns "$peer" || return 1
    in_ns ip addr add "$net.$i.1/24" dev "qa${id}d$i" || return 1
    in_ns ip link set "qa${id}d$i" up || return 1
    ip netns exec "$peer" ip addr add "$net.$i.2/24" dev "qa${id}p$i" || return 1
    ip netns exec "$peer" ip link set "qa${id}p$i" up || return 1
    ip netns exec "$peer" ip link set lo up || return 1
  done
  # A third link to the first printer, which answers over it from its own address
  # again: the dialog gets that address twice.
  ip link add "qa${id}d3" type veth peer name "qa${id}p3" || return 1
  ip link set "qa${id}d3" netns "$ns" && ip link set "qa${id}p3" netns "$ns1" || return 1
  in_ns ip addr add "$net.3.1/24" dev "qa${id}d3" && in_ns ip link set "qa${id}d3" up || return 1
  # Answers from the first printer's address arrive over both links.
  in_ns sh -c "echo 0 >/proc/sys/net/ipv4/conf/all/rp_filter && echo 0 >/proc/sys/net/ipv4/conf/qa${id}d3/rp_filter" ||
    return 1
  ip netns exec "$ns1" ip addr add "$net.1.2/32" dev "qa${id}p3" || return 1
  ip netns exec "$ns1" ip link set "qa${id}p3" up || return 1
  ip netns exec "$ns1" ip route add "$net.3.0/24" dev "qa${id}p3" src "$net.1.2" || return 1
}

setup() {
  cleanup
  # An interrupted run never gets to the Cleanup test: the session runs it then.
  qx_at_session_end bash "$(realpath "$0")" cleanup "$state"
  mkdir -p "$state"
  if ! make_networks 2>/dev/null; then
    qx_log "addport_netns: network namespaces or veth links are not permitted here; the dialog tests are skipped"
    for n in "$ns" "$ns1" "$ns2"; do ip netns del "$n" 2>/dev/null; done
    touch "$state/skip"
    return 0
  fi

  # The prefix copy: files linked, the registry (which Wine rewrites) copied.
  cp -al "$WINEPREFIX" "$prefix" || return 1
  local f
  for f in "$prefix"/*.reg; do cp --remove-destination "$WINEPREFIX/$(basename "$f")" "$f" || return 1; done
  find "$prefix/dosdevices" -maxdepth 1 \( -name 'com*' -o -name 'lpt*' \) -exec rm -f {} +
  {
    echo "REGEDIT4"
    echo
    echo "[-HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]"
    echo
    echo "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]"
    # A serial device of the machine would otherwise take a free COM name: give it one.
    if [ -e /dev/ttyS0 ]; then echo '"COM3"="/dev/ttyS0"'; else echo '"COM3"="/dev/null"'; fi
    echo '"COM5"="/dev/null"'
    echo '"LPT2"="/dev/null"'
  } >"$state/ports.reg"
  # The registry needs no desktop; the server that the tests use gets one.
  DISPLAY= start_wine || return 1
  WINEPREFIX=$prefix in_ns "$WINE64" regedit /S "Z:${state//\//\\}\\ports.reg" </dev/null >/dev/null 2>&1
  stop_wine
  start_wine || return 1
  local n
  for n in $(seq 100); do [ -L "$prefix/dosdevices/com5" ] && break; sleep 0.1; done
  [ -L "$prefix/dosdevices/com5" ] || { qx_log "addport_netns: COM5 not mapped"; return 1; }
}

run() {
  [ -f "$state/skip" ] && { echo "network namespaces not permitted: skipped"; exit 77; }
  [ -d "$prefix" ] || { qx_log "addport_netns: no fixture (run the Setup test)"; exit 1; }
  WINEPREFIX=$prefix in_ns "$WINE64" "$@"
}

run_search() {
  [ -f "$state/skip" ] && { echo "network namespaces not permitted: skipped"; exit 77; }
  local qxsim=$1
  shift
  [ -x "$qxsim" ] || { echo "no native qxsim at $qxsim: skipped"; exit 77; }
  local i pids=()
  for i in 1 2; do
    # Bound to the wildcard address: the search is a broadcast. Ends by itself.
    ip netns exec "qxap${id}p$i" "$qxsim" --address 0.0.0.0 --no-tcp --lifetime 60 --log "$state/printer$i.wire" \
      </dev/null >"$state/printer$i.log" 2>&1 &
    pids+=($!)
    echo $! >>"$state/printers"
  done
  sleep 0.3
  QX_ADDPORT_PRINTERS="$net.1.2,$net.2.2" WINEPREFIX=$prefix in_ns "$WINE64" "$@"
  local rc=$?
  kill "${pids[@]}" 2>/dev/null
  wait "${pids[@]}" 2>/dev/null
  rm -f "$state/printers"
  return $rc
}

case "$action" in
  setup) setup ;;
  cleanup) cleanup ;;
  run) run "$@" ;;
  run-search) run_search "$@" ;;
  *) qx_log "usage: addport_netns.sh setup|cleanup|run|run-search STATE_DIR ..."; exit 2 ;;
esac
