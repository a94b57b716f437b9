#!/usr/bin/env bash
# Sets up the machine (tools/setup.sh), builds the Windows (i686 and x86-64), host and fuzz builds,
# and runs every test: the Windows tests under Wine, each with a prefix and an Xvfb display of its
# own (x86-64 always, i686 where the host runs 32-bit code; VELLIX_X64_ONLY=1 forces the
# x86-64-only path), the host tests natively with sanitizers, and each fuzz target for a bounded
# time (VELLIX_FUZZ_SECONDS, default 30).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${VELLIX_BUILD:-$root/build}
jobs=$(nproc)
fuzz_seconds=${VELLIX_FUZZ_SECONDS:-30}

. "$root/tools/arch.sh"
"$root/tools/setup.sh"

# The x86-64 tests run on every host; the i686 ones where the host runs 32-bit code. The i686
# deliverables are built everywhere, so the shipped target never rots.
run_arches=(x86_64)
if host_runs_i386; then
  run_arches+=(i686)
  skipped=""
else
  skipped="i686 tests skipped: $(i386_refusal)"
fi

configure() {  # configure DIR args...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}
build() {  # build DIR [targets...]
  local dir=$1; shift
  echo "== build ${dir#"$out"/} ${*:-}"
  ninja -C "$dir" -j"$jobs" "$@" | grep -vE '^\[[0-9]+/[0-9]+\] ' || true
  [ "${PIPESTATUS[0]}" = 0 ] || { echo "build ${dir#"$out"/} failed" >&2; exit 1; }
}
for arch in i686 x86_64; do
  configure "$out/win-$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake"
done
configure "$out/host"
CC=clang-14 CXX=clang++-14 configure "$out/fuzz" -DVELLIX_FUZZ=ON
build "$out/win-x86_64"
if [ -n "$skipped" ]; then build "$out/win-i686" deliverables; else build "$out/win-i686"; fi
build "$out/host"
build "$out/fuzz"

# Every prefix of the build trees with its display: a test that was killed leaves its own behind.
stop_wine() {
  local p
  for p in "$out"/win-*/wineprefix*; do
    case $p in *.lock) continue ;; esac
    "$root/tools/wine-run.sh" --stop "${p%.display}"
  done
  return 0
}

# Every test gets a prefix and a display of its own from tools/wine-run.sh.
trap stop_wine EXIT
stop_wine
rm -rf "$out"/win-*/wineprefix*
rm -f "$out"/win-*/screens/*.png  # the folders are made when the build is configured
# A full disk shows up as dozens of unrelated failures; say it once, up front.
avail_mb=$(( $(df -Pk "$out" | awk 'NR==2 {print $4}') / 1024 ))
[ "$avail_mb" -ge 2048 ] || echo "warning: only $avail_mb MB free under $out; the tests need about 2 GB" >&2

status=0
for arch in "${run_arches[@]}"; do
  echo "== Windows tests, $arch, under $([ $arch = x86_64 ] && echo wine64 || echo wine32)"
  ctest --test-dir "$out/win-$arch" -j"$jobs" --output-on-failure --timeout 600 || status=1
done
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

echo "== Windows tests ran for: ${run_arches[*]}"
[ -z "$skipped" ] || echo "== $skipped (the i686 deliverables were built)"
if [ $status = 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit $status
