#!/usr/bin/env bash
# Builds the Windows plug-in (OutlinkWatch.dll, 64-bit) with the mingw-w64
# cross toolchain, ACE linked in statically, and checks what the agent needs
# of it: the three entry points exported under their plain names, and no
# import of the compiler's run-time DLLs or of an ACE DLL, which a Windows
# desktop does not have.
#
# Then builds the Windows tests (ow_win_tests.exe: the unit tests that need
# nothing of Linux, ACE over loopback, the Win32 backend; lumenutil_module.exe,
# a module built apart that links to the DLL's utility exports) and the reference
# host for Windows (tools/host/outlinkwatch.exe with the plug-in,
# AGENTUI.exe and tracert.exe beside it) and, where Wine is installed
# (Debian: wine64), runs the tests; without Wine that step is skipped and
# says so. OW_WINE_TESTS=0 skips it as well. OW_CROSS_TARGETS names other
# targets to build (scripts/run-demo-windows.sh builds the host only). The
# exit status is non-zero on a failed check or test.
#
# ACE, GoogleTest and pugixml for the target come from
# scripts/mingw-deps.sh, which builds them once per machine.
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
jobs="${OW_JOBS:-2}"
for tool in "${triple}-g++-posix" "${triple}-gcc-posix" "$objdump" cmake ninja; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "cross-build: $tool not found (scripts/install-deps.sh --windows)" >&2
    exit 2
  fi
done

deps_start=$SECONDS
deps="$(OW_JOBS="$jobs" "$root/scripts/mingw-deps.sh")"
ace_root="$(sed -n 's/^OW_ACE_ROOT=//p' <<<"$deps")"
gtest_root="$(sed -n 's/^OW_GTEST_ROOT=//p' <<<"$deps")"
pugixml_root="$(sed -n 's/^OW_PUGIXML_ROOT=//p' <<<"$deps")"
echo "cross-build: ACE, GoogleTest and pugixml for the target ready in $((SECONDS - deps_start)) s"

build_start=$SECONDS
# A tree configured by an older version of this script used Make.
if [[ -f "$build_dir/CMakeCache.txt" ]] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$build_dir/CMakeCache.txt"; then
  rm -rf "$build_dir"
fi
mkdir -p "$build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-Release}" \
  -DOW_ACE_ROOT="$ace_root" -DOW_GTEST_ROOT="$gtest_root" -DOW_PUGIXML_ROOT="$pugixml_root" \
  -DOW_BUILD_TESTS=ON -DOW_BUILD_HOST=ON >"$build_dir/configure.log" 2>&1 ||
  { cat "$build_dir/configure.log" >&2; exit 1; }
read -r -a targets <<<"${OW_CROSS_TARGETS:-OutlinkWatch ow_win_tests outlinkwatch}"
cmake --build "$build_dir" --target "${targets[@]}" -j "$jobs"
echo "cross-build: built in $((SECONDS - build_start)) s"

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

# The value operations of the XML classes, which agents built apart link
# against, under their C++ names.
for name in _ZN9attributeC1ERKS_ _ZN9attributeaSERKS_ _ZN9attributeD1Ev \
  _ZN11attribute_uC1ERKS_ _ZN11attribute_uaSERKS_ _ZN11attribute_uD1Ev \
  _ZN7elementC1ERKS_ _ZN7elementaSERKS_ _ZN9element_uC1ERKS_ _ZN9element_uaSERKS_ \
  _ZN12CIAXMLParserC1ERKS_ _ZN12CIAXMLParseraSERKS_ _ZN14CIAXMLParser_uC1ERKS_ _ZN14CIAXMLParser_uaSERKS_; do
  if ! grep -qxF "$name" <<<"$exports"; then
    echo "cross-build: NOT exported: $name" >&2
    status=1
  fi
done
echo "cross-build: exported: the XML value operations and $(grep -c '^_ZN9lumenutil' <<<"$exports") utility functions"

# The DLLs it imports from; the compiler's run-time libraries and ACE must
# be linked in, not imported.
imports="$(awk '/^[[:space:]]*DLL Name:/ { print $3 }' <<<"$dump")"
while IFS= read -r lib; do
  [[ -z "$lib" ]] && continue
  case "${lib,,}" in
    libstdc++*.dll | libgcc_s*.dll | libwinpthread*.dll)
      echo "cross-build: imports a compiler run-time DLL: $lib" >&2
      status=1
      ;;
    ace*.dll | libace*.dll)
      echo "cross-build: imports an ACE DLL: $lib" >&2
      status=1
      ;;
  esac
done <<<"$imports"

if [[ $status -eq 0 ]]; then
  echo "cross-build: $dll OK (imports: $(tr '\n' ' ' <<<"$imports"))"
fi

# The tests against a real Win32 implementation.
tests_exe="$build_dir/tests/ow_win_tests.exe"
wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine="$(command -v "$candidate")"
    break
  fi
done
if [[ "${OW_WINE_TESTS:-1}" == 0 ]]; then
  echo "cross-build: Windows tests not run (OW_WINE_TESTS=0)"
elif [[ -z "$wine" ]]; then
  echo "cross-build: Windows tests not run (no Wine; Debian: apt-get install wine64)"
else
  export WINEPREFIX="$build_dir/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ ! -f "$WINEPREFIX/.ow-ready" ]]; then
    # A build machine has no display: Wine's null graphics driver still
    # gives real (invisible) windows and message queues.
    # The desktop process started with the new prefix keeps the driver it
    # found, so the prefix is shut down once the setting is in.
    prefix_start=$SECONDS
    timeout 300 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >"$build_dir/wine-setup.log" 2>&1
    wineserver="$(dirname "$wine")/wineserver"
    [[ -x "$wineserver" ]] || wineserver="$(command -v wineserver || true)"
    if [[ -n "$wineserver" ]]; then
      timeout 120 "$wineserver" -w >>"$build_dir/wine-setup.log" 2>&1 || true
    fi
    touch "$WINEPREFIX/.ow-ready"
    echo "cross-build: Wine prefix made in $((SECONDS - prefix_start)) s"
  fi
  echo "cross-build: running the Windows tests under Wine"
  run_start=$SECONDS
  # gtest's summary goes to the log as well, for the CI's closing count;
  # Wine's console ends lines with CR LF.
  set +e
  (cd "$build_dir" && timeout 600 "$wine" "$tests_exe" --gtest_brief=1 </dev/null) 2>&1 |
    tr -d '\r' | tee "$build_dir/win-tests.log"
  rc=${PIPESTATUS[0]}
  set -e
  echo "cross-build: Windows tests ran in $((SECONDS - run_start)) s"
  if [[ $rc -ne 0 ]]; then
    [[ $rc -eq 124 ]] && echo "cross-build: the Windows tests did not finish in 600 s" >&2
    echo "cross-build: Windows tests failed (exit status $rc)" >&2
    status=1
  fi
  # An agent-side module built apart from the plug-in's headers, linked to
  # the DLL, calls the utility exports.
  if ! (cd "$build_dir" && timeout 120 "$wine" "$build_dir/lumenutil_module.exe" </dev/null 2>&1 | tr -d '\r'); then
    echo "cross-build: the separately built module failed against $dll" >&2
    status=1
  fi
fi
exit $status
