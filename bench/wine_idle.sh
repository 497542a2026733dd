#!/usr/bin/env bash
# bench/wine_idle.sh UTILITY_EXE REFERENCE_EXE
#
# Idle CPU and peak memory under Wine of the real utility and, as their reference, of
# the smallest window program (bench/minimal_window_win32.cpp), one after the other in
# one loopback-only network namespace with one Wine server and a private display. Each
# program is started, left 5 s to finish starting (the utility: services, port table,
# USB listing), then its CPU time over ten idle seconds and its peak resident memory
# (Wine's own libraries included) are read, and it is stopped again. Prints four rows
# for scripts/bench; exits non-zero when a program is missing or could not be measured.
set -u
source "$(dirname "$0")/../scripts/lib.sh"
if [ "${3:-}" != --inside ]; then
  for exe in "$1" "$2"; do
    [ -f "$exe" ] || { qx_log "wine_idle: $exe is not built"; exit 1; }
  done
  exec "$QX_ROOT/scripts/in-netns" "$QX_ROOT/scripts/with-wine" "$0" "$(realpath "$1")" "$(realpath "$2")" --inside
fi

# Prints "CPU-percent peak-MB" of one program. (Interrupted, scripts/with-wine stops
# the program with everything else of its Wine server.)
measure() {
  "$WINE64" "$1" </dev/null >/dev/null 2>&1 &
  local pid=$!
  sleep 5
  [ -r "/proc/$pid/stat" ] || { qx_log "wine_idle: $1 ended at start"; return 1; }
  local before after peak_kb
  before=$(cpu_ticks "$pid")
  sleep 10
  after=$(cpu_ticks "$pid")
  peak_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  [ -n "$before" ] && [ -n "$after" ] && [ -n "$peak_kb" ] || { qx_log "wine_idle: $1 ended while measured"; return 1; }
  awk -v t="$((after - before))" -v hz="$(getconf CLK_TCK)" -v kb="$peak_kb" \
    'BEGIN { printf "%.3f %.1f\n", t / hz / 10 * 100, kb / 1024 }'
}
# User and system time in clock ticks (the fields after the command name).
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk '{print $12 + $13}'; }

utility=$(measure "$1") || exit 1
reference=$(measure "$2") || exit 1
read -r utility_cpu utility_mb <<<"$utility"
read -r reference_cpu reference_mb <<<"$reference"
printf 'Idle CPU of the utility under Wine (%%)\t%s\t0; a minimal window program: %s (10 s after start)\n' \
  "$utility_cpu" "$reference_cpu"
printf 'Peak memory of the utility under Wine (MB)\t%s\ta minimal window program: %s (resident, Wine included)\n' \
  "$utility_mb" "$reference_mb"
printf 'Idle CPU of a minimal window program under Wine (%%)\t%s\t0 (10 s after start)\n' "$reference_cpu"
printf 'Peak memory of a minimal window program under Wine (MB)\t%s\tresident, Wine included\n' "$reference_mb"
