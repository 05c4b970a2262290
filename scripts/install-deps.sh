#!/usr/bin/env bash
# Installs what building, testing and cross-building need (Debian 12).
#   scripts/install-deps.sh             the build, the test suite, the cross compiler
#   scripts/install-deps.sh --windows   and what the Windows tests need: Wine to run
#                                       them, dpkg-dev, make and perl to build ACE from
#                                       its Debian source package (scripts/mingw-deps.sh)
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libace-dev libpugixml-dev nlohmann-json3-dev libcli11-dev
  traceroute iproute2 procps nftables
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix
)
if [ "${1:-}" = --windows ]; then
  packages+=(wine64 dpkg-dev make perl)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
