#!/usr/bin/env bash
# Runs inside the private namespace. With an interface other than loopback up (a veth pair that
# exists only in this namespace), a network test and run-in-netns itself refuse to start, and
# run-in-netns leaves the multicast route alone.
#   netguard_refuses.sh GUARDED_TEST RUN_IN_NETNS
set -uo pipefail
guarded=$1
netns=$2
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
if ! ip link add kyteguard0 type veth peer name kyteguard1 2>/dev/null; then
  echo "no veth interfaces here; skipped"
  exit 77
fi
ip link set kyteguard0 up || fail "cannot bring kyteguard0 up"
ip route del 224.0.0.0/4 dev lo || fail "no multicast route to remove"

out=$("$guarded" 2>&1)
rc=$?
[ "$rc" = 1 ] || fail "the guarded test exited with $rc: $out"
grep -q 'interface kyteguard0 is up' <<<"$out" || fail "the guarded test said: $out"
grep -q 'RUN' <<<"$out" && fail "the guarded test ran tests: $out"

out=$("$netns" echo ran 2>&1)
rc=$?
[ "$rc" = 1 ] || fail "run-in-netns exited with $rc: $out"
grep -q 'refusing to run' <<<"$out" || fail "run-in-netns said: $out"
[ -z "$(ip route show 224.0.0.0/4)" ] || fail "run-in-netns added the multicast route"
echo "both refused"
