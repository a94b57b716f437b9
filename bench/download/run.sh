#!/usr/bin/env bash
# The built-in downloader next to the ideal time and to curl: 2,000 images of 50 KB from the local
# test server, each answered after 20 ms, five at a time. Usage: bench/download/run.sh [windows-build-dir]
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/../lib.sh"
bench_setup download_bench curl "${1:-}"
bench_server
count=2000 latency_ms=20
prefix="http://127.0.0.1:$port/bytes/51200?ms=$latency_ms"

mkdir -p "$work/vellix" "$work/curl"
"$root/tools/wine-run.sh" "$build/wineprefix" "$bench" "$prefix" $count "Z:${work//\//\\}\\vellix" | tr -d '\r' |
  tee "$work/vellix.txt"
ours=$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' "$work/vellix.txt")

for i in $(seq 0 $((count - 1))); do
  printf 'url = "%s&n=%d"\noutput = "%s/curl/%d.jpg"\n' "$prefix" $i "$work" $i
done > "$work/curl.cfg"
t0=$(date +%s.%N)
curl -s --no-progress-meter --fail --parallel --parallel-max 5 -K "$work/curl.cfg"
t1=$(date +%s.%N)
awk -v a="$t0" -v b="$t1" -v o="$ours" -v n=$count -v l=$latency_ms 'BEGIN {
  c = b - a; ideal = n * l / 1000 / 5;
  printf "curl   images=%d seconds=%.3f\nideal  seconds=%.3f (%d x %d ms / 5)\n", n, c, ideal, n, l;
  printf "ratio  vellix/ideal=%.2f vellix/curl=%.2f\n", o / ideal, o / c }'
