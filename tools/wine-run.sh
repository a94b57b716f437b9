#!/usr/bin/env bash
# Runs one Windows program under Wine with a pinned locale and a quiet Wine:
#   wine-run.sh PREFIX program.exe args...    in PREFIX, made from a template of the program's
#                                             architecture when missing; without DISPLAY, on an
#                                             Xvfb display of PREFIX's own
#   wine-run.sh --private BASE program args   in a prefix and on a display of this run alone
#                                             (BASE.PID), both gone when it ends: ctest runs every
#                                             test so, and no test sees another's windows, focus or
#                                             registry
#   wine-run.sh --stop PREFIX                 ends PREFIX's Wine processes and its own display
# Wine's background processes (wineserver, services, explorer) are started detached from the
# caller's output pipe: if they inherit ctest's pipe, every test waits for EOF and ctest can hang.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/arch.sh"
. "$here/display.sh"
private=0
case ${1:-} in
  --private) private=1; prefix=$2.$$; shift 2 ;;
  --stop) mode=stop; prefix=$2 ;;
  *) prefix=$1; shift ;;
esac
# Wine takes only an absolute WINEPREFIX; a relative one would fail, and silently so for --stop.
case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac
deps=${VELLIX_DEPS:-$HOME/.cache/vellix-deps}

# The display a prefix started for itself: ":N PID" in PREFIX.display.
own_display() {
  local d pid
  [ -f "$prefix.display" ] && read -r d pid <"$prefix.display" || return 1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X${d#:}" ] && echo "$d $pid"
}

stop_prefix() {
  [ -d "$prefix" ] && WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1
  local d pid
  if [ -f "$prefix.display" ] && read -r d pid <"$prefix.display"; then vx_stop_xvfb "$pid"; fi
  rm -f "$prefix.display"
  return 0
}
if [ "${mode:-}" = stop ]; then
  stop_prefix
  exit 0
fi
if [ $private = 1 ]; then
  # Ends what the run started, also when ctest stops it.
  finish() {
    trap - EXIT INT TERM HUP
    [ -n "${child:-}" ] && kill "$child" 2>/dev/null
    stop_prefix
    rm -rf "$prefix" "$prefix.lock"
  }
  trap finish EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM HUP
  rm -rf "$prefix"  # left by a killed run whose process id this one got
fi

# The program's own architecture picks the loader; a command that is no file (cmd, reg) takes the
# prefix's, or VELLIX_WINE_ARCH. Debian's /usr/bin/wine would take the 32-bit loader whenever wine32
# is installed, even on a host that cannot run it, so the loaders are called directly.
arch=${VELLIX_WINE_ARCH:-$(pe_arch "$1")} || arch=
if [ -z "$arch" ]; then
  if grep -qs '^#arch=win64' "$prefix/system.reg"; then arch=x86_64; else arch=i686; fi
fi
if [ "$arch" = x86_64 ]; then
  loader=/usr/lib/wine/wine64 winearch=win64
else
  loader=/usr/lib/wine/wine winearch=win32
fi
# The 64-bit server serves both kinds of prefix and runs on every x86-64 host.
export WINESERVER=/usr/lib/wine/wineserver64 WINELOADER=$loader
# Bump the suffix when make_template changes, so caches from older runs are not used. The date of
# wine.inf tells Wine builds apart: a newer Wine would rewrite the DLLs that prefixes link to.
template=$deps/wineprefix-template-3-$winearch-$(stat -c %Y /usr/share/wine/wine.inf 2>/dev/null)

export WINEPREFIX=$prefix WINEARCH=$winearch
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
export LANG=${VELLIX_TEST_LANG:-en_US.UTF-8} LC_ALL=${VELLIX_TEST_LANG:-en_US.UTF-8}
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ftp_proxy no_proxy NO_PROXY all_proxy ALL_PROXY

quiet() { "$@" </dev/null >/dev/null 2>&1; }
wineserver() { "$WINESERVER" "$@"; }

make_template() {
  # Several build trees may want the template at once.
  exec 8>"$template.lock"
  flock 8
  if [ -d "$template" ]; then exec 8>&-; return; fi
  local tmp=$template.tmp.$$
  rm -rf "$tmp"
  # Skips the Mono and Gecko installers, which would wait for a click.
  WINEPREFIX=$tmp WINEDLLOVERRIDES="mscoree,mshtml=" quiet "$loader" wineboot.exe -i
  # A crashing test must fail, not wait on Wine's crash dialog.
  WINEPREFIX=$tmp quiet "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
  # Without a window manager, Wine waits 2 s whenever a managed top-level window is hidden.
  WINEPREFIX=$tmp quiet "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
  WINEPREFIX=$tmp quiet wineserver -w
  mv "$tmp" "$template"
  # Templates of an older Wine or make_template are dead weight.
  local old
  for old in "$deps"/wineprefix-template-*-"$winearch" "$deps"/wineprefix-template-*-"$winearch"-*; do
    case $old in "$template"|*.lock|*.tmp.*) ;; *) [ -d "$old" ] && rm -rf "$old" "$old.lock" ;; esac
  done
  exec 8>&-
}

