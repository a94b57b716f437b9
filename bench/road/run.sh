#!/usr/bin/env bash
# The program as a user meets it, both Windows builds in one run, each figure next to its target:
#  - start-up with 2,000 stored tasks (200,000 image rows): time to a usable window, private bytes;
#  - the road at 100 ms: 200 images of 200 KB, five slots, next to the ideal (images x latency / 5,
#    target within 1.1 times it) and to curl with five parallel transfers;
#  - the road at 20 ms: bench/download's case (2,000 images of 50 KB), through the windows within 5 %
#    of the downloader without windows.
# Each road runs first without windows (download_bench, as bench/download does) against the local
# test server next to curl, then through the shipped program's windows (road_bench.py road: the
# demo site's pages, the tasks made in the comic view) next to curl on the same site.
# Usage: bench/road/run.sh [RUNS] (start-ups per architecture, default 5). VELLIX_ARCH picks one
# build; otherwise both where the host runs 32-bit code.
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/../lib.sh"
runs=${1:-5}
if [ -n "${VELLIX_ARCH:-}" ]; then
  arches=("$VELLIX_ARCH")
elif host_runs_i386; then
  arches=(x86_64 i686)
else
  arches=(x86_64)
fi
builds=()
for arch in "${arches[@]}"; do
  b=$root/build/win-$arch
  for t in startup_bench download_bench windowctl road_steps; do
    [ -f "$b/bin/$t.exe" ] || { echo "build first: ninja -C $b vellix-package windowctl startup_bench download_bench road_steps" >&2; exit 1; }
  done
  builds+=(--build "$b")
done
bench_setup download_bench curl "$root/build/win-${arches[0]}"
bench_server

echo "== start-up"
python3 "$root/bench/road/road_bench.py" startup "${builds[@]}" --runs "$runs"

# road NAME COUNT BYTES LATENCY_MS: the downloader without windows on every build, then curl and the
# ideal for the same images.
road() {
  local name=$1 count=$2 bytes=$3 latency_ms=$4 arch prefix ours
  prefix="http://127.0.0.1:$port/bytes/$bytes?ms=$latency_ms"
  echo "== the road at $latency_ms ms: $count images of $((bytes / 1024)) KB, five slots, no windows (local test server)"
  : > "$work/$name.ours"
  for arch in "${arches[@]}"; do
    b=$root/build/win-$arch
    rm -rf "$work/vellix"
    mkdir -p "$work/vellix"
    "$root/tools/wine-run.sh" --private "$b/wineprefix" "$b/bin/download_bench.exe" "$prefix" "$count" \
        "Z:${work//\//\\}\\vellix" | tr -d '\r' > "$work/out.txt" || { cat "$work/out.txt"; exit 1; }
    ours=$(sed -n 's/^vellix .* seconds=\([0-9.]*\).*/\1/p' "$work/out.txt")
    [ -n "$ours" ] || { cat "$work/out.txt"; exit 1; }
    echo "$arch $ours" >> "$work/$name.ours"
    echo "$count x $((bytes / 1024)) KB at $latency_ms ms $arch $ours" >> "$work/alone.txt"
  done
  rm -rf "$work/curl"
  mkdir -p "$work/curl"
  for i in $(seq 0 $((count - 1))); do
    printf 'url = "%s&n=%d"\noutput = "%s/curl/%d.jpg"\n' "$prefix" "$i" "$work" "$i"
  done > "$work/curl.cfg"
  t0=$(date +%s.%N)
  curl -s --no-progress-meter --fail --parallel --parallel-max 5 -K "$work/curl.cfg"
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" -v n="$count" -v l="$latency_ms" -v target="$5" '
    { ours[$1] = $2; order[++k] = $1 }
    END {
      c = b - a; ideal = n * l / 1000 / 5;
      printf "%-32s %8s %10s %10s   %s\n", "", "seconds", "x ideal", "x curl", "target";
      printf "%-32s %8.3f %10s %10s\n", "ideal (" n " x " l " ms / 5)", ideal, "1.00", "";
      printf "%-32s %8.3f %10.2f %10s\n", "curl, 5 parallel", c, c / ideal, "1.00";
      for (i = 1; i <= k; i++)
        printf "%-32s %8.3f %10.2f %10.2f   %s\n", "downloader " order[i] ", no windows", ours[order[i]],
               ours[order[i]] / ideal, ours[order[i]] / c, target;
    }' "$work/$name.ours"
}
road r100 200 204800 100 "within 1.1 x ideal"
road r20 2000 51200 20 "the figure the windows are held to (within 5 %)"

echo "== the road through the windows (demo site)"
python3 "$root/bench/road/road_bench.py" road "${builds[@]}" --case 1,200,204800,100 --case 20,100,51200,20 \
    --alone "$work/alone.txt"
