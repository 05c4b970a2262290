#!/usr/bin/env bash
# Builds the third-party libraries of the Windows cross build with the
# mingw-w64 toolchain, once per machine, and prints where they are:
#
#   ACE (core library only, static)  from Debian's source package of libace-dev
#   GoogleTest and GoogleMock        from Debian's googletest (/usr/src/googletest)
#   pugixml (static)                 from Debian's source package of libpugixml-dev,
#                                    for the Windows build of the reference host
#
# Each goes to a directory of its own under the cache root, named after the
# library's Debian version and the toolchain, with include/ and lib/ inside.
# A directory that is there and complete is used as it is; a new library
# version, toolchain or build recipe gets a new directory. Delete a
# directory (or the whole cache root) to have it built again.
#
#   scripts/mingw-deps.sh [--arch x86_64|i686]
#                              prints OW_ACE_ROOT=<dir>, OW_GTEST_ROOT=<dir> and
#                              OW_PUGIXML_ROOT=<dir>
#
# The target is 64-bit Windows (x86_64, the default) or 32-bit Windows
# (i686, for agents that run as 32-bit processes); the 32-bit directories
# carry "-i686" in their names.
#
# Environment: OW_WIN_ARCH (the target when --arch is not given),
# OW_MINGW_CACHE (cache root; default /var/cache/outlinkwatch, or
# ~/.cache/outlinkwatch where that cannot be written), OW_JOBS (parallel
# compile jobs, default 2).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${OW_JOBS:-2}"
arch="${OW_WIN_ARCH:-x86_64}"
if [ "${1:-}" = --arch ]; then arch="${2:?--arch needs x86_64 or i686}"; fi
# flavour marks the 32-bit builds' directories and lock; the 64-bit ones keep
# the names they always had, so existing caches stay valid.
case "$arch" in
  x86_64) deb_arch=x86-64 flavour="" ;;
  i686) deb_arch=i686 flavour="-i686" ;;
  *) echo "mingw-deps: unknown target $arch (x86_64 or i686)" >&2; exit 2 ;;
esac
export OW_WIN_ARCH="$arch"
triple="${arch}-w64-mingw32"
cc="${triple}-gcc-posix"
cxx="${triple}-g++-posix"

# Bump when a build below changes in a way that changes its output.
ace_recipe=1
gtest_recipe=1
pugixml_recipe=1

log() { echo "mingw-deps: $*" >&2; }
die() { log "$*"; exit 1; }

for tool in "$cc" "$cxx" "${triple}-ar" cmake ninja make perl; do
  command -v "$tool" >/dev/null 2>&1 || die "$tool not found (scripts/install-deps.sh --windows installs it)"
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

cache="${OW_MINGW_CACHE:-/var/cache/outlinkwatch}"
if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
  [ -n "${OW_MINGW_CACHE:-}" ] && die "cannot write the cache root $cache"
  cache="${XDG_CACHE_HOME:-$HOME/.cache}/outlinkwatch"
  mkdir -p "$cache"
fi

# One builder at a time per machine and target: a second caller waits, then
# finds the directories built.
exec 9>"$cache/.lock$flavour"
flock -w 3600 9 || die "timed out waiting for another build in $cache"

pkg_version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true; }

# The toolchain part of a directory name: the compiler's version label and a
# short hash of everything that makes its output differ.
toolchain_id() {
  local recipe="$1" hash
  hash="$({
    "$cxx" --version | head -n 1
    pkg_version "g++-mingw-w64-$deb_arch-posix"
    pkg_version "mingw-w64-$deb_arch-dev"
    echo "recipe $recipe"
  } | sha256sum | cut -c1-10)"
  echo "gcc$("$cxx" -dumpversion)-$hash"
}

