#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a while on its
# starting corpus (copied, so the checked-in inputs stay as they are).
#   scripts/fuzz.sh [seconds per harness]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOW_BUILD_FUZZERS=ON -DOW_BUILD_TESTS=OFF -DOW_BUILD_HOST=OFF >/dev/null
# One harness a line, so that a new one is one line more.
harnesses=(
  address_parsing
  ini_reader
  langmap
  http_answer
  trace_output
  nfw_frame
  prefs_js
  sid_text
  reg_file
  pe_version
  proxy_server
)
ninja -C build/fuzz -j2 "${harnesses[@]/#/fuzz_}"

for harness in "${harnesses[@]}"; do
  corpus="build/fuzz/corpus/$harness"
  mkdir -p "$corpus"
  cp -n tests/fuzz/corpus/"$harness"/* "$corpus"/ 2>/dev/null || true
  echo "== fuzz_$harness for ${seconds}s"
  log="build/fuzz/fuzz_$harness.log"
  if ! "build/fuzz/tests/fuzz/fuzz_$harness" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$harness found a fault; the input is in build/fuzz" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$log" || true
done