# Wine's DLLs and tables are nearly all of a prefix (1.3 GB for win64) and nothing writes them once
# wineboot has made them, so a prefix links to the template's; every other file (the registry, ini
# files) is its own copy. A template on another file system is copied whole once, beside the
# prefix, and the prefixes there link to that copy: every test makes a prefix.
copy_template() {
  local tmp=$prefix.tmp.$$ from=$template
  rm -rf "$tmp"
  if ! cp -al "$from" "$tmp" 2>/dev/null; then
    rm -rf "$tmp"
    from=$(dirname "$prefix")/.${template##*/}
    (
      flock 7
      [ -d "$from" ] || { rm -rf "$from.tmp" && cp -a "$template" "$from.tmp" && mv "$from.tmp" "$from"; }
    ) 7>"$from.lock" || return 1
    cp -al "$from" "$tmp" || { rm -rf "$tmp"; return 1; }
  fi
  find "$tmp" -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.drv' -o -iname '*.sys' \
      -o -iname '*.ocx' -o -iname '*.cpl' -o -iname '*.acm' -o -iname '*.tlb' -o -iname '*.nls' \
      -o -iname '*.vxd' -o -iname '*.ax' -o -iname '*.ds' -o -iname '*.com' \) \
    -exec sh -c 'for f; do cp -p "$f" "$f.own" && mv -f "$f.own" "$f" || exit 1; done' sh {} + \
    || { rm -rf "$tmp"; return 1; }
  mv "$tmp" "$prefix"
}

exec 9>"$prefix.lock"
flock 9
mkdir -p "$deps"
if [ ! -d "$prefix" ]; then
  [ -d "$template" ] || make_template
  copy_template || echo "wine-run: cannot make $prefix" >&2
fi
if [ $private = 1 ]; then
  vx_start_xvfb || { echo "wine-run: no Xvfb display" >&2; exit 1; }
  echo "$vx_display $vx_xvfb_pid" >"$prefix.display"
  export DISPLAY=$vx_display
elif [ -z "${DISPLAY:-}" ]; then
  # Shared by every run in this prefix until --stop.
  if ! own=$(own_display); then
    vx_start_xvfb || { echo "wine-run: no Xvfb display" >&2; exit 1; }
    own="$vx_display $vx_xvfb_pid"
    echo "$own" >"$prefix.display"
  fi
  export DISPLAY=${own%% *}
fi
if quiet wineserver -p60; then
  quiet "$loader" cmd /c exit
fi
flock -u 9
exec 9>&-

[ $private = 1 ] || exec "$loader" "$@"

# In the background, so that a signal is taken at once; with the caller's input.
"$loader" "$@" 0<&0 &
child=$!
wait "$child"
code=$?
child=""
exit $code
