#!/usr/bin/env bash
# Sets up the machine (tools/setup.sh), builds the Windows, host and fuzz builds, and runs every test:
# the Windows tests under Wine on one Xvfb display, the host tests natively with sanitizers, and each
# fuzz target for a bounded time (VELLIX_FUZZ_SECONDS, default 30).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${VELLIX_BUILD:-$root/build}
jobs=$(nproc)
fuzz_seconds=${VELLIX_FUZZ_SECONDS:-30}

"$root/tools/setup.sh"

configure() {  # configure DIR args...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}
configure "$out/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
configure "$out/host"
CC=clang-14 CXX=clang++-14 configure "$out/fuzz" -DVELLIX_FUZZ=ON
for b in win host fuzz; do
  echo "== build $b"
  ninja -C "$out/$b" -j"$jobs" | grep -vE '^\[[0-9]+/[0-9]+\] ' || true
  [ "${PIPESTATUS[0]}" = 0 ] || { echo "build $b failed" >&2; exit 1; }
done

# One display for the whole run; the Wine prefix is made fresh from the template each run.
display=""
for n in $(seq 90 150); do
  [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
  setsid Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.05; done
  if [ -e /tmp/.X11-unix/X$n ]; then display=:$n; break; fi
done
[ -n "$display" ] || { echo "no Xvfb display could be started" >&2; exit 1; }
trap 'kill $xvfb 2>/dev/null || true; WINEPREFIX=$out/win/wineprefix wineserver -k 2>/dev/null || true' EXIT
export DISPLAY=$display
WINEPREFIX=$out/win/wineprefix wineserver -k 2>/dev/null || true
rm -rf "$out/win/wineprefix" "$out/win/wineprefix.display"

status=0
echo "== Windows tests under Wine"
ctest --test-dir "$out/win" -j"$jobs" --output-on-failure --timeout 600 || status=1
echo "== host tests (native, sanitizers)"
ctest --test-dir "$out/host" -j"$jobs" --output-on-failure --timeout 600 || status=1

echo "== fuzz targets, ${fuzz_seconds}s each"
pids=()
names=()
for f in "$out"/fuzz/bin/*_fuzz; do
  [ -x "$f" ] || continue
  name=${f##*/}
  mkdir -p "$out/fuzz/corpus/$name"
  seeds=$(find "$root/tests" -type d -name "${name}_seeds" | head -n 1)
  "$f" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$out/fuzz/corpus/$name" ${seeds:+"$seeds"} \
    >"$out/fuzz/$name.log" 2>&1 &
  pids+=($!); names+=("$name")
done
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    echo "fuzz ${names[$i]}: passed"
  else
    echo "fuzz ${names[$i]}: FAILED"; tail -n 40 "$out/fuzz/${names[$i]}.log"; status=1
  fi
done

if [ $status = 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit $status
