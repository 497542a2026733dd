#!/usr/bin/env bash
# bench/utility_idle.sh EXE
#
# Idle CPU and peak memory of the real utility under Wine: starts it in a loopback-only
# network namespace with its own Wine server and a private display, lets it finish
# starting (services, port table, USB listing), then counts the CPU time it uses over
# ten idle seconds and reads its peak resident memory. Prints two rows for
# scripts/bench; nothing when EXE has not been built.
set -u
source "$(dirname "$0")/../scripts/lib.sh"
[ -f "$1" ] || exit 0
exe=$(realpath "$1")
if [ "${2:-}" != --inside ]; then
  exec "$QX_ROOT/scripts/in-netns" "$QX_ROOT/scripts/with-wine" "$0" "$exe" --inside
fi

"$WINE64" "$exe" </dev/null >/dev/null 2>&1 &
pid=
for _ in $(seq 200); do
  # Wine shows the program under its own path as the whole command line.
  pid=$(pgrep -n -x -f "$exe" || true)
  [ -n "$pid" ] && [ -r "/proc/$pid/stat" ] && break
  sleep 0.1
done
[ -n "$pid" ] || exit 0
sleep 5
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
before=$(cpu_ticks)
sleep 10
after=$(cpu_ticks)
peak_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
"$WINESERVER64" -k >/dev/null 2>&1
awk -v t="$((after - before))" -v hz="$(getconf CLK_TCK)" -v kb="$peak_kb" 'BEGIN {
  printf "Idle CPU of the utility under Wine (%%)\t%.3f\t0 (over 10 s after start)\n", t / hz / 10 * 100
  printf "Peak memory of the utility under Wine (MB)\t%.1f\tresident, Wine included\n", kb / 1024
}'
