#!/usr/bin/env bash
# Runs the Windows demos under Wine and checks what they say: the
# connection demo (one finding as a JSON line, its prompt, a clean stop)
# and the proxy demo against Wine's real registry (the Internet Explorer
# setting the host writes under HKEY_USERS is found through AGENTUI.exe's
# token and reported). Each run is bounded to 180 s. With --arch i686 it
# runs the 32-bit host and plug-in's proxy demo, as a 32-bit agent on
# 64-bit Windows runs them, where the 32-bit tests ran (wine32 is there).
#   ./scripts/check-demos-windows.sh              # build/win32
#   ./scripts/check-demos-windows.sh --arch i686  # build/win32-i686
# Exit status 0 when every check holds; otherwise the demo's output goes
# to stderr and the status is 1.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

arch=x86_64
if [[ "${1:-}" == --arch ]]; then
  arch="${2:?--arch needs x86_64 or i686}"
fi

# The proxy demo: the Internet Explorer finding on stdout, its log line.
check_proxy_demo() {
  local build="$1" rc=0
  shift
  env "$@" OW_WIN_BUILD="$build" timeout 180 ./scripts/run-demo-windows.sh --demo proxy --duration 10 \
    >"$build/proxy-demo.json" 2>"$build/proxy-demo.log" || rc=$?
  if [[ $rc -ne 0 ]] || ! grep -q '"Information","value":"ftp:127.0.0.2;' "$build/proxy-demo.json" ||
     ! grep -qF 'IE set invalid proxy send msg' "$build/proxy-demo.log"; then
    cat "$build/proxy-demo.log" "$build/proxy-demo.json" >&2
    echo "demo check: the Windows proxy demo in $build failed (exit status $rc)" >&2
    return 1
  fi
}

if [[ "$arch" == i686 ]]; then
  check_proxy_demo build/win32-i686 OW_WIN_ARCH=i686
  echo "demo check: the 32-bit Windows proxy demo ran"
  exit 0
fi

# The connection demo for 10 s: one connection finding as a JSON line on
# stdout, its prompt, and a clean stop.
build=build/win32
demo_start=$SECONDS
demo_rc=0
OW_WIN_BUILD="$build" timeout 180 ./scripts/run-demo-windows.sh --duration 10 >"$build/demo.json" 2>"$build/demo.log" ||
  demo_rc=$?
demo_ok=1
[[ $demo_rc -eq 0 ]] || demo_ok=0
grep -q '^{"policyType":"policy.win.outlink.watch",.*"127.0.0.1 can be reached from this computer."' "$build/demo.json" ||
  demo_ok=0
for line in 'demo outside server: 127.0.0.1:' 'demo: user-interface process AGENTUI.exe started' \
            'PROMPT: ' 'stop: duration elapsed' 'done: 0' 'released'; do
  grep -qF "$line" "$build/demo.log" || { echo "demo check: the Windows demo did not say: $line" >&2; demo_ok=0; }
done
if [[ $demo_ok -eq 0 ]]; then
  cat "$build/demo.log" "$build/demo.json" >&2
  echo "demo check: the Windows demo failed (exit status $demo_rc)" >&2
  exit 1
fi
check_proxy_demo "$build"
echo "demo check: the Windows demos ran in $((SECONDS - demo_start)) s"
