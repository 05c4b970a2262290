#!/usr/bin/env bash
# Builds the Windows plug-in (OutlinkWatch.dll) with the mingw-w64 cross
# toolchain, ACE linked in statically, and checks what the agent needs of
# it: the machine type the agent's process has, the three entry points
# exported under their plain names, and no import of the compiler's
# run-time DLLs or of an ACE DLL, which a Windows desktop does not have.
# The target is 64-bit Windows (x86_64, the default) or, for agents that
# run as 32-bit processes, 32-bit Windows (i686).
#
# Then builds the Windows tests (ow_win_tests.exe: the unit tests that need
# nothing of Linux, ACE over loopback, the Win32 backend; lumenutil_module.exe,
# a module built apart that links to the DLL's utility exports) and the reference
# host for Windows (tools/host/outlinkwatch.exe with the plug-in,
# AGENTUI.exe and tracert.exe beside it) and, where Wine is installed
# (Debian: wine64; for the 32-bit build also wine32, whose 32-bit tests run
# in a 64-bit prefix as a 32-bit agent runs on 64-bit Windows), runs the
# tests; without Wine that step is skipped and says so. OW_WINE_TESTS=0
# skips it as well. OW_CROSS_TARGETS names other targets to build
# (scripts/run-demo-windows.sh builds the host only). The exit status is
# non-zero on a failed check or test.
#
# ACE, GoogleTest and pugixml for the target come from
# scripts/mingw-deps.sh, which builds them once per machine.
#
#   .ci/cross-build.sh [--arch x86_64|i686] [build-dir]
#                       (default: OW_WIN_ARCH or x86_64; build-win, or build-win-i686)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
arch="${OW_WIN_ARCH:-x86_64}"
if [[ "${1:-}" == --arch ]]; then
  arch="${2:?--arch needs x86_64 or i686}"
  shift 2
fi
# The PE machine type objdump names for the target.
case "$arch" in
  x86_64) pe_format=pei-x86-64 default_dir=build-win ;;
  i686) pe_format=pei-i386 default_dir=build-win-i686 ;;
  *) echo "cross-build: unknown target $arch (x86_64 or i686)" >&2; exit 2 ;;
esac
export OW_WIN_ARCH="$arch"
build_dir="${1:-$default_dir}"
case "$build_dir" in
  /*) ;;
  *) build_dir="$root/$build_dir" ;;
esac

triple="${arch}-w64-mingw32"
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
echo "cross-build: ACE, GoogleTest and pugixml for $triple ready in $((SECONDS - deps_start)) s"

build_start=$SECONDS
# A tree configured by an older version of this script used Make.
if [[ -f "$build_dir/CMakeCache.txt" ]] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$build_dir/CMakeCache.txt"; then
  rm -rf "$build_dir"
fi
mkdir -p "$build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DOW_WIN_ARCH="$arch" \
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
# A process loads only DLLs of its own machine type.
if ! "$objdump" -f "$dll" | grep -q "file format $pe_format\$"; then
  echo "cross-build: $dll is not $pe_format: $("$objdump" -f "$dll" | grep -o 'file format .*')" >&2
  status=1
fi
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
  echo "cross-build: $dll OK ($pe_format; imports: $(tr '\n' ' ' <<<"$imports"))"
fi

# The tests against a real Win32 implementation. Unless they are left out
# on purpose, their log is there only when they ran this time.
tests_exe="$build_dir/tests/ow_win_tests.exe"
[[ "${OW_WINE_TESTS:-1}" == 0 ]] || rm -f "$build_dir/win-tests.log"
first_command() {
  local candidate
  for candidate in "$@"; do
    if command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return
    fi
  done
}
# The prefix is always a 64-bit one, made by the 64-bit loader; a 32-bit
# test process runs in it through the 32-bit loader, with both registry
# views and the redirection between them, as on 64-bit Windows.
wine="$(first_command wine64 /usr/lib/wine/wine64 wine)"
wine_tests="$wine"
no_wine="no Wine; Debian: apt-get install wine64"
if [[ "$arch" == i686 && -n "$wine" ]]; then
  wine_tests="$(first_command /usr/lib/wine/wine wine)"
  [[ "$wine_tests" == "$wine" ]] && wine_tests=""
  no_wine="no 32-bit Wine; Debian: wine32 of the i386 architecture, scripts/install-deps.sh --windows"
  # wine32 installs on a kernel built without 32-bit program support, and
  # its loader then cannot even start ("Exec format error").
  if [[ -n "$wine_tests" ]] && ! timeout 60 "$wine_tests" --version >/dev/null 2>&1; then
    wine_tests=""
    no_wine="32-bit Wine is installed, but this machine's kernel does not run 32-bit programs"
  fi
fi
if [[ "${OW_WINE_TESTS:-1}" == 0 ]]; then
  echo "cross-build: Windows tests not run (OW_WINE_TESTS=0)"
elif [[ -z "$wine" || -z "$wine_tests" ]]; then
  echo "cross-build: Windows tests not run ($no_wine)"
else
  export WINEPREFIX="$build_dir/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
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
  echo "cross-build: running the Windows tests ($arch) under Wine"
  run_start=$SECONDS
  # gtest's summary goes to the log as well, for the CI's closing count;
  # Wine's console ends lines with CR LF.
  set +e
  (cd "$build_dir" && timeout 600 "$wine_tests" "$tests_exe" --gtest_brief=1 </dev/null) 2>&1 |
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