# A deb-src entry for the release's main archive, unless apt already knows
# the source package of this binary package's version.
ensure_source_list() {
  local package="$1" version="$2"
  if apt-get source --print-uris -qq "$package=$version" >/dev/null 2>&1; then
    return
  fi
  local codename list=/etc/apt/sources.list.d/outlinkwatch-deb-src.sources
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
  log "adding $list (deb-src for $codename main) and updating the package lists"
  $sudo tee "$list" >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $sudo apt-get update -q >/dev/null
}

# Fetches the Debian source package of a -dev package at its version into a
# new work directory under the cache root. Sets work, and src to the source
# tree (named <stem>-*, checked by a file it must hold).
#   fetch_source <package> <version> <label> <stem> <marker file>
fetch_source() {
  local package=$1 version=$2 label=$3 stem=$4 marker=$5
  command -v dpkg-source >/dev/null 2>&1 || die "dpkg-source not found (Debian: dpkg-dev)"
  ensure_source_list "$package" "$version"
  work="$(mktemp -d "$cache/.$stem-build.XXXXXX")"
  log "$label $version: fetching the source package"
  (cd "$work" && apt-get source -q "$package=$version" >"$work/source.log" 2>&1) ||
    { tail -n 20 "$work/source.log" >&2; die "apt-get source $package=$version failed"; }
  src="$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$stem-*" | head -n 1)"
  [ -n "$src" ] && [ -f "$src/$marker" ] || die "no $label source tree in $work"
}

# Answers a library's cached build when there is one.
#   use_cached <label> <version> <dest> <variable>
use_cached() {
  [ -f "$3/.complete" ] || return 1
  log "$1 $2: cached in $3"
  echo "$4=$3"
}

# Builds a CMake project for the target, static and optimised, and installs
# it into $work/stage.
#   cmake_stage <label> <version> <source dir> [cmake options...]
cmake_stage() {
  local label=$1 version=$2 source=$3
  shift 3
  log "$label $version: building (-j$jobs; log in $work/build.log)"
  {
    cmake -S "$source" -B "$work/build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DOW_WIN_ARCH="$arch" \
      -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF "$@" \
      -DCMAKE_INSTALL_PREFIX="$work/stage" &&
      cmake --build "$work/build" -j "$jobs" &&
      cmake --install "$work/build"
  } >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log" >&2; die "the $label build failed"; }
}

