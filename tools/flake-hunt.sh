#!/usr/bin/env bash
# Runs the built Windows suites again and again under load, to find tests that fail now and then:
#   tools/flake-hunt.sh RUNS [ARCH...]      (default: x86_64, and i686 where the host runs it)
# Each run is ctest -j(cores) on one suite while busy loops keep a quarter of the cores loaded.
# Logs land in build/flake-hunt/; one line a run says how long it took and what failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/arch.sh"
runs=${1:?runs}; shift
arches=("$@")
if [ ${#arches[@]} = 0 ]; then
  arches=(x86_64)
  host_runs_i386 && arches+=(i686)
fi
out=${VELLIX_BUILD:-$root/build}
logs=$out/flake-hunt
mkdir -p "$logs"
cores=$(nproc)
load=$(( cores / 4 > 0 ? cores / 4 : 1 ))

burners=()
stop_load() { [ ${#burners[@]} = 0 ] || kill "${burners[@]}" 2>/dev/null; burners=(); }
trap stop_load EXIT
trap 'exit 130' INT TERM
for _ in $(seq "$load"); do
  (while :; do :; done) &
  burners+=($!)
done

failed=0
for i in $(seq "$runs"); do
  for arch in "${arches[@]}"; do
    log=$logs/$arch-$i.log
    start=$(date +%s)
    ctest --test-dir "$out/win-$arch" -j"$cores" --output-on-failure --timeout 600 >"$log" 2>&1
    code=$?
    bad=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\)$/\1/p' "$log" | tr '\n' ' ')
    echo "run $i $arch: $(( $(date +%s) - start )) s, ${bad:-no failure} (log: $log)"
    [ $code = 0 ] || failed=$((failed + 1))
  done
done
echo "$failed of $(( runs * ${#arches[@]} )) suite runs failed; load: $load busy loops on $cores cores"
[ $failed = 0 ]
