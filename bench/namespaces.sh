# Sourced by the benches that measure against printers in network namespaces.
#
# bench_namespaces NAME TAG HOST_ADDRESS/PREFIX makes $host and $printers (TAG<pid>-host,
# TAG<pid>-prn) joined by one veth pair (TAGh, TAGp), the host side at HOST_ADDRESS, both sides and the
# loopbacks up; they go again on any exit, also when interrupted, after the processes
# in bench_pids. Where namespaces cannot be made it says so (as NAME) and exits 1.
bench_pids=()

bench_stop_pids() {
  local pid
  for pid in "${bench_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${bench_pids[@]}"; do wait "$pid" 2>/dev/null; done
  bench_pids=()
}

bench_namespaces() {
  local name=$1 tag=$2 address=$3
  host=$tag$$-host
  printers=$tag$$-prn
  trap 'bench_stop_pids; ip netns del "$host" 2>/dev/null; ip netns del "$printers" 2>/dev/null; true' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM HUP
  local cannot="$name: cannot make network namespaces and a veth pair here (needs root and ip netns)"
  { ip netns add "$host" 2>/dev/null && ip netns add "$printers" &&
    ip link add "${tag}h" netns "$host" type veth peer name "${tag}p" netns "$printers"; } ||
    { echo "$cannot" >&2; exit 1; }
  ip -n "$host" addr add "$address" dev "${tag}h"
  ip -n "$host" link set "${tag}h" up
  ip -n "$host" link set lo up
  ip -n "$printers" link set "${tag}p" up
  ip -n "$printers" link set lo up
}
