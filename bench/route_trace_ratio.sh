#!/usr/bin/env bash
# A route trace through the policy's tracer (command started hidden, output
# file polled once a second, parsed) against Debian's traceroute itself
# (the same options the tracert stand-in gives it), over a two-hop route
# through a router namespace. Also the stand-in alone. Needs root and a
# release build with benchmarks:
#   cmake -S . -B build/release -DOW_BUILD_BENCH=ON && ninja -j2 -C build/release ow_route_trace_bench
#   bench/route_trace_ratio.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."

rounds="${1:-5}"
bench="${OW_TRACE_BENCH:-build/release/bench/ow_route_trace_bench}"
[ "$(id -u)" -eq 0 ] || { echo "route_trace_ratio: needs root" >&2; exit 2; }
[ -x "$bench" ] || { echo "route_trace_ratio: build $bench first" >&2; exit 2; }
bench="$(realpath "$bench")"
tracert="$(dirname "$bench")/tracert"
[ -x "$tracert" ] || { echo "route_trace_ratio: $tracert missing" >&2; exit 2; }

t="owbt-$$"; r="owbr-$$"; o="owbo-$$"
cleanup() { for n in "$t" "$r" "$o"; do ip netns del "$n" 2>/dev/null || true; done; }
trap cleanup EXIT
source scripts/lib/route-namespaces.sh  # the working directory is the top of the tree
make_route_namespaces "$t" "$r" "$o"
dest=198.51.100.2

# Milliseconds of one command, as the mean of rounds runs.
mean_ms() {
  local total=0 start end
  for _ in $(seq "$rounds"); do
    start=$(date +%s%N); "$@" >/dev/null 2>&1; end=$(date +%s%N)
    total=$(( total + (end - start) / 1000 ))
  done
  echo "scale=1; $total / $rounds / 1000" | bc
}

raw=$(mean_ms ip netns exec "$t" traceroute -n -q 1 -w 1 -m 30 "$dest")
standin=$(mean_ms ip netns exec "$t" "$tracert" -w 1000 "$dest")
tracer=$(ip netns exec "$t" "$bench" "$dest" "$rounds" | awk '$1 == 3 { s += $2; n++ } END { if (n) printf "%.1f", s / n; else print "nan" }')
# ip netns exec's own start-up is in the first two; measure it to take it out.
base=$(mean_ms ip netns exec "$t" true)

echo "rounds: $rounds, route: 192.0.2.2 -> 192.0.2.1 -> $dest"
echo "traceroute:        ${raw} ms (ip netns exec start-up ${base} ms included)"
echo "tracert stand-in:  ${standin} ms"
echo "tracer (Trace):    ${tracer} ms"
echo "ratio stand-in / traceroute: $(echo "scale=2; ($standin - $base) / ($raw - $base)" | bc)"
echo "ratio Trace / traceroute:    $(echo "scale=2; $tracer / ($raw - $base)" | bc)"
