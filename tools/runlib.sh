# Running the program by hand and in benchmarks (sourced): the reference service on the program's
# compiled-in port and an Xvfb display, each stopped by the caller's exit trap.
# shellcheck shell=bash disable=SC2034  # the variables are for the sourcing script

# vx_service_probe PORT: "free" when nothing listens, "service" when the reference service (or one
# that answers like it) does, "other" for anything else there.
vx_service_probe() {
  python3 - "$1" <<'EOF'
import json, socket, sys, urllib.request
port = int(sys.argv[1])
s = socket.socket()
s.settimeout(2)
try:
    s.connect(("127.0.0.1", port))
except OSError:
    print("free")
    sys.exit(0)
finally:
    s.close()
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
try:
    with opener.open("http://127.0.0.1:%d/v2/config.php?lang=en" % port, timeout=5) as r:
        doc = json.load(r)
    print("service" if isinstance(doc, dict) and isinstance(doc.get("v"), dict) else "other")
except Exception:
    print("other")
EOF
}

# vx_use_service PORT LOG_FILE: makes sure the reference service answers on PORT, starting it when
# the port is free. Sets vx_service_pid (empty when one was already running) and vx_site_root.
# Fails with a message when something else holds the port.
vx_use_service() {
  local port=$1 log=$2 state
  vx_service_pid="" vx_site_root=""
  state=$(vx_service_probe "$port")
  case $state in
    service)
      echo "service: already answering on http://127.0.0.1:$port (left running)"
      return 0 ;;
    other)
      echo "service: port $port is taken by something that is not the reference service; the program" \
           "talks to http://127.0.0.1:$port, so stop that first (see: ss -ltnp 'sport = :$port')" >&2
      return 1 ;;
  esac
  local ports site_port=8161
  ports=$(mktemp -u "${TMPDIR:-/tmp}/vellix-service.XXXXXX")
  # The demo site's usual port, or any when that one is taken.
  [ "$(vx_service_probe $site_port)" = free ] || site_port=0
  python3 "$vx_root/service/server.py" --port "$port" --site-port "$site_port" --port-file "$ports" \
      --log "$log" &
  vx_service_pid=$!
  local i
  for i in $(seq 200); do
    [ -s "$ports" ] && break
    kill -0 "$vx_service_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ ! -s "$ports" ]; then
    echo "service: service/server.py did not start (see $log)" >&2
    vx_service_pid=""
    return 1
  fi
  site_port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["site"])' "$ports")
  rm -f "$ports"
  vx_site_root=http://127.0.0.1:$site_port
  echo "service: started on http://127.0.0.1:$port, demo site on $vx_site_root (log: $log)"
}

# vx_use_display [GEOMETRY]: keeps DISPLAY, or starts an Xvfb display and exports it. Sets
# vx_xvfb_pid (empty when DISPLAY was kept).
vx_use_display() {
  vx_xvfb_pid=""
  [ -n "${DISPLAY:-}" ] && return 0
  command -v Xvfb >/dev/null || { echo "display: no DISPLAY and no Xvfb (apt-get install xvfb)" >&2; return 1; }
  vx_start_xvfb "${1:-1280x1024}" || { echo "display: no Xvfb display could be started" >&2; return 1; }
  export DISPLAY=$vx_display
}

# vx_stop PID...: ends the given processes that are still there, waiting a bounded time for each.
vx_stop() {
  local p
  for p in "$@"; do
    [ -n "$p" ] || continue
    kill "$p" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null || true
  done
  return 0
}

# vx_wineserver_kill PREFIX: ends every Wine process of that prefix and its server.
vx_wineserver_kill() {
  [ -d "$1" ] || return 0
  WINEPREFIX=$1 /usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1 || true
}

vx_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$vx_root/tools/display.sh"
