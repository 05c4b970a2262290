#!/usr/bin/env bash
# Builds and runs the whole test suite: ./scripts/test.sh [debug|asan|tsan]
# Tests that need root (network namespaces) skip themselves without it.
set -euo pipefail
cd "$(dirname "$0")/.."

flavour="${1:-debug}"
./scripts/install-deps.sh
./scripts/build.sh "$flavour"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
ctest --test-dir "build/$flavour" --output-on-failure -j2 --timeout 600 2>&1 | tee "build/$flavour/ctest.log"
exit "${PIPESTATUS[0]}"
