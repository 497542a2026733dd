#!/usr/bin/env bash
# bench/utility_close.sh EXE TIMER
#
# The close of the real utility under Wine: TIMER (close_timer.exe of the windows tree)
# starts EXE in a loopback-only network namespace with its own Wine server and a private
# display, closes it and times how long its windows stay on screen and how long it takes
# to end. Prints the two rows for scripts/bench; when they cannot be measured, the rows
# say why.
set -u
source "$(dirname "$0")/../scripts/lib.sh"
rows() {
  printf 'close accepted → window gone (ms)\t(not measured: %s)\t200 at most\n' "$1"
  printf 'close accepted → process ended (ms)\t(not measured: %s)\texit steps included\n' "$1"
}
if [ "${3:-}" != --inside ]; then
  [ -f "$1" ] || { rows "the windows tree has not built the utility"; exit 0; }
  [ -f "$2" ] || { rows "the windows tree has not built close_timer.exe"; exit 0; }
  out=$("$QX_ROOT/scripts/in-netns" "$QX_ROOT/scripts/with-wine" "$0" "$(realpath "$1")" "$(realpath "$2")" --inside 2>/dev/null)
  if grep -q 'process ended' <<<"$out"; then
    grep -F 'close accepted' <<<"$out"
  else
    rows "no network namespace or Wine session could be made here"
  fi
  exit 0
fi

winpath() { local p=$1; echo "Z:${p//\//\\}"; }
out=$(timeout 600 "$WINE64" "$2" "$(winpath "$1")" 3 </dev/null 2>/dev/null | tr -d '\r')
grep -F 'close accepted' <<<"$out" || rows "close_timer.exe failed"
