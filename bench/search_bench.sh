#!/usr/bin/env bash
# bench/search_bench.sh SEARCH_BENCH [N...]
#
# The network search's figures: a host namespace joined by one veth pair to a printer
# namespace holding N addresses, each answering the search as its own printer; then
# one search from the host namespace, which prints its row. Nothing leaves these
# namespaces; they go again on any exit, also when interrupted. Where namespaces cannot
# be made (it needs root and `ip netns`) it says so and exits 1.
set -u
program=$1
shift
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(16 64)
tag=qxsb$$
host=$tag-host
printers=$tag-prn
pid=

cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  ip netns del "$host" 2>/dev/null
  ip netns del "$printers" 2>/dev/null
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
cannot() { echo "search_bench: cannot make network namespaces and a veth pair here (needs root and ip netns)" >&2; exit 1; }

ip netns add "$host" 2>/dev/null || cannot
ip netns add "$printers" || cannot
ip link add qxsbh netns "$host" type veth peer name qxsbp netns "$printers" || cannot
ip -n "$host" addr add 10.67.0.1/16 dev qxsbh
ip -n "$host" link set qxsbh up
ip -n "$printers" link set qxsbp up
ip -n "$printers" link set lo up

for n in "${counts[@]}"; do
  ip -n "$printers" addr flush dev qxsbp
  for i in $(seq 1 "$n"); do ip -n "$printers" addr add "10.67.1.$i/16" dev qxsbp; done
  # Addresses are usable at once on a veth without duplicate address detection (IPv4).
  timeout 30 ip netns exec "$printers" "$program" respond 10.67.1.1 "$n" 20 &
  pid=$!
  sleep 0.3
  timeout 20 ip netns exec "$host" "$program" search "$n" 5000
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=
done
