#!/usr/bin/env bash
# Measures m3umerge against the floor (cat of the same playlists) and against
# a shell loop over iconv, on generated folders of 10 to 50,000 playlists;
# then the memory peak, the conversion microbenchmark and the share of the
# signature test in a merge profile. Writes build/bench/report/: table.md
# (medians and ratios) and plot.png (time against the number of files).
#   scripts/bench.sh [N ...]    default: 10 1000 10000 50000
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_packages "${NATIVE_PACKAGES[@]}" libbenchmark-dev hyperfine gnuplot-nox time valgrind \
  python3 libc-bin eatmydata
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null

counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(10 1000 10000 50000)
tool="$PWD/build/bench/m3umerge"
data="$PWD/build/bench/data"
results="$PWD/build/bench/results"
report="$PWD/build/bench/report"
mkdir -p "$data" "$results" "$report"

for n in "${counts[@]}"; do
  folder="$data/$n"
  if [ ! -f "$folder/bench.wsr" ]; then
    echo "== generating $n playlists"
    rm -rf "$folder"
    python3 bench/generate.py "$folder" "$n"
  fi
  runs=10
  [ "$n" -le 1000 ] && runs=30
  echo "== $n playlists: m3umerge, cat and m3umerge unflushed, $runs runs each"
  # "unflushed" is m3umerge with its flush to disk turned into a no-op: it
  # shows what waiting for the disk costs, which cat does not do.
  hyperfine --warmup 3 --runs "$runs" --export-json "$results/$n-main.json" \
    -n m3umerge "'$tool' '$folder/bench.wsr' >/dev/null" \
    -n cat "cd '$folder' && cat pl-*.m3u >'$data/$n-cat.out'" \
    -n unflushed "eatmydata '$tool' '$folder/bench.wsr' >/dev/null"
  # The loop starts two programs per playlist; fewer runs at large N.
  loop_runs=10
  [ "$n" -ge 10000 ] && loop_runs=3
  [ "$n" -ge 50000 ] && loop_runs=2
  echo "== $n playlists: the iconv loop, $loop_runs runs"
  hyperfine --warmup 1 --runs "$loop_runs" --export-json "$results/$n-iconv.json" \
    -n "iconv loop" \
    "cd '$folder' && for f in pl-*.m3u; do iconv -f WINDOWS-1252 -t UTF-8 \"\$f\"; printf '\\r\\n'; done >'$data/$n-iconv.out'"
done

largest="${counts[${#counts[@]}-1]}"
echo "== peak memory at $largest playlists"
/usr/bin/time -v "$tool" "$data/$largest/bench.wsr" 2>"$results/memory.txt" >/dev/null
grep 'Maximum resident set size' "$results/memory.txt"

echo "== conversion microbenchmark"
build/bench/conversion_benchmark --benchmark_out="$results/micro.json" \
  --benchmark_out_format=json 2>/dev/null | grep BM_

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
