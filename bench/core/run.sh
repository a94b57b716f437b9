#!/usr/bin/env bash
# Database jobs and zip packing: dbzip_bench commits and reads back 200 tasks of 200 images, then
# 2,000 tasks of 100 and 800 of 200, and packs 500 files of 200 KB (best of three); Info-ZIP's zip -9
# then packs the same files, best of three, and the packing times are compared. Usage: bench/core/run.sh [windows-build-dir]
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/../lib.sh"
bench_setup dbzip_bench zip "${1:-}"
"$root/tools/wine-run.sh" --private "$build/wineprefix" "$bench" "Z:${work//\//\\}" | tr -d '\r' | tee "$work/vellix.txt"

best=
for _ in 1 2 3; do
  rm -f "$work/zip9.zip"
  t0=$(date +%s.%N)
  (cd "$work/pages" && zip -9 -q -X -D "$work/zip9.zip" *.png)
  t1=$(date +%s.%N)
  best=$(awk -v a="$t0" -v b="$t1" -v m="$best" 'BEGIN { s = b - a; print (m == "" || s < m) ? s : m }')
done
size=$(stat -c %s "$work/zip9.zip")
awk -v s="$best" -v z="$size" 'BEGIN { printf "zip -9 files=500 bytes=102400000 seconds=%.3f MB/s=%.1f archive=%d\n", s, 102400000/s/1e6, z }'
v=$(sed -n 's/^zip vellix .*seconds=\([0-9.]*\).*/\1/p' "$work/vellix.txt")
awk -v v="$v" -v z="$best" 'BEGIN { printf "ratio  vellix/zip-9 time=%.2f\n", v/z }'
