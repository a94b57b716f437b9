#!/usr/bin/env bash
# The long-word table: each case in a process of its own, natively (the host build, which carries
# the sanitizers) and under Wine for each Windows build given (default both), with test metrics and,
# on Windows, GDI fonts. Usage: bench/htmlayout/run.sh [windows-build-dir...]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cases=("10000 200" "40000 200" "100000 200" "100000 30" "100000 800")
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=("$root/build/win-x86_64" "$root/build/win-i686")

host=$root/build/host/bin/htmlayout_longword_bench
if [ -x "$host" ]; then
  echo "== native ($host)"
  for c in "${cases[@]}"; do
    # shellcheck disable=SC2086  # the case is two arguments
    ASAN_OPTIONS=detect_leaks=0 "$host" $c
  done
fi
for b in "${builds[@]}"; do
  b=$(cd "$b" && pwd)
  exe=$b/bin/htmlayout_longword_bench.exe
  [ -f "$exe" ] || { echo "build it first: ninja -C $b htmlayout_longword_bench" >&2; continue; }
  echo "== Wine (${b##*/})"
  for m in fake gdi; do
    for c in "${cases[@]}"; do
      # shellcheck disable=SC2086
      "$root/tools/wine-run.sh" --private "$b/wineprefix" "$exe" $c $([ $m = gdi ] && echo gdi) | tr -d '\r'
    done
  done
done
