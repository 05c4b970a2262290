#!/usr/bin/env bash
# Builds the Windows plug-in (OutlinkWatch.dll, 64-bit) with the mingw-w64
# cross toolchain and checks what the agent needs of it: the three entry
# points exported under their plain names, and no import of the compiler's
# own run-time DLLs, which a Windows desktop does not have.
#
# Then builds the Win32 backend's smoke program and, where Wine is
# installed (Debian: wine64), runs it; without Wine that step is skipped
# and says so. OW_WINE_SMOKE=0 skips it as well.
#
#   .ci/cross-build.sh [build-dir]      (default: build-win)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-build-win}"
case "$build_dir" in
  /*) ;;
  *) build_dir="$root/$build_dir" ;;
esac

triple=x86_64-w64-mingw32
objdump="${triple}-objdump"
for tool in "${triple}-g++-posix" "${triple}-gcc-posix" "$objdump" cmake; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "cross-build: $tool not found (Debian: apt-get install g++-mingw-w64-x86-64-posix cmake)" >&2
    exit 2
  fi
done

cmake -S "$root" -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-Release}" \
  -DOW_BUILD_TESTS=OFF -DOW_BUILD_HOST=OFF
cmake --build "$build_dir" --target OutlinkWatch -j "$(nproc 2>/dev/null || echo 2)"

dll="$build_dir/OutlinkWatch.dll"
if [[ ! -f "$dll" ]]; then
  echo "cross-build: $dll was not produced" >&2
  exit 1
fi

dump="$("$objdump" -p "$dll")"

# The names of the export name table: its rows end in the exported name,
# after an index in brackets; the table ends at the first blank line.
exports="$(awk '
  /^\[Ordinal\/Name Pointer\] Table/ { in_table = 1; next }
  in_table && /^[[:space:]]*$/ { in_table = 0 }
  in_table && /\[/ { print $NF }
' <<<"$dump")"

status=0
for name in GetInterfaceList CreateObject QuerySupportedCommand; do
  if grep -qxF "$name" <<<"$exports"; then
    echo "cross-build: exported: $name"
  else
    echo "cross-build: NOT exported under its plain name: $name" >&2
    status=1
  fi
done

# The DLLs it imports from; the compiler's run-time libraries must be
# linked in, not imported.
imports="$(awk '/^[[:space:]]*DLL Name:/ { print $3 }' <<<"$dump")"
while IFS= read -r lib; do
  [[ -z "$lib" ]] && continue
  case "${lib,,}" in
    libstdc++*.dll | libgcc_s*.dll | libwinpthread*.dll)
      echo "cross-build: imports a compiler run-time DLL: $lib" >&2
      status=1
      ;;
  esac
done <<<"$imports"

if [[ $status -eq 0 ]]; then
  echo "cross-build: $dll OK (imports: $(tr '\n' ' ' <<<"$imports"))"
fi

# The backend against a real Win32 implementation.
smoke_exe="$build_dir/ow_win32_smoke.exe"
"${triple}-g++-posix" -std=c++17 -Wall -Wextra -Werror -O2 -I"$root/include" -I"$root/src" \
  "$root/tests/win32/backend_smoke.cc" \
  "$root/src/platform/win32/os_win32.cc" \
  "$root/src/platform/win32/timer_host_win32.cc" \
  "$root/src/platform/os.cc" \
  -static -lws2_32 -liphlpapi -luser32 -ladvapi32 -o "$smoke_exe"

wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine="$(command -v "$candidate")"
    break
  fi
done
if [[ "${OW_WINE_SMOKE:-1}" == 0 ]]; then
  echo "cross-build: Win32 smoke run skipped (OW_WINE_SMOKE=0)"
elif [[ -z "$wine" ]]; then
  echo "cross-build: Win32 smoke run skipped (no Wine; Debian: apt-get install wine64)"
else
  export WINEPREFIX="$build_dir/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ ! -f "$WINEPREFIX/.ow-ready" ]]; then
    # A build machine has no display: Wine's null graphics driver still
    # gives real (invisible) windows and message queues.
    # The desktop process started with the new prefix keeps the driver it
    # found, so the prefix is shut down once the setting is in.
    timeout 300 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >"$build_dir/wine-setup.log" 2>&1
    wineserver="$(dirname "$wine")/wineserver"
    [[ -x "$wineserver" ]] || wineserver="$(command -v wineserver || true)"
    if [[ -n "$wineserver" ]]; then
      timeout 120 "$wineserver" -w >>"$build_dir/wine-setup.log" 2>&1 || true
    fi
    touch "$WINEPREFIX/.ow-ready"
  fi
  echo "cross-build: running the Win32 smoke program under Wine"
  if ! (cd "$build_dir" && timeout 300 "$wine" "$smoke_exe" </dev/null); then
    echo "cross-build: Win32 smoke program failed" >&2
    status=1
  fi
fi
exit $status
