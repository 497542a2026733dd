#!/usr/bin/env bash
# bench/fleet_bench.sh QXMODEL QXSIM [--long]
#
# qxmodel on fleets of networked printers: a host namespace joined by one veth pair to
# a printer namespace holding 64 addresses, each with a qxsim of its own. Measured side
# by side in this one run, as rows "figure<TAB>measured<TAB>reference":
#   Get on one printer, and on 64 printers with -j 64 (goal: at most 2 × the one);
#   with --long, Set on one printer and on 16 with -j 16, each with the program's real
#   restart wait (goal: at most 1.1 × the one; about a minute each).
# Nothing leaves these namespaces; they and the simulated printers go again on any
# exit, also when interrupted. Where namespaces cannot be made it says so and exits 1.
set -u
qxmodel=$1
qxsim=$2
long=${3:-}
count=64
fail() { echo "fleet_bench: $*" >&2; exit 1; }
source "$(dirname "$0")/namespaces.sh"
bench_namespaces fleet_bench qxfb 10.68.0.1/16
ports=()
for i in $(seq 1 $count); do
  ip -n "$printers" addr add "10.68.1.$i/16" dev qxfbp
  # The printer restarts 20 s after a Set: well inside the program's wait.
  ip netns exec "$printers" "$qxsim" --address "10.68.1.$i" --restart-ms 20000 --lifetime 900 >/dev/null 2>&1 &
  bench_pids+=($!)
  ports+=("net:10.68.1.$i")
done
sleep 1

# Milliseconds of one qxmodel run in the host namespace; fails unless every port succeeded.
run_ms() {
  local start end out
  start=$(date +%s%N)
  out=$(timeout 600 ip netns exec "$host" "$qxmodel" "$@" 2>&1) || fail "qxmodel $* failed: $out"
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

one=$(run_ms get "${ports[0]}") || exit 1
many=$(run_ms get -j $count "${ports[@]}") || exit 1
printf 'Get on one printer (ms)\t%s\tthe single exchange the fleets are measured against\n' "$one"
printf 'Get on 64 printers, -j 64 (ms)\t%s\t%s × one Get (goal: at most 2 ×)\n' "$many" "$(ratio "$many" "$one")"

if [ "$long" = --long ]; then
  one=$(run_ms set QX-K40VI "${ports[0]}") || exit 1
  many=$(run_ms set QX-K40VI -j 16 "${ports[@]:1:16}") || exit 1
  printf 'Set on one printer (s)\t%s\twith the real restart wait\n' "$(awk -v m="$one" 'BEGIN { printf "%.1f", m / 1000 }')"
  printf 'Set on 16 printers, -j 16 (s)\t%s\t%s × one Set (goal: at most 1.1 ×)\n' \
    "$(awk -v m="$many" 'BEGIN { printf "%.1f", m / 1000 }')" "$(ratio "$many" "$one")"
fi
