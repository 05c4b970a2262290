#!/usr/bin/env bash
# The reference host built for Windows, under Wine: sets up what is missing
# (Wine, the mingw-w64 cross toolchain; ACE and pugixml for the target are
# built once per machine by scripts/mingw-deps.sh), cross-builds the host
# with OutlinkWatch.dll, AGENTUI.exe and tracert.exe beside it, and runs it
# on its built-in demo policy in a private Wine prefix with the null
# graphics driver. Extra arguments go to the host and replace the 20 s
# default, as with scripts/run-demo.sh:
#   ./scripts/run-demo-windows.sh --duration 60
#   ./scripts/run-demo-windows.sh --policy tools/host/examples/route-policy.xml
# Paths given to the host are read through Wine's drive Z:, so they may be
# written as on Linux, relative to the current directory.
#
# Environment: OW_WIN_BUILD (build directory, default build/win32, shared
# with .ci/cross-build.sh), OW_WIN_ARCH (i686: the 32-bit host and plug-in,
# as a 32-bit agent runs them; needs wine32), OW_JOBS (compile jobs, default 2).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${OW_WIN_BUILD:-$root/build/win32}"
case "$build_dir" in
  /*) ;;
  *) build_dir="$root/$build_dir" ;;
esac

say() { echo "demo: $*" >&2; }

"$root/scripts/install-deps.sh" --windows >&2

mkdir -p "$build_dir"
say "building the Windows host (log in $build_dir/demo-build.log)"
build_start=$SECONDS
OW_WINE_TESTS=0 OW_CROSS_TARGETS=outlinkwatch "$root/.ci/cross-build.sh" "$build_dir" >"$build_dir/demo-build.log" 2>&1 ||
  { tail -n 30 "$build_dir/demo-build.log" >&2; say "the build failed"; exit 1; }
say "built in $((SECONDS - build_start)) s"
host_dir="$build_dir/tools/host"
for f in outlinkwatch.exe OutlinkWatch.dll AGENTUI.exe tracert.exe lang/en.ini; do
  [[ -f "$host_dir/$f" ]] || { say "$host_dir/$f is missing after the build"; exit 1; }
done

wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine="$(command -v "$candidate")"
    break
  fi
done
[[ -n "$wine" ]] || { say "no Wine (Debian: wine64)"; exit 2; }
wineserver="$(dirname "$wine")/wineserver"
[[ -x "$wineserver" ]] || wineserver="$(command -v wineserver || true)"

# A prefix of the demo's own: it writes the user's Internet Explorer
# setting (and puts it back), which no other prefix should see.
export WINEPREFIX="$build_dir/wine-demo" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [[ ! -f "$WINEPREFIX/.ow-ready" ]]; then
  # No display is needed: the null graphics driver still gives real
  # (invisible) windows. The prefix's first server keeps the driver it
  # found, so it is shut down once the setting is in.
  prefix_start=$SECONDS
  timeout 300 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >"$build_dir/wine-demo-setup.log" 2>&1
  [[ -n "$wineserver" ]] && { timeout 120 "$wineserver" -w >>"$build_dir/wine-demo-setup.log" 2>&1 || true; }
  touch "$WINEPREFIX/.ow-ready"
  say "Wine prefix $WINEPREFIX made in $((SECONDS - prefix_start)) s"
fi

# Wine has no tracert; the stand-in beside the host traces with ICMP echo
# requests. Whether Wine's ICMP answers here decides what route mode shows.
trace="$(timeout 30 "$wine" "$host_dir/tracert.exe" -h 2 -w 500 127.0.0.2 2>/dev/null | tr -d '\r' || true)"
if grep -qE '^ +1 .* 127\.0\.0\.2$' <<<"$trace"; then
  say "tracert.exe under Wine: ICMP answers (127.0.0.2 at hop 1), route mode traces for real"
elif grep -q 'Trace complete.' <<<"$trace"; then
  say "tracert.exe under Wine: no ICMP answers here; a trace ends with \"Trace complete.\" after -h timed-out hops"
else
  say "tracert.exe under Wine gave no complete output; route-mode traces will be given up"
fi

if [[ $# -eq 0 ]]; then set -- --duration 20; fi
say "running $host_dir/outlinkwatch.exe $*"
set +e
"$wine" "$host_dir/outlinkwatch.exe" "$@"
rc=$?
set -e
# The prefix's programs are gone once the host is; let its server follow.
[[ -n "$wineserver" ]] && { timeout 30 "$wineserver" -w || true; }
exit $rc
