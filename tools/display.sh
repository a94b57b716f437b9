# Xvfb displays for the scripts that run windows (sourced).
# shellcheck shell=bash disable=SC2034  # the variables are for the sourcing script

# vx_start_xvfb [GEOMETRY]: starts an Xvfb on a display number the server picks itself (no two
# starts can race for one number) and sets vx_display (":N") and vx_xvfb_pid. The server runs in a
# session of its own, so a terminal's Ctrl-C reaches only the script that owns it.
vx_start_xvfb() {
  vx_display="" vx_xvfb_pid=""
  local numbers
  numbers=$(mktemp "${TMPDIR:-/tmp}/vellix-display.XXXXXX") || return 1
  setsid Xvfb -displayfd 3 -screen 0 "${1:-1280x1024}x24" -nolisten tcp 3>"$numbers" </dev/null >/dev/null 2>&1 &
  vx_xvfb_pid=$!
  # The number is written once the server listens.
  local i n=""
  for i in $(seq 200); do
    n=$(tr -dc 0-9 <"$numbers")
    [ -n "$n" ] && [ "$(wc -l <"$numbers")" -ge 1 ] && break
    n=""
    kill -0 "$vx_xvfb_pid" 2>/dev/null || break
    sleep 0.025
  done
  rm -f "$numbers"
  if [ -z "$n" ]; then
    kill "$vx_xvfb_pid" 2>/dev/null
    vx_xvfb_pid=""
    return 1
  fi
  vx_display=:$n
}

# vx_stop_xvfb PID: ends an Xvfb started by vx_start_xvfb and waits (bounded) until it is gone.
vx_stop_xvfb() {
  [ -n "${1:-}" ] || return 0
  kill "$1" 2>/dev/null || return 0
  local i
  for i in $(seq 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.02; done
  kill -9 "$1" 2>/dev/null || true
}
