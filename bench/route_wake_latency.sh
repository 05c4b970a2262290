#!/usr/bin/env bash
# Route change -> check start: runs the host on the demo policy inside a
# network namespace of its own, adds routes there and measures the time
# from each "ip route add" starting to the policy's "the route changed" log
# line arriving (the kernel tells the policy before "ip" has exited). Needs root and bash 5 (EPOCHREALTIME, no forks in the
# timing path).    bench/route_wake_latency.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."

rounds="${1:-10}"
host="${OW_HOST:-build/release/tools/host/outlinkwatch}"
[ "$(id -u)" -eq 0 ] || { echo "route_wake_latency: needs root" >&2; exit 2; }
[ -x "$host" ] || { echo "route_wake_latency: build the host first (scripts/build.sh release)" >&2; exit 2; }
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
# An address of a documentation range, so the policy sees a usable network.
ip -n "$ns" link add owb0 type veth peer name owb1
ip -n "$ns" addr add 192.0.2.10/24 dev owb0
ip -n "$ns" link set owb0 up
ip -n "$ns" link set owb1 up

# The host's log lines stream through a reader that stamps the ones we want
# the moment they arrive.
mkfifo "$work/log"
: >"$work/stamps"
: >"$work/armed"
(
  while IFS= read -r line; do
    case "$line" in
      *"the route changed"*) echo "$EPOCHREALTIME" >>"$work/stamps" ;;
      *"Set Connection check Task"*) echo x >>"$work/armed" ;;
    esac
  done <"$work/log"
) &
ip netns exec "$ns" "$host" >/dev/null 2>"$work/log" &
pid=$!

lines() { wc -l <"$1"; }
wait_lines() {  # file count
  local deadline=$((SECONDS + 20))
  while [ "$(lines "$1")" -lt "$2" ]; do
    [ "$SECONDS" -lt "$deadline" ] || { echo "route_wake_latency: timed out" >&2; exit 1; }
    sleep 0.01
  done
}

wait_lines "$work/armed" 1
total=0
total_ip=0
for i in $(seq 1 "$rounds"); do
  wait_lines "$work/armed" "$i"
  sleep 0.2  # the thread re-arms its request right after it logs
  t0="$EPOCHREALTIME"
  ip -n "$ns" route add "198.51.100.$i/32" dev owb0
  tip="$EPOCHREALTIME"
  wait_lines "$work/stamps" "$i"
  t1="$(sed -n "${i}p" "$work/stamps")"
  us="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%d", (b - a) * 1000000 }')"
  ipus="$(awk -v a="$t0" -v b="$tip" 'BEGIN { printf "%d", (b - a) * 1000000 }')"
  total=$((total + us))
  total_ip=$((total_ip + ipus))
  printf 'round %2d: log line %6d us after "ip route add" started (ip itself took %6d us)\n' "$i" "$us" "$ipus"
done
printf 'mean: %d us to the log line; "ip route add" itself %d us; %d rounds\n' \
  $((total / rounds)) $((total_ip / rounds)) "$rounds"