# Notes how $work/stage was built (from $start), marks it complete and puts
# it in place of dest.
#   finish_stage <label> <version> <description> <dest> <variable>
finish_stage() {
  local label=$1 version=$2 description=$3 dest=$4 variable=$5
  {
    echo "$description, static, $triple"
    echo "compiler: $("$cxx" --version | head -n 1)"
    echo "built in $((SECONDS - start)) s with -j$jobs on $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  } >"$work/stage/BUILD-INFO"
  touch "$work/stage/.complete"
  rm -rf "$dest"
  mv "$work/stage" "$dest"
  rm -rf "$work"
  log "$label $version: built in $((SECONDS - start)) s into $dest"
  echo "$variable=$dest"
}

build_ace() {
  local version dest work start src
  version="$(pkg_version libace-dev)"
  [ -n "$version" ] || die "libace-dev is not installed (scripts/install-deps.sh); its version picks the ACE sources"
  dest="$cache/ace-mingw$flavour-$version-$(toolchain_id "$ace_recipe")"
  use_cached ACE "$version" "$dest" OW_ACE_ROOT && return
  start=$SECONDS
  fetch_source libace-dev "$version" ACE ace ace/ace.mpc

  # ACE's own build files: MPC makes the core library's makefile, and the
  # mingw platform file supplies the compiler settings; a static library
  # only, optimised, inlines in the headers.
  export ACE_ROOT="$src" MPC_ROOT="$src/MPC"
  (cd "$src/ace" && perl "$src/bin/mpc.pl" -type gnuace -noreldefs ace.mpc) >"$work/build.log" 2>&1 ||
    { tail -n 20 "$work/build.log" >&2; die "MPC failed"; }
  cat >"$src/ace/config.h" <<'EOF'
// ACE for the Windows cross build: a static library with inline functions
// in the headers. Users need the same settings as the library, so they are
// fixed here rather than on compiler command lines.
#ifndef ACE_AS_STATIC_LIBS
#define ACE_AS_STATIC_LIBS 1
#endif
#ifndef __ACE_INLINE__
#define __ACE_INLINE__ 1
#endif
#include "ace/config-win32.h"
EOF
  cat >"$src/include/makeinclude/platform_macros.GNU" <<EOF
static_libs_only = 1
debug = 0
optimize = 1
inline = 1
CROSS_COMPILE = ${triple}-
include \$(ACE_ROOT)/include/makeinclude/platform_mingw32.GNU
CC = $cc
CXX = $cxx
EOF
  log "ACE $version: building the core library (-j$jobs; log in $work/build.log)"
  make -C "$src/ace" -f GNUmakefile.ACE -j"$jobs" >>"$work/build.log" 2>&1 ||
    { tail -n 30 "$work/build.log" >&2; die "the ACE build failed"; }

  # Headers, inline files, the template sources that headers include, and
  # the library.
  local stage="$work/stage"
  mkdir -p "$stage/include/ace" "$stage/lib"
  (cd "$src" && find ace -maxdepth 1 -type f \( -name '*.h' -o -name '*.inl' \) -print0 |
    xargs -0 cp --parents -t "$stage/include")
  (cd "$src" && find ace/os_include -type f -name '*.h' -print0 | xargs -0 cp --parents -t "$stage/include")
  (cd "$src" && grep -rhoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"ace/[^"/]+\.cpp"' \
      --include='*.h' --include='*.inl' ace | sed -E 's/.*"(ace\/[^"]+)"/\1/' | sort -u |
    xargs cp --parents -t "$stage/include")
  cp "$src/ace/libACE.a" "$stage/lib/"
  finish_stage ACE "$version" "ACE $version (Debian source package of libace-dev), core library" "$dest" OW_ACE_ROOT
}

build_gtest() {
  local version dest work start
  version="$(pkg_version googletest)"
  [ -n "$version" ] && [ -f /usr/src/googletest/CMakeLists.txt ] ||
    die "googletest sources missing (Debian: googletest, installed with libgtest-dev)"
  dest="$cache/gtest-mingw$flavour-$version-$(toolchain_id "$gtest_recipe")"
  use_cached GoogleTest "$version" "$dest" OW_GTEST_ROOT && return
  start=$SECONDS
  work="$(mktemp -d "$cache/.gtest-build.XXXXXX")"
  cmake_stage GoogleTest "$version" /usr/src/googletest -DBUILD_GMOCK=ON
  finish_stage GoogleTest "$version" "GoogleTest $version (Debian googletest)" "$dest" OW_GTEST_ROOT
}

build_pugixml() {
  local version dest work start src
  version="$(pkg_version libpugixml-dev)"
  [ -n "$version" ] || die "libpugixml-dev is not installed (scripts/install-deps.sh); its version picks the pugixml sources"
  dest="$cache/pugixml-mingw$flavour-$version-$(toolchain_id "$pugixml_recipe")"
  use_cached pugixml "$version" "$dest" OW_PUGIXML_ROOT && return
  start=$SECONDS
  fetch_source libpugixml-dev "$version" pugixml pugixml CMakeLists.txt

  # pugixml's own CMake build: a static library, no tests; the installed
  # package configuration (lib/cmake/pugixml) is what the host's build finds.
  cmake_stage pugixml "$version" "$src" -DPUGIXML_BUILD_TESTS=OFF
  finish_stage pugixml "$version" "pugixml $version (Debian source package of libpugixml-dev)" "$dest" OW_PUGIXML_ROOT
}

build_ace
build_gtest
build_pugixml
