#!/usr/bin/env bash
# Route mode for real, as root, in three network namespaces this script
# makes (terminal -> router -> outside) with documentation addresses only:
# the host runs the policy inside "terminal", traces the route to the
# outside address with the tracert stand-in over Debian's traceroute, and
# reports it once, with a prompt. Then the same with the router's address
# allowed in "Route": the route passes an allowed hop and nothing is
# reported. The namespaces are removed at the end.
#   sudo ./scripts/run-route-demo.sh [--windows] [seconds per run, default 12]
# --windows runs the Windows host under Wine instead, with tracert.exe (ICMP
# echo requests) in place of the script, in a Wine prefix of its own whose
# server runs inside "terminal" (Wine's sockets are made by its server).
set -euo pipefail
cd "$(dirname "$0")/.."

windows=0
if [ "${1:-}" = --windows ]; then windows=1; shift; fi
seconds="${1:-12}"
[ "$(id -u)" -eq 0 ] || { echo "run-route-demo: needs root (network namespaces)" >&2; exit 2; }
t="owdt-$$"; r="owdr-$$"; o="owdo-$$"
work="$(mktemp -d)"
if [ "$windows" -eq 1 ]; then
  ./scripts/install-deps.sh --windows
  OW_WINE_TESTS=0 OW_CROSS_TARGETS=outlinkwatch ./.ci/cross-build.sh build/win32 >/dev/null
  wine="$(command -v wine64 || echo /usr/lib/wine/wine64)"
  host=("$wine" "$(realpath build/win32/tools/host/outlinkwatch.exe)")
  export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
else
  ./scripts/install-deps.sh
  ./scripts/build.sh debug >/dev/null
  host=("$(realpath build/debug/tools/host/outlinkwatch)")
fi

cleanup() {
  if [ "$windows" -eq 1 ]; then timeout 30 "$(dirname "$wine")/wineserver" -k 2>/dev/null || true; fi
  for n in "$t" "$r" "$o"; do ip netns del "$n" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
source scripts/lib/route-namespaces.sh  # the working directory is the top of the tree
make_route_namespaces "$t" "$r" "$o"
if [ "$windows" -eq 1 ]; then
  # The prefix and its server come up inside "terminal", with the null
  # graphics driver; the server is restarted once for the driver to count.
  ip netns exec "$t" "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  timeout 120 "$(dirname "$wine")/wineserver" -w || true
fi

policy() {  # $1: the allowed route addresses
  cat <<XML
<?xml version="1.0" encoding="UTF-8"?>
<policy type="policy.win.outlink.watch" language="1">
  <param name="Type" value="0"/>
  <param name="TrancertAddr" value="198.51.100.2"/>
  <param name="Route" value="$1"/>
  <param name="checkcyc" value="1"/>
  <param name="block" value="1"/>
  <param name="rank" value="2"/>
</policy>
XML
}

run() {  # $1: title, $2: allowed route addresses
  echo
  echo "=== $1"
  policy "$2" >"$work/policy.xml"
  # Each run has its own temporary directory: the trace file is named after the second.
  mkdir -p "$work/tmp"
  TMPDIR="$work/tmp" ip netns exec "$t" "${host[@]}" --policy "$work/policy.xml" --duration "$seconds" \
    --log "$work/log" >"$work/events" 2>"$work/status" || true
  grep -E "Tracert destination|No valid responses|Tracert success|No Response" "$work/log" | sed 's/^/log: /' || true
  grep -E "^PROMPT" "$work/status" || echo "(no prompt)"
  echo "findings (JSON lines): $(wc -l <"$work/events")"
  head -c 600 "$work/events"; echo
}

run "the route leaves the managed network: reported once and prompted" "203.0.113.0/24"
run "the router 192.0.2.1 is an allowed hop: not reported" "192.0.2.1"
