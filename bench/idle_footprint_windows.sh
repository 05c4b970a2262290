#!/usr/bin/env bash
# bench/idle_footprint.sh for the Windows host under Wine: the same
# measurement of the Wine process that runs outlinkwatch.exe (it keeps its
# process id, so Ctrl-C reaches it as SIGINT), then the resident memory of
# the prefix's other Wine processes (wineserver, services.exe, ...), which
# a Windows machine has in its own form anyway.
#   bench/idle_footprint_windows.sh [seconds] [host args...]
# Needs the Windows build and its prefix: run scripts/run-demo-windows.sh once.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir="${OW_WIN_BUILD:-build/win32}"
exe="$(realpath "$build_dir/tools/host/outlinkwatch.exe")"
export WINEPREFIX="$(realpath "$build_dir/wine-demo")" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$exe" ] && [ -f "$WINEPREFIX/.ow-ready" ] ||
  { echo "idle_footprint_windows: run scripts/run-demo-windows.sh first" >&2; exit 2; }
wine="$(command -v wine64 || echo /usr/lib/wine/wine64)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$wine" "$exe" >"$work/outlinkwatch"
chmod +x "$work/outlinkwatch"
# Wine's own processes come up with the first program of the prefix.
"$wine" cmd /c exit 0 >/dev/null 2>&1 || true

# Wine's other processes of the prefix, sampled once half way through.
others() {
  local pid total=0
  for pid in $(pgrep -f 'wineserver|\.exe' || true); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    grep -qF outlinkwatch.exe "/proc/$pid/cmdline" 2>/dev/null && continue
    local rss thr
    rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")"
    thr="$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status")"
    printf '  %-7s %-28s %7s KiB %3s threads\n' "$pid" "$(tr '\0' ' ' <"/proc/$pid/cmdline" | cut -c1-28)" "$rss" "$thr"
    total=$((total + rss))
  done
  printf '  together: %s KiB\n' "$total"
}
( sleep "$(( ${1:-60} / 2 ))"; others >"$work/others" ) &
sampler=$!

OW_HOST="$work/outlinkwatch" bench/idle_footprint.sh "$@"
wait "$sampler"
echo "the prefix's other Wine processes, half way through (RSS, threads):"
cat "$work/others"
