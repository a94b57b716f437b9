#!/usr/bin/env bash
# The built-in downloader next to the ideal time and to curl: 2,000 images of 50 KB from the local
# test server, each answered after 20 ms, five at a time. Usage: bench/download/run.sh [windows-build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/win}" && pwd)
bench=$build/bin/download_bench.exe
[ -f "$bench" ] || { echo "build download_bench first: ninja -C $build download_bench" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is missing (apt-get install curl)" >&2; exit 1; }
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
count=2000 latency_ms=20

work=$(mktemp -d)
python3 "$root/tests/http/testserver.py" --port-file "$work/ports.json" --no-lifeline --max-seconds 900 &
server=$!
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/ports.json" ] && break; sleep 0.05; done
port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["http"])' "$work/ports.json")
prefix="http://127.0.0.1:$port/bytes/51200?ms=$latency_ms"

mkdir -p "$work/vellix" "$work/curl"
"$root/tools/wine-run.sh" "$build/wineprefix" "$bench" "$prefix" $count "Z:${work//\//\\}\\vellix" | tr -d '\r' |
  tee "$work/vellix.txt"
ours=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' "$work/vellix.txt")

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
