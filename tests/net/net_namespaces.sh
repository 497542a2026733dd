#!/usr/bin/env bash
# net_namespaces.sh setup|cleanup QXSIM STATE_DIR PREFIX
#
# Test fixture of the network search: a host namespace "PREFIX-host" joined by one veth
# pair each to two printer namespaces, each running a simulated printer that answers
# the search broadcast on its link. Nothing leaves these namespaces. Setup that is not
# permitted leaves no state, and the tests then skip.
set -u
source "$(dirname "$0")/../../scripts/lib.sh"
action=$1
qxsim=$2
state=$3
# One prefix per suite and build tree, so that suites and clones may run side by side.
tag=${4:-qxnet}
ns=$tag$(printf '%s' "$state" | cksum | cut -c1-5)
printers=(1 2)

cleanup() {
  if [ -f "$state/pids" ]; then
    while read -r pid; do kill "$pid" 2>/dev/null; done <"$state/pids"
  fi
  for i in "${printers[@]}"; do ip netns del "$ns-p$i" 2>/dev/null; done
  ip netns del "$ns-host" 2>/dev/null
  rm -rf "$state"
  return 0
}

setup() {
  cleanup
  # An interrupted run never gets to the Cleanup test: the session runs it then.
  qx_at_session_end bash "$(realpath "$0")" cleanup "$qxsim" "$state" "$tag"
  ip netns add "$ns-host" 2>/dev/null || { echo "ip netns not permitted: search tests skip"; return 0; }
  mkdir -p "$state"
  ip -n "$ns-host" link set lo up
  for i in "${printers[@]}"; do
    ip netns add "$ns-p$i"
    ip link add "qxh$i" netns "$ns-host" type veth peer name "qxp$i" netns "$ns-p$i"
    ip -n "$ns-host" addr add "10.66.$i.1/24" dev "qxh$i"
    ip -n "$ns-p$i" addr add "10.66.$i.2/24" dev "qxp$i"
    ip -n "$ns-host" link set "qxh$i" up
    ip -n "$ns-p$i" link set "qxp$i" up
    ip -n "$ns-p$i" link set lo up
    setsid ip netns exec "$ns-p$i" "$qxsim" --address 0.0.0.0 --no-tcp --lifetime 300 </dev/null >/dev/null 2>&1 &
    echo $! >>"$state/pids"
  done
  sleep 0.5
  echo "$ns-host" >"$state/ready"
}

case "$action" in
  setup) setup ;;
  cleanup) cleanup ;;
  *) echo "usage: net_namespaces.sh setup|cleanup QXSIM STATE_DIR PREFIX" >&2; exit 2 ;;
esac
