#!/usr/bin/env bash
# The HTTP probe against curl on the same web server (python3 -m http.server
# on 127.0.0.1:80 inside a network namespace of our own), and the probe of a
# refusing loopback port. Needs root.     bench/probe_vs_curl.sh [requests]
set -euo pipefail
cd "$(dirname "$0")/.."

requests="${1:-500}"
bench="${OW_PROBE_BENCH:-build/release/bench/ow_probe_bench}"
[ "$(id -u)" -eq 0 ] || { echo "probe_vs_curl: needs root" >&2; exit 2; }
[ -x "$bench" ] || { echo "probe_vs_curl: build with -DOW_BUILD_BENCH=ON first" >&2; exit 2; }
command -v curl >/dev/null || { echo "probe_vs_curl: needs curl" >&2; exit 2; }

ns="owprobe-$$"
work="$(mktemp -d)"
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip -n "$ns" link set lo up
echo hello >"$work/index.html"
ip netns exec "$ns" python3 -m http.server 80 --bind 127.0.0.1 --directory "$work" >/dev/null 2>"$work/server.log" &
pid=$!
for _ in $(seq 50); do  # at most 5 s for the server to come up
  ip netns exec "$ns" curl -s -o /dev/null --max-time 1 http://127.0.0.1/ && break
  sleep 0.1
done

ip netns exec "$ns" "$bench" --benchmark_min_time=1 --benchmark_format=csv 2>/dev/null >"$work/probe.csv"
probe_us=$(awk -F, '/BM_ProbeHttp80/ {print $3}' "$work/probe.csv")
refused_us=$(awk -F, '/BM_ProbeRefusedPort/ {print $3}' "$work/probe.csv")

# One curl process for all requests: the server closes every connection
# (HTTP/1.0), so each URL is a connection and an exchange of its own.
urls=()
for _ in $(seq "$requests"); do urls+=("http://127.0.0.1/"); done
start=$EPOCHREALTIME
ip netns exec "$ns" curl -s "${urls[@]}" >/dev/null
end=$EPOCHREALTIME
curl_us=$(awk -v s="$start" -v e="$end" -v n="$requests" 'BEGIN {printf "%.1f", (e - s) * 1e6 / n}')

echo "probe of a refusing loopback port: ${refused_us} us"
echo "HTTP probe on port 80:             ${probe_us} us"
echo "curl, one process, per request:    ${curl_us} us"
awk -v p="$probe_us" -v c="$curl_us" 'BEGIN {printf "probe / curl:                      %.2f\n", p / c}'
echo "server errors (connections the probe closed before the body was read): $(grep -c 'Error' "$work/server.log" || true)"
