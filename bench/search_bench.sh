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
source "$(dirname "$0")/namespaces.sh"
bench_namespaces search_bench qxsb 10.67.0.1/16

for n in "${counts[@]}"; do
  ip -n "$printers" addr flush dev qxsbp
  for i in $(seq 1 "$n"); do ip -n "$printers" addr add "10.67.1.$i/16" dev qxsbp; done
  # Addresses are usable at once on a veth without duplicate address detection (IPv4).
  timeout 30 ip netns exec "$printers" "$program" respond 10.67.1.1 "$n" 20 &
  bench_pids=($!)
  sleep 0.3
  timeout 20 ip netns exec "$host" "$program" search "$n" 5000
  bench_stop_pids
done
