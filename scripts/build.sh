#!/usr/bin/env bash
# Configures and builds one flavour into build/<flavour>:
#   debug (default), asan (address + undefined behaviour), tsan (threads).
set -euo pipefail
cd "$(dirname "$0")/.."

flavour="${1:-debug}"
case "$flavour" in
  debug) sanitize="" ;;
  asan)  sanitize="address;undefined" ;;
  tsan)  sanitize="thread" ;;
  *) echo "build.sh: unknown flavour '$flavour' (debug, asan, tsan)" >&2; exit 2 ;;
esac

cmake -S . -B "build/$flavour" -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DOW_SANITIZE=$sanitize" >/dev/null
ninja -C "build/$flavour"
