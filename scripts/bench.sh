#!/usr/bin/env bash
# Measures m3umerge against cat of the same playlists (the floor), cat with
# the flush to disk m3umerge does, a short Python script doing the same job
# (bench/reference.py) and a shell loop over iconv, on generated folders,
# with a warm cache and with a cold one (caches dropped before every run,
# which needs root). Checks first that m3umerge writes and lists exactly
# what the reference does. Then the memory peak, the conversion
# microbenchmark and the share of the signature test in a merge profile.
# Writes build/bench/report/: table.md and plot.png.
#   scripts/bench.sh [N ...]    default: 10 1000 10000 100000
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_packages "${NATIVE_PACKAGES[@]}" libbenchmark-dev hyperfine gnuplot-nox time valgrind \
  python3 libc-bin
require_cmake
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null

counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(10 1000 10000 100000)
tool="$PWD/build/bench/m3umerge"
data="$PWD/build/bench/data"
results="$PWD/build/bench/results"
report="$PWD/build/bench/report"
mkdir -p "$data" "$results" "$report"
drop_caches="sync; echo 3 >/proc/sys/vm/drop_caches"
if ! sh -c "$drop_caches" 2>/dev/null; then
  echo "cannot drop the page cache here (needs root): no cold runs" >&2
  drop_caches=""
fi
date -u +%Y-%m-%d >"$results/date"

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

  # The candidates go to cat through xargs: 100,000 names are past the
  # argument limit of one command.
  cat_files="cd '$folder' && printf '%s\\0' pl-*.m3u | xargs -0 cat >'$data/$n-cat.out'"
  commands=(-n m3umerge "'$tool' '$folder/bench.wsr' >/dev/null"
    -n cat "$cat_files"
    -n "cat+sync" "$cat_files && sync '$data/$n-cat.out'"
    -n python "python3 '$PWD/bench/reference.py' '$folder/bench.wsr' >/dev/null")
  runs=10
  [ "$n" -le 1000 ] && runs=30
  echo "== $n playlists, warm cache: $runs runs each"
  hyperfine --warmup 3 --runs "$runs" --export-json "$results/$n-warm.json" "${commands[@]}"
  if [ -n "$drop_caches" ]; then
    cold_runs=5
    [ "$n" -ge 100000 ] && cold_runs=3
    echo "== $n playlists, cold cache: $cold_runs runs each"
    hyperfine --runs "$cold_runs" --prepare "$drop_caches" --export-json "$results/$n-cold.json" \
      "${commands[@]}"
  fi
  # The loop starts two programs per playlist; fewer runs at large N.
  loop_runs=10
  [ "$n" -ge 10000 ] && loop_runs=2
  [ "$n" -ge 100000 ] && loop_runs=1
  echo "== $n playlists: the iconv loop, $loop_runs runs"
  hyperfine --warmup 1 --runs "$loop_runs" --export-json "$results/$n-iconv.json" \
    -n "iconv loop" \
    "cd '$folder' && for f in pl-*.m3u; do iconv -f WINDOWS-1252 -t UTF-8 \"\$f\"; printf '\\r\\n'; done >'$data/$n-iconv.out'"
done

largest="${counts[${#counts[@]}-1]}"
echo "== peak memory at $largest playlists"
/usr/bin/time -v "$tool" "$data/$largest/bench.wsr" 2>"$results/memory.txt" >/dev/null

echo "== conversion microbenchmark"
build/bench/conversion_benchmark --benchmark_out="$results/micro.json" \
  --benchmark_out_format=json >/dev/null 2>&1

profile_count="${counts[0]}"
for n in "${counts[@]}"; do [ "$n" -le 1000 ] && profile_count="$n"; done
echo "== instruction profile of one merge of $profile_count playlists (callgrind)"
valgrind --tool=callgrind --callgrind-out-file="$results/callgrind.out" \
  "$tool" "$data/$profile_count/bench.wsr" >/dev/null 2>&1
callgrind_annotate --inclusive=yes --threshold=100 "$results/callgrind.out" 2>/dev/null >"$results/callgrind.txt"

python3 bench/report.py "$results" "$report" "${counts[@]}"
gnuplot -e "data='$report/plot.dat'; output='$report/plot.png'" bench/plot.gp
echo
cat "$report/table.md"
echo
echo "Report: $report/table.md, plot: $report/plot.png"
