#!/usr/bin/env bash
# list_netns.sh QXMODEL QXSIM QXMODEL_FASTWAITS
#
# qxmodel list broadcasts its search from every local address, so it runs only here:
# in a network namespace of the test's own, wired by veth pairs to two more namespaces
# that each hold one qxsim (10.231.1.2 and 10.231.2.2). Nothing leaves the namespaces.
# Exits 77 (skipped) where namespaces cannot be made.
set -u
qxmodel=$1
qxsim=$2
qxfast=$3  # the same program with the restart wait skipped, for set
tag=qxcli$$
host=$tag-host
ns1=$tag-p1
ns2=$tag-p2
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  ip netns del "$host" 2>/dev/null
  ip netns del "$ns1" 2>/dev/null
  ip netns del "$ns2" 2>/dev/null
}
trap cleanup EXIT
fail() { echo "list_netns: $*" >&2; exit 1; }

ip netns add "$host" 2>/dev/null || { echo "list_netns: cannot make network namespaces; skipped"; exit 77; }
ip netns add "$ns1" && ip netns add "$ns2" || fail "namespaces"
for i in 1 2; do
  ns=$tag-p$i
  ip -n "$host" link add h$i type veth peer name p$i netns "$ns" || fail "veth $i"
  ip -n "$host" addr add 10.231.$i.1/24 dev h$i
  ip -n "$host" link set h$i up
  ip -n "$ns" addr add 10.231.$i.2/24 dev p$i
  ip -n "$ns" link set p$i up
  ip -n "$ns" link set lo up
  # Bound to any address in its own namespace, so that it hears the broadcast.
  ip netns exec "$ns" "$qxsim" --address 0.0.0.0 --restart-ms 50 --lifetime 60 >/dev/null 2>&1 &
  pids+=($!)
done
sleep 0.5

out=$(ip netns exec "$host" timeout 30 "$qxmodel" list 2>/tmp/$tag.err)
code=$?
[ $code -eq 0 ] || fail "list exited with $code: $(cat /tmp/$tag.err)"
[ "$(sort <<<"$out")" = "$(printf 'net:10.231.1.2\nnet:10.231.2.2')" ] || fail "list printed: $out"

json=$(ip netns exec "$host" timeout 30 "$qxmodel" --json list 2>/dev/null)
[ "$(wc -l <<<"$json")" = 2 ] || fail "list --json printed: $json"
grep -qx '{"port":"net:10.231.1.2","address":"10.231.1.2"}' <<<"$json" || fail "list --json printed: $json"
grep -qx '{"port":"net:10.231.2.2","address":"10.231.2.2"}' <<<"$json" || fail "list --json printed: $json"

# What list finds, fed back as a fleet (the README's pipeline).
fleet=$(ip netns exec "$host" timeout 60 "$qxfast" list --json 2>/dev/null | jq -r .port |
  ip netns exec "$host" timeout 60 "$qxfast" set QX-K40VI --ports-from - 2>/tmp/$tag.err)
code=$?
[ $code -eq 0 ] || fail "the fleet set exited with $code: $(cat /tmp/$tag.err)"
[ "$(sort <<<"$fleet")" = "$(printf 'net:10.231.1.2\tQX-K40VI\nnet:10.231.2.2\tQX-K40VI')" ] ||
  fail "the fleet set printed: $fleet"
grep -qx "2 ok, 0 failed" /tmp/$tag.err || fail "the fleet set said: $(cat /tmp/$tag.err)"

# The addresses found are PORTs: the model and the identification of the first.
got=$(ip netns exec "$host" timeout 30 "$qxmodel" get net:10.231.1.2 2>/tmp/$tag.err)
[ $? -eq 0 ] && [ "$got" = "QX-K40VI" ] || fail "get printed \"$got\": $(cat /tmp/$tag.err)"
grep -qx "Information: Getting information was successful." /tmp/$tag.err || fail "get said: $(cat /tmp/$tag.err)"
changed=$(ip netns exec "$host" timeout 60 "$qxfast" set QX-K40V net:10.231.1.2 2>/tmp/$tag.err)
[ $? -eq 0 ] && [ "$changed" = "QX-K40V" ] || fail "set printed \"$changed\": $(cat /tmp/$tag.err)"
info=$(ip netns exec "$host" timeout 30 "$qxmodel" --json info net:10.231.2.2 2>/dev/null)
grep -q '"info":{"Name":"NX-L' <<<"$info" || fail "info --json printed: $info"

# No printer answers: an empty list is still a success.
kill "${pids[@]}" 2>/dev/null
wait "${pids[@]}" 2>/dev/null
pids=()
out=$(ip netns exec "$host" timeout 30 "$qxmodel" list 2>/dev/null)
code=$?
[ $code -eq 0 ] && [ -z "$out" ] || fail "list without printers: exit $code, output: $out"
rm -f /tmp/$tag.err
echo "list_netns: passed"
