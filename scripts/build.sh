#!/usr/bin/env bash
# Configures and builds one flavour into build/<flavour>:
#   debug (default), asan (address + undefined behaviour), tsan (threads),
#   release (optimised, for measurements).
set -euo pipefail
cd "$(dirname "$0")/.."

flavour="${1:-debug}"
case "$flavour" in
  debug) sanitize="" ;;
  release) sanitize="" ;;
  asan)  sanitize="address;undefined" ;;
  tsan)  sanitize="thread" ;;
  *) echo "build.sh: unknown flavour '$flavour' (debug, asan, tsan, release)" >&2; exit 2 ;;
esac

type=Debug
[ "$flavour" = release ] && type=RelWithDebInfo
cmake -S . -B "build/$flavour" -G Ninja "-DCMAKE_BUILD_TYPE=$type" "-DOW_SANITIZE=$sanitize" >/dev/null
ninja -j2 -C "build/$flavour"
