#!/usr/bin/env bash
# The HTML views in real windows, both Windows builds in one run, each figure next to its target:
#  - the download view over 2,000 stored tasks: creation to first paint, 10,000 progress reports
#    (and the same over 200 rows), Clear Completed removing 1,000 of the 2,000 rows (view_bench);
#  - a favourite comic's 2,000 volumes filled into the comic view and merged with their stored
#    states (view_bench);
#  - bench/download's case (2,000 images of 50 KB, 20 ms latency, five slots, local test server)
#    without a view and with the real download view attached in a shown window, alternating, RUNS
#    times each (download_bench --view), and with the view's window never shown (--view-hidden) for
#    the share of its paints.
# Usage: bench/views/run.sh [RUNS] (default 3). VELLIX_ARCH picks one build.
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/../lib.sh"
runs=${1:-3}
if [ -n "${VELLIX_ARCH:-}" ]; then
  arches=("$VELLIX_ARCH")
else
  arches=(x86_64 i686)
fi
for arch in "${arches[@]}"; do
  b=$root/build/win-$arch
  for t in view_bench download_bench; do
    [ -f "$b/bin/$t.exe" ] || { echo "build first: ninja -C $b view_bench download_bench" >&2; exit 1; }
  done
done
bench_setup view_bench python3 "$root/build/win-${arches[0]}"
bench_server
count=2000
latency_ms=20
prefix="http://127.0.0.1:$port/bytes/51200?ms=$latency_ms"
winpath() { echo "Z:${1//\//\\}"; }

: > "$work/summary.txt"
for arch in "${arches[@]}"; do
  b=$root/build/win-$arch
  run() {  # run NAME ARGS...: one view_bench run in a fresh program folder
    local name=$1 dir=$work/$arch-$1
    shift
    mkdir -p "$dir"
    "$root/tools/wine-run.sh" --private "$b/wineprefix" "$b/bin/view_bench.exe" "$1" "$(winpath "$dir")" "${@:2}" |
      tr -d '\r' | tee "$work/out.txt"
    grep 'target' "$work/out.txt" | sed "s/^/$arch  /" >> "$work/summary.txt" || true
    rm -rf "$dir"
  }
  echo "=== $arch"
  run rows2000 downloads 2000
  run rows200 downloads 200
  run comic comic 2000

  echo "== $arch: $count images of 50 KB at $latency_ms ms, five slots, without and with the download view"
  : > "$work/$arch-times.txt"
  for i in $(seq "$runs"); do
    for mode in alone view hidden; do
      rm -rf "$work/dl"
      mkdir -p "$work/dl"
      flag=()
      [ $mode = view ] && flag=(--view)
      [ $mode = hidden ] && flag=(--view-hidden)
      "$root/tools/wine-run.sh" --private "$b/wineprefix" "$b/bin/download_bench.exe" "$prefix" $count \
          "$(winpath "$work/dl")" "${flag[@]}" | tr -d '\r' > "$work/out.txt" || { cat "$work/out.txt"; exit 1; }
      sed "s/^/run $i $mode: /" "$work/out.txt"
      seconds=$(sed -n 's/^vellix .* seconds=\([0-9.]*\).*/\1/p' "$work/out.txt")
      [ -n "$seconds" ] || { cat "$work/out.txt"; exit 1; }
      echo "$mode $seconds" >> "$work/$arch-times.txt"
    done
  done
  awk -v arch="$arch" '
    { t[$1] = t[$1] " " $2 }
    function median(list,   a, n, i, j, x) {
      n = split(list, a, " ");
      for (i = 2; i <= n; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2;
    }
    END {
      a = median(t["alone"]); v = median(t["view"]);
      printf "download without a view (median)  %8.3f s  runs:%s\n", a, t["alone"];
      printf "download with the view (median)   %8.3f s  runs:%s\n", v, t["view"];
      printf "  split: the view never shown     %8.3f s  runs:%s (its handlers without its paints)\n",
             median(t["hidden"]), t["hidden"];
      line = sprintf("download with the view / without  %8.3f   (%+.1f %%)   target within 5 %%", v / a, (v / a - 1) * 100);
      print line;
      print arch "  " line >> "'"$work/summary.txt"'";
    }' "$work/$arch-times.txt"
done

echo "=== the figures with their targets, both builds"
sort -s -k2 "$work/summary.txt" | awk '{ key = $0; sub(/^[^ ]+  /, "", key); split(key, w, "  "); if (w[1] != last) print ""; last = w[1]; print }'
