#!/usr/bin/env bash
# The built-in downloader next to the ideal time and to curl: 2,000 images of 50 KB from the local
# test server, each answered after a fixed latency, five at a time, with every request's phases.
# Usage: bench/download/run.sh [windows-build-dir] [latency-ms ... | --sweep]
# The latency is 20 ms unless given; --sweep runs 20, 50 and 100 ms in one run.
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/../lib.sh"
build_arg=
case "${1:-}" in "" | --* | [0-9]*) ;; *) build_arg=$1; shift ;; esac
bench_setup download_bench curl "$build_arg"
latencies=${*:-20}
[ "$latencies" = --sweep ] && latencies="20 50 100"
bench_server
count=2000

for latency_ms in $latencies; do
  prefix="http://127.0.0.1:$port/bytes/51200?ms=$latency_ms"
  rm -rf "$work/vellix" "$work/curl"
  mkdir -p "$work/vellix" "$work/curl"
  echo "latency ${latency_ms} ms"
  "$root/tools/wine-run.sh" --private "$build/wineprefix" "$bench" "$prefix" $count "Z:${work//\//\\}\\vellix" --phases |
    tr -d '\r' | tee "$work/vellix.txt"
  ours=$(sed -n 's/^vellix .* seconds=\([0-9.]*\).*/\1/p' "$work/vellix.txt")

  for i in $(seq 0 $((count - 1))); do
    printf 'url = "%s&n=%d"\noutput = "%s/curl/%d.jpg"\n' "$prefix" $i "$work" $i
  done > "$work/curl.cfg"
  t0=$(date +%s.%N)
  curl -s --no-progress-meter --fail --parallel --parallel-max 5 -K "$work/curl.cfg"
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" -v o="$ours" -v n=$count -v l="$latency_ms" 'BEGIN {
    c = b - a; ideal = n * l / 1000 / 5;
    printf "curl   images=%d seconds=%.3f\nideal  seconds=%.3f (%d x %d ms / 5)\n", n, c, ideal, n, l;
    printf "ratio  latency=%d vellix/ideal=%.2f vellix/curl=%.2f\n", l, o / ideal, o / c }'
done
