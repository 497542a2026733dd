#!/usr/bin/env bash
# qxmodel_interrupt.sh QXMODEL_EXE TEST_SERVICE_EXE
#
# qxmodel.exe --stop-services under Wine, told to end while it stops the services: Wine
# turns SIGINT to a process into the console control event CTRL_C_EVENT for its
# handlers, as Ctrl-C in its console would. The vendor service "ZemakTovel" (our test
# service, lingering 8 s in stop-pending) and Wine's spooler must run again afterwards;
# "ZemakPOSPort", found stopped, must stay stopped. Runs in the windows suite's Wine
# session; the two services exist only while it runs.
set -u
source "$(dirname "$0")/../../scripts/lib.sh"
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
qxmodel=$(winpath "$(realpath "$1")")
service=$(winpath "$(realpath "$2")")
fail() { qx_log "qxmodel interrupt test: $*"; exit 1; }

w() { timeout 60 "$WINE64" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
state() { w sc query "$1" | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
wait_state() {  # NAME STATE: at most 30 s
  for _ in $(seq 150); do [ "$(state "$1")" = "$2" ] && return 0; sleep 0.2; done
  return 1
}
remove() {
  for name in ZemakTovel ZemakPOSPort; do
    [ "$(state $name)" = RUNNING ] && w sc stop $name >/dev/null && wait_state $name STOPPED
    w sc delete $name >/dev/null
  done
}
out=$(mktemp)
err=$(mktemp)
trap 'remove; rm -f "$out" "$err"' EXIT
remove

w sc create ZemakTovel binPath= "$service linger=8000" >/dev/null
w sc create ZemakPOSPort binPath= "$service" >/dev/null
w sc start ZemakTovel >/dev/null
w sc start Spooler >/dev/null
wait_state ZemakTovel RUNNING || fail "the test service does not start"
wait_state Spooler RUNNING || fail "Wine's spooler does not start"
[ "$(state ZemakPOSPort)" = STOPPED ] || fail "ZemakPOSPort is not installed"

"$WINE64" "$qxmodel" --json --stop-services get com200 </dev/null >"$out" 2>"$err" &
pid=$!
wait_state ZemakTovel STOP_PENDING || fail "qxmodel did not stop ZemakTovel"
kill -INT "$pid"
code=0
wait "$pid" || code=$?
tr -d '\r' <"$out" >"$out.plain" && mv "$out.plain" "$out"
tr -d '\r' <"$err" >"$err.plain" && mv "$err.plain" "$err"

[ "$code" = 4 ] || fail "exit status $code, not 4 (interrupted); stderr: $(cat "$err")"
grep -qx 'qxmodel: interrupted (Ctrl-C); the services it stopped were started again' "$err" ||
  fail "no report on stderr: $(cat "$err")"
grep -qF '"interrupted":"Ctrl-C","services":{"stopped":["Spooler","ZemakTovel"],"failed":[]},"ok":false,"exit":4}' "$out" ||
  fail "JSON: $(cat "$out")"
[ "$(state ZemakTovel)" = RUNNING ] || fail "ZemakTovel left $(state ZemakTovel)"
[ "$(state Spooler)" = RUNNING ] || fail "the spooler left $(state Spooler)"
[ "$(state ZemakPOSPort)" = STOPPED ] || fail "ZemakPOSPort was started, though this run had not stopped it"
echo "qxmodel interrupt test: Ctrl-C restarted what the run had stopped"
