#!/usr/bin/env bash
# Start-up of the program next to a minimal one-window program, under the same Wine in the same
# run: startup_bench starts each from a program folder of its own, times it to its first visible
# main window and reads its memory once start-up has settled. One warm-up start each (the first
# one creates the database), then RUNS starts each, alternating. Both architectures where the host
# runs 32-bit code, else x86_64 (VELLIX_ARCH chooses one).
#   bench/startup/run.sh [RUNS]
# The program asks the reference service on its compiled-in port, started here unless it answers.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/arch.sh"
. "$root/tools/runlib.sh"
runs=${1:-5}
settle_ms=1000

if [ -n "${VELLIX_ARCH:-}" ]; then
  arches=("$VELLIX_ARCH")
elif host_runs_i386; then
  arches=(x86_64 i686)
else
  arches=(x86_64)
fi
for arch in "${arches[@]}"; do
  b=$root/build/win-$arch
  for t in startup_bench minimal_window Vellix; do
    [ -f "$b/bin/$t.exe" ] || { echo "build first: ninja -C $b startup_bench minimal_window deliverables" >&2; exit 1; }
  done
done

work=$(mktemp -d)
xvfb="" service=""
cleanup() {
  for arch in "${arches[@]}"; do vx_wineserver_kill "$root/build/win-$arch/wineprefix-startup"; done
  vx_stop "$service" "$xvfb"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

vx_use_display 1024x768
xvfb=$vx_xvfb_pid
vx_use_service 8160 "$work/service.log" >&2
service=$vx_service_pid

results=$work/results.txt
: > "$results"
for arch in "${arches[@]}"; do
  b=$root/build/win-$arch
  # Its own prefix: a test run's main frames would meet the program's single-instance check.
  prefix=$b/wineprefix-startup
  "$root/tools/package.sh" layout "$b" "$work/$arch/vellix"
  # What ships: Wine copies every section of an image into private memory, debug sections too.
  for f in "$work/$arch/vellix"/*.exe "$work/$arch/vellix"/*.dll; do "$arch-w64-mingw32-strip" --strip-debug "$f"; done
  mkdir -p "$work/$arch/minimal"
  cp "$b/bin/minimal_window.exe" "$b"/bin/libgcc_s_*.dll "$b/bin/libstdc++-6.dll" "$b/bin/libwinpthread-1.dll" \
     "$work/$arch/minimal/"
  one() {  # one NAME CLASS EXE: one start, its line appended to the results unless warm-up
    local line
    line=$("$root/tools/wine-run.sh" "$prefix" "$b/bin/startup_bench.exe" "$2" $settle_ms \
        "Z:${3//\//\\}" </dev/null | tr -d '\r') || { echo "startup_bench failed for $1 ($arch): $line" >&2; exit 1; }
    [ "${4:-}" = warm-up ] || echo "$arch $1 $line" >> "$results"
  }
  echo "== $arch: warm-up" >&2
  one minimal VxMinimalWindow "$work/$arch/minimal/minimal_window.exe" warm-up
  one vellix Vellix2Window "$work/$arch/vellix/Vellix.exe" warm-up
  for i in $(seq "$runs"); do
    echo "== $arch: run $i of $runs" >&2
    one minimal VxMinimalWindow "$work/$arch/minimal/minimal_window.exe"
    one vellix Vellix2Window "$work/$arch/vellix/Vellix.exe"
  done
done

python3 - "$results" <<'EOF'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    arch, name, _, *fields = line.split()
    kv = dict(f.split("=", 1) for f in fields)
    rows.setdefault((arch, name), []).append(kv)
print("%-7s %-8s %4s %9s %8s %8s %9s %10s  %s" % ("arch", "program", "runs", "median s", "min s", "max s",
                                                 "WS MB", "private MB", "private from"))
med = {}
for (arch, name), rs in rows.items():
    t = [float(r["seconds"]) for r in rs]
    ws = statistics.median(int(r["working_set_kb"]) for r in rs) / 1024
    pr = statistics.median(int(r["private_kb"]) for r in rs) / 1024
    med[arch, name] = (statistics.median(t), ws, pr)
    print("%-7s %-8s %4d %9.3f %8.3f %8.3f %9.1f %10.1f  %s" % (arch, name, len(t), statistics.median(t), min(t),
                                                           max(t), ws, pr, rs[0]["private_from"]))
    bad = [r["exit"] for r in rs if r["exit"] != "0"]
    if bad:
        print("        %s ended with exit codes %s" % (name, " ".join(bad)))
for arch in sorted({a for a, _ in med}):
    (vt, vws, vpr), (mt, mws, mpr) = med[arch, "vellix"], med[arch, "minimal"]
    print("%-7s vellix against minimal: start %+.3f s (x%.1f), working set %+.1f MB (x%.1f), private %+.1f MB (x%.1f)"
          % (arch, vt - mt, vt / mt, vws - mws, vws / mws, vpr - mpr, vpr / mpr if mpr else float("nan")))
    print("%-7s target: start within 1.5 s of minimal: %s; private under 40 MB: %s"
          % (arch, "met" if vt - mt <= 1.5 else "NOT met", "met" if vpr < 40 else "NOT met"))
EOF
