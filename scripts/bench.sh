#!/usr/bin/env bash
# Measures m3umerge by paired runs: the tool and the command it is compared
# with run in turn, A B A B ..., on one generated folder, and the median of
# the pair-by-pair time ratios, with their range, is what counts. Runs taken
# minutes apart on a shared machine differ by more than most changes gain.
#
# For each folder size, with a warm page cache and a cold one (dropped
# before every run, which needs root), m3umerge against three others: cat
# of the same playlists, which flushes nothing; that cat followed by a
# flush of its output (sync FILE: fsync, as m3umerge flushes before the
# rename), what doing it by hand costs; and bench/merge_floor.cpp, the
# least any merger must do (list, read each playlist of at most 32768
# bytes whole, append, flush, rename; no conversion). With --against REF,
# also the working tree against a build of the commit REF. Checks first
# that m3umerge writes and lists exactly what bench/reference.py does, and
# that merge_floor writes as many bytes as those playlists hold.
# Then the memory peak at the largest size and the conversion
# microbenchmark. Writes build/bench/report/table.md.
#   scripts/bench.sh [--against REF] [N ...]    default N: 1000 10000 100000
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

against=""
if [ "${1:-}" = "--against" ]; then
  against=${2:?--against needs a commit}
  shift 2
fi
install_packages "${NATIVE_PACKAGES[@]}" libbenchmark-dev time python3 libc-bin git
require_cmake
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null

counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000 10000 100000)
tool="$PWD/build/bench/m3umerge"
floor="$PWD/build/bench/merge_floor"
data="$PWD/build/bench/data"
results="$PWD/build/bench/results"
report="$PWD/build/bench/report"
rm -rf "$results"
mkdir -p "$data" "$results" "$report"
cold=--cold
if ! sh -c "sync; echo 3 >/proc/sys/vm/drop_caches" 2>/dev/null; then
  echo "cannot drop the page cache here (needs root): no cold runs" >&2
  cold=""
fi
date -u +%Y-%m-%d >"$results/date"

base=""
if [ -n "$against" ]; then
  # The other build, from a worktree of its own, with the same preset.
  base_tree="$PWD/build/bench/base"
  git worktree remove --force "$base_tree" 2>/dev/null || rm -rf "$base_tree"
  git worktree add --detach "$base_tree" "$against" >/dev/null
  (cd "$base_tree" && cmake --preset bench -DM3UMERGE_BUILD_BENCHMARKS=OFF >/dev/null &&
    cmake --build --preset bench >/dev/null)
  base="$base_tree/build/bench/m3umerge"
  git rev-parse --short "$against" >"$results/against"
fi

for n in "${counts[@]}"; do
  folder="$data/$n"
  if [ ! -f "$folder/bench.wsr" ]; then
    echo "== generating $n playlists"
    rm -rf "$folder"
    python3 bench/generate.py "$folder" "$n"
  fi
  echo "== $n playlists: m3umerge against the reference, byte for byte"
  "$tool" "$folder/bench.wsr" >"$data/$n-tool.list"
  cp "$folder/bench.m3u" "$data/$n-tool.m3u"
  python3 bench/reference.py "$folder/bench.wsr" >"$data/$n-reference.list"
  cmp "$data/$n-tool.list" "$data/$n-reference.list"
  cmp "$data/$n-tool.m3u" "$folder/bench.m3u"
  rm -f "$data/$n-tool.m3u"
  echo "== $n playlists: merge_floor writes every playlist of at most 32768 bytes"
  "$floor" "$folder/bench.wsr"
  expected=$(find "$folder" -name 'pl-*.m3u' -size -32769c -printf '%s\n' |
    awk '{ total += $1 } END { print total }')
  [ "$(stat -c %s "$folder/bench.m3u")" = "$expected" ]

  # The playlists go to cat through xargs: 100,000 names are past the
  # argument limit of one command.
  merge="'$tool' '$folder/bench.wsr'"
  cat_files="cd '$folder' && printf '%s\\0' pl-*.m3u | xargs -0 cat >'$data/cat.out'"
  others=(cat "$cat_files" "cat + flush" "$cat_files && sync '$data/cat.out'"
    merge_floor "'$floor' '$folder/bench.wsr'")
  runs=20 cold_runs=10
  [ "$n" -ge 100000 ] && runs=6 cold_runs=4
  for cache in warm ${cold:+cold}; do
    flags=(--runs "$runs")
    [ "$cache" = cold ] && flags=(--cold --runs "$cold_runs")
    for ((i = 0; i < ${#others[@]}; i += 2)); do
      name=${others[i]}
      echo "== $n playlists, $cache: m3umerge against $name"
      python3 bench/paired.py "${flags[@]}" "$results/$n-$cache-${name//[ +]/}.json" m3umerge \
        "$merge" "$name" "${others[i + 1]}"
    done
    if [ -n "$base" ]; then
      echo "== $n playlists, $cache: this tree against $against"
      python3 bench/paired.py "${flags[@]}" "$results/$n-$cache-base.json" m3umerge "$merge" \
        "$against" "'$base' '$folder/bench.wsr'"
    fi
  done
  rm -f "$data/cat.out"
done

largest="${counts[${#counts[@]}-1]}"
echo "== peak memory at $largest playlists"
/usr/bin/time -v "$tool" "$data/$largest/bench.wsr" 2>"$results/memory.txt" >/dev/null

echo "== conversion microbenchmark"
build/bench/conversion_benchmark --benchmark_out="$results/micro.json" \
  --benchmark_out_format=json >/dev/null 2>&1

python3 bench/report.py "$results" "$report" "${counts[@]}"
echo
cat "$report/table.md"
echo
echo "Report: $report/table.md"
