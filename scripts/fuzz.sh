#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 30) from a copy of its corpus in fuzz/corpus/.
# A crash leaves its input in build/fuzz/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-30}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for fuzzer in text_fuzzer merge_fuzzer; do
  corpus="build/fuzz/corpus/${fuzzer%_fuzzer}"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp "fuzz/corpus/${fuzzer%_fuzzer}/"* "$corpus/" 2>/dev/null || true
  echo "== $fuzzer for ${seconds}s"
  (cd build/fuzz && "./$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    "../../$corpus" 2>&1 | grep -E '^(stat::number_of_executed_units|Done|==[0-9]+==|SUMMARY)' )
done
