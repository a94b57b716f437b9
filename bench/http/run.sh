#!/usr/bin/env bash
# Dornet next to curl: 1,000 requests of 100 KB from the local test server with 5 and with 20 in
# flight, the same URLs for both, in one run, then Dornet's phases per request from a traced pass.
# The alt: lines are Dornet's WinINet sequence rebuilt in the benchmark with one design changed.
# Usage: bench/http/run.sh [windows-build-dir]
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/../lib.sh"
bench_setup dornet_bench curl "${1:-}"
bench_server

for i in $(seq 0 999); do
  printf 'url = "http://127.0.0.1:%s/bytes/102400?seed=%d"\noutput = "/dev/null"\n' "$port" $((i % 8))
done > "$work/curl.cfg"

declare -A curl_seconds
for n in 5 20; do
  t0=$(date +%s.%N)
  curl -s --no-progress-meter --fail --parallel --parallel-max $n -K "$work/curl.cfg"
  t1=$(date +%s.%N)
  curl_seconds[$n]=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  awk -v n=$n -v s="${curl_seconds[$n]}" 'BEGIN { printf "curl   concurrency=%d requests=1000 seconds=%.3f req/s=%.1f MB/s=%.1f\n", n, s, 1000/s, 102400*1000/s/1e6 }'
done

# The ratio takes the first, untraced pass; the traced one repeats it and prints the phases.
"$root/tools/wine-run.sh" --private "$build/wineprefix" "$bench" "$port" --alternatives --phases | tr -d '\r' | tee "$work/dornet.txt"

for n in 5 20; do
  awk -v n=$n -v c="${curl_seconds[$n]}" '
    $2 == "concurrency=" n && $4 ~ /^seconds=/ && !seen[$1]++ {
      split($4, s, "="); printf "ratio  concurrency=%d %s/curl time=%.2f\n", n, $1, s[2] / c
    }' "$work/dornet.txt"
done
