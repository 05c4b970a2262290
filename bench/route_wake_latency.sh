#!/usr/bin/env bash
# Route change -> check start: runs the host on the demo policy inside a
# network namespace of its own, adds routes there and measures the time
# from each "ip route add" to the policy's "the route changed" log line.
# Needs root.   bench/route_wake_latency.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."

rounds="${1:-10}"
host="${OW_HOST:-build/debug/tools/host/outlinkwatch}"
[ "$(id -u)" -eq 0 ] || { echo "route_wake_latency: needs root" >&2; exit 2; }
[ -x "$host" ] || { echo "route_wake_latency: build the host first" >&2; exit 2; }
host="$(realpath "$host")"

ns="owbench-$$"
work="$(mktemp -d)"
cleanup() {
  [ -n "${pid:-}" ] && kill -INT "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip -n "$ns" link set lo up
# An address of the documentation range, so the policy sees a usable network.
ip -n "$ns" link add owb0 type veth peer name owb1
ip -n "$ns" addr add 192.0.2.10/24 dev owb0
ip -n "$ns" link set owb0 up
ip -n "$ns" link set owb1 up

ip netns exec "$ns" "$host" --duration 0 --log "$work/log" >/dev/null 2>&1 &
pid=$!

wait_for_count() {  # pattern count
  local deadline=$(( $(date +%s) + 20 ))
  while [ "$(grep -c -- "$1" "$work/log" 2>/dev/null || true)" -lt "$2" ]; do
    [ "$(date +%s)" -lt "$deadline" ] || { echo "route_wake_latency: timed out waiting for '$1'" >&2; exit 1; }
    sleep 0.001
  done
}

wait_for_count "Set Connection check Task" 1
total=0
for i in $(seq 1 "$rounds"); do
  sleep 0.3  # let the thread re-arm its request
  t0="$(date +%s%N)"
  ip -n "$ns" route add "198.51.100.$i/32" dev owb0
  wait_for_count "the route changed" "$i"
  t1="$(date +%s%N)"
  us=$(( (t1 - t0) / 1000 ))
  total=$(( total + us ))
  printf 'round %2d: %6d us\n' "$i" "$us"
done
printf 'mean: %d us over %d rounds (includes log-file polling, ~1 ms)\n' $(( total / rounds )) "$rounds"
