# The opening that the benchmark scripts share (sourced): the tree, the Windows build and the
# benchmark program, a scratch folder removed on exit, and the local test server.
# shellcheck shell=bash disable=SC2034  # the variables are for the sourcing script
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/tools/arch.sh"

# The Windows build measured: VELLIX_ARCH (i686 or x86_64), else the shipped i686 where this host
# runs 32-bit code and x86_64 where it does not.
default_build() {
  local arch=${VELLIX_ARCH:-}
  if [ -z "$arch" ]; then
    if host_runs_i386; then arch=i686; else arch=x86_64; fi
  fi
  echo "$root/build/win-$arch"
}

# bench_setup PROGRAM TOOL [BUILD_DIR]: sets build, bench and work; stops when the program or the
# Linux tool it is compared with is missing.
bench_setup() {
  build=$(cd "${3:-$(default_build)}" && pwd)
  bench=$build/bin/$1.exe
  [ -f "$bench" ] || { echo "build $1 first: ninja -C $build $1" >&2; exit 1; }
  command -v "$2" >/dev/null || { echo "$2 is missing (apt-get install $2)" >&2; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# bench_server: starts tests/http/testserver.py, stopped on exit, and sets port (its HTTP port).
# Proxy settings would send the comparison's requests elsewhere.
bench_server() {
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
  python3 "$root/tests/http/testserver.py" --port-file "$work/ports.json" --no-lifeline --max-seconds 900 &
  server=$!
  trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
  for _ in $(seq 100); do [ -s "$work/ports.json" ] && break; sleep 0.05; done
  port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["http"])' "$work/ports.json")
}
