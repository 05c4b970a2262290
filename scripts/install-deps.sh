#!/usr/bin/env bash
# Installs what building, testing and cross-building need (Debian 12).
#   scripts/install-deps.sh             the build, the test suite, the cross compiler
#   scripts/install-deps.sh --windows   and what the Windows builds and tests need: the
#                                       32-bit cross compiler, Wine to run the tests
#                                       (wine64, and wine32 for the 32-bit plug-in where
#                                       the i386 architecture can be had), dpkg-dev, make
#                                       and perl to build ACE from its Debian source
#                                       package (scripts/mingw-deps.sh)
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libace-dev libpugixml-dev nlohmann-json3-dev libcli11-dev
  traceroute iproute2 procps nftables
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix
)
windows=0
if [ "${1:-}" = --windows ]; then
  windows=1
  packages+=(wine64 dpkg-dev make perl g++-mingw-w64-i686-posix)
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# 32-bit Wine runs the 32-bit plug-in's tests inside the 64-bit prefix, as a
# 32-bit agent runs on 64-bit Windows. Debian's wine32 is an i386 package: the
# architecture is added for it, and where its package lists or packages
# cannot be had (a mirror in the middle of a sync) it is removed again, so
# that later package-list updates still succeed. Those tests are then
# skipped; nothing fails for want of wine32.
install_wine32() {
  installed wine32:i386 && return 0
  local added=0 log
  log="$(mktemp)"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    added=1
  fi
  if $sudo apt-get update -q >"$log" 2>&1 &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends wine32:i386 >>"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  if [ $added -eq 1 ]; then
    local i386
    i386="$(dpkg-query -W -f='${binary:Package}\n' 2>/dev/null | grep ':i386$' || true)"
    if [ -n "$i386" ]; then
      # shellcheck disable=SC2086
      DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -q $i386 >>"$log" 2>&1 || true
    fi
    $sudo dpkg --remove-architecture i386 >>"$log" 2>&1 || true
  fi
  local why
  why="$(grep -E '^(E|Err):' "$log" | head -n 1 || true)"
  echo "install-deps: wine32 could not be installed${why:+ ($why)}$([ $added -eq 1 ] && echo '; the i386 architecture removed again'); the 32-bit Windows tests will not run" >&2
  rm -f "$log"
}
if [ $windows -eq 1 ]; then
  install_wine32
fi
