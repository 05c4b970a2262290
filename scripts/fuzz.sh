#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each on its starting
# corpus (copied, so the checked-in inputs stay as they are) until it has
# executed a number of inputs, two harnesses at a time (CI has two cores).
#   scripts/fuzz.sh [inputs per harness, default 1000000] [bound in seconds per harness, default 900]
# A harness that finds a fault, or that does not get through its inputs
# within the bound, fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "${1:-}" == --one ]]; then
  harness="$2" runs="$3" bound="$4"
  corpus="build/fuzz/corpus/$harness"
  log="build/fuzz/fuzz_$harness.log"
  mkdir -p "$corpus"
  cp -n tests/fuzz/corpus/"$harness"/* "$corpus"/ 2>/dev/null || true
  options=()
  # Its "/24" ranges expand to 256 addresses each: short inputs keep a run
  # cheap and still reach every branch.
  [[ "$harness" == address_parsing ]] && options+=(-max_len=64)
  # Each level of a key path is written and read back with the whole path,
  # so a run's cost grows with the square of the length: 128 bytes reach
  # every branch. The fuzzer's per-feature bookkeeping then still costs as
  # much as the harness; without the entropic schedule a run takes half the
  # time.
  [[ "$harness" == reg_key_path ]] && options+=(-max_len=128 -entropic=0)
  # The language file's limits (64-byte lines, 8 texts) are all reached
  # within 1024 bytes.
  [[ "$harness" == lang_file ]] && options+=(-max_len=1024)
  start=$SECONDS
  # A smaller quarantine and shorter allocation stacks make the many small
  # allocations of a run cheaper; a fault's input is kept for a full rerun.
  if ! ASAN_OPTIONS=quarantine_size_mb=16:malloc_context_size=4 "build/fuzz/tests/fuzz/fuzz_$harness" \
      -runs="$runs" -max_total_time="$bound" -rss_limit_mb=2048 -print_final_stats=1 "${options[@]}" \
      "$corpus" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$harness found a fault; the input is in build/fuzz" >&2
    exit 1
  fi
  executed="$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log")"
  echo "fuzz_$harness: ${executed:-0} inputs in $((SECONDS - start)) s"
  if (( ${executed:-0} < runs )); then
    echo "fuzz_$harness ran ${executed:-0} of $runs inputs within ${bound}s" >&2
    exit 1
  fi
  exit 0
fi

runs="${1:-1000000}"
bound="${2:-900}"
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
  proc_texts
  sysinfo_text
  netlink_walk
  reg_key_path
  firefox_profile
  expand_vars
  policy_file
  lang_file
)
ninja -C build/fuzz -j2 "${harnesses[@]/#/fuzz_}"

start=$SECONDS
echo "== ${#harnesses[@]} harnesses, $runs inputs each (at most ${bound}s each), two at a time"
if ! printf '%s\n' "${harnesses[@]}" | xargs -P 2 -I{} "$0" --one {} "$runs" "$bound"; then
  echo "fuzz: a harness failed" >&2
  exit 1
fi
echo "fuzz: all harnesses done in $((SECONDS - start)) s"
