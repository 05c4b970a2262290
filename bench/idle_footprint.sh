#!/usr/bin/env bash
# Footprint of an idle policy: runs the reference host on a policy for a
# given time, then stops it with SIGINT, and reports CPU time, peak RSS,
# thread count while running, the wake-ups of each thread (context switches
# after a 5 s settle) and how long the stop (done + release) took.
#   bench/idle_footprint.sh [seconds] [host args...]
# Defaults: 60 s on the built-in demo policy.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
host="${OW_HOST:-build/release/tools/host/outlinkwatch}"
[ -x "$host" ] || { echo "idle_footprint: build the host first (scripts/build.sh release)" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# GNU time is not always installed; the kernel's own accounting is enough.
"$host" "$@" --log "$work/log" >"$work/out" 2>"$work/err" &
pid=$!

# Context switches of every thread: name and voluntary + involuntary count.
switches() {
  local t
  for t in /proc/"$pid"/task/*; do
    awk -v tid="${t##*/}" -v name="$(cat "$t/comm" 2>/dev/null)" \
      '/ctxt_switches/ { n += $2 } END { print tid, name, n + 0 }' "$t/status" 2>/dev/null || true
  done
}
settle=5
[ "$seconds" -gt "$settle" ] || settle=0
sleep "$settle"
switches >"$work/csw.before"
sleep "$((seconds - settle))"
switches >"$work/csw.after"
threads="$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status")"
rss_kb="$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")"
read -r utime stime < <(awk '{ print $14, $15 }' "/proc/$pid/stat")
ticks="$(getconf CLK_TCK)"
start_ns="$(date +%s%N)"
kill -INT "$pid"
wait "$pid" || true
stop_ms=$(( ($(date +%s%N) - start_ns) / 1000000 ))

printf 'run time:        %s s\n' "$seconds"
awk -v u="$utime" -v s="$stime" -v t="$ticks" 'BEGIN { printf "CPU time:        user %.2f s, system %.2f s\n", u / t, s / t }'
printf 'peak RSS:        %s KiB\n' "$rss_kb"
printf 'threads:         %s\n' "$threads"
printf 'stop (done+release+exit): %s ms\n' "$stop_ms"
printf 'log lines:       %s\n' "$(wc -l < "$work/log")"
printf 'wake-ups per thread over the last %s s (context switches):\n' "$((seconds - settle))"
join "$work/csw.before" "$work/csw.after" | awk '{ printf "  %-8s %-16s %d\n", $1, $2, $5 - $3 }'

