#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 30) from a copy of its corpus in fuzz/corpus/.
# The fuzzers work in build/fuzz/scratch/, removed afterwards. A crash leaves
# its input in build/fuzz/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-30}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scratch="$PWD/build/fuzz/scratch"
trap 'rm -rf "$scratch"' EXIT
for fuzzer in text_fuzzer merge_fuzzer; do
  corpus="build/fuzz/corpus/${fuzzer%_fuzzer}"
  rm -rf "$corpus" "$scratch"
  mkdir -p "$corpus" "$scratch"
  cp "fuzz/corpus/${fuzzer%_fuzzer}/"* "$corpus/" 2>/dev/null || true
  echo "== $fuzzer for ${seconds}s"
  (cd build/fuzz && TMPDIR="$scratch" "./$fuzzer" -max_total_time="$seconds" \
    -print_final_stats=1 "../../$corpus" >"$scratch/log" 2>&1) || {
    cat "$scratch/log"
    exit 1
  }
  grep -E '^(stat::number_of_executed_units|Done|==[0-9]+==|SUMMARY)' "$scratch/log" || true
done
