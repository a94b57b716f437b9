#!/usr/bin/env bash
# Runs the program under Wine, set up from nothing on a Debian 12 machine:
#   tools/run.sh [--arch i686|x86_64] [--screenshot FILE] [--lang LOCALE]
# Installs what is missing (tools/setup.sh), builds the program, copies it into a program folder
# that keeps what the program writes beside itself (run/win32 or run/win64), starts the reference
# service on the program's port unless it already answers there, and runs the program in a Wine
# virtual desktop on DISPLAY (or on an Xvfb display of its own) until it ends; its exit code is
# this script's. --screenshot FILE writes a picture of the screen once the main window is up and
# then closes the program. Everything started here is stopped when the script ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/arch.sh"
. "$root/tools/runlib.sh"

usage() {
  cat <<EOF
usage: tools/run.sh [--arch i686|x86_64] [--screenshot FILE] [--lang LOCALE]
  --arch        the build to run (VELLIX_ARCH); default i686, the shipped 32-bit program, or
                x86_64 where this host runs no 32-bit code
  --screenshot  once the main window is up, write a picture of the screen to FILE (PNG) and end
                the program
  --lang        the locale Wine runs under (VELLIX_LANG; default LANG if it is a UTF-8 locale,
                else en_US.UTF-8), e.g. zh_CN.UTF-8
Program folders and Wine prefixes live under run/ (VELLIX_RUN_DIR).
EOF
}

arch=${VELLIX_ARCH:-}
screenshot=""
lang=${VELLIX_LANG:-}
while [ $# -gt 0 ]; do
  case $1 in
    --arch) arch=${2:?--arch needs i686 or x86_64}; shift 2 ;;
    --screenshot) screenshot=${2:?--screenshot needs a file name}; shift 2 ;;
    --lang) lang=${2:?--lang needs a locale}; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
if [ -z "$arch" ]; then
  if host_runs_i386; then arch=i686; else arch=x86_64; fi
fi
case $arch in
  i686) bits=32 ;;
  x86_64) bits=64 ;;
  *) echo "run: --arch is i686 or x86_64, not $arch" >&2; exit 2 ;;
esac
if [ "$arch" = i686 ] && ! host_runs_i386; then
  echo "run: this host cannot run the i686 program ($(i386_refusal)); use --arch x86_64" >&2
  exit 1
fi
if [ -z "$lang" ]; then
  case ${LANG:-} in [a-z][a-z]_*.UTF-8|[a-z][a-z]_*.utf8) lang=$LANG ;; *) lang=en_US.UTF-8 ;; esac
fi
if [ -n "$screenshot" ]; then
  screenshot=$(cd "$(dirname "$screenshot")" && pwd)/$(basename "$screenshot")
fi

# The service port compiled into the program: the one thing this script cannot choose.
service_port=8160
main_class=Vellix2Window
build=${VELLIX_BUILD:-$root/build}/win-$arch
rundir=${VELLIX_RUN_DIR:-$root/run}
folder=$rundir/win$bits
prefix=$rundir/win$bits.wineprefix

"$root/tools/setup.sh" | grep -v '^deps: up to date' || true
[ "${PIPESTATUS[0]}" = 0 ] || exit 1

echo "== build ${build#"$root"/} (Vellix)"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
fi
# The language files of the folder come from the resources' target.
set +e
ninja -C "$build" deliverables windowctl vxlangres 2>&1 | grep -vE '^\[[0-9]+/[0-9]+\] |^ninja: (Entering|no work)'
built=${PIPESTATUS[0]}
set -e
[ "$built" = 0 ] || { echo "run: the build failed" >&2; exit 1; }
[ -f "$build/bin/Vellix.exe" ] || { echo "run: $build/bin/Vellix.exe was not built: is app/ui/WinMain.cpp in this tree?" >&2; exit 1; }

# Fresh program files each run; the database, downloads, favourites and avatar beside them stay.
mkdir -p "$folder"
"$root/tools/package.sh" layout "$build" "$folder"
echo "program folder: $folder"

xvfb="" service="" program=""
cleanup() {
  trap - EXIT INT TERM HUP
  [ -n "$program" ] && kill "$program" 2>/dev/null
  vx_wineserver_kill "$prefix"
  vx_stop "$service" "$xvfb"
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM HUP

vx_use_display 1024x768
xvfb=$vx_xvfb_pid
echo "display: $DISPLAY${xvfb:+ (Xvfb started here)}"
mkdir -p "$rundir"
vx_use_service "$service_port" "$rundir/service.log"
service=$vx_service_pid
[ -z "$vx_site_root" ] || echo "demo comic: $vx_site_root/comic/harbor.html"

wine() { VELLIX_WINE_ARCH=$arch VELLIX_TEST_LANG=$lang "$root/tools/wine-run.sh" "$prefix" "$@"; }
# Every program of the prefix opens in one virtual desktop: the windows get frames without a
# window manager, and the program runs as Wine's own process, so its exit code comes back.
if ! grep -qs '^"Desktop"="Vellix"' "$prefix/user.reg"; then
  echo "wine: preparing the prefix $prefix"
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Vellix /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Vellix /t REG_SZ /d 1024x768 /f >/dev/null 2>&1
  WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -w
fi

echo "== Vellix ($arch, $lang)"
# In the background, so that the traps run at once on Ctrl-C and the screenshot can be taken.
(cd "$folder" && exec env VELLIX_WINE_ARCH=$arch VELLIX_TEST_LANG=$lang "$root/tools/wine-run.sh" "$prefix" \
    "$folder/Vellix.exe") &
program=$!

if [ -n "$screenshot" ]; then
  windowctl=$build/bin/windowctl.exe
  if ! wine "$windowctl" wait "$main_class" 120; then
    echo "run: the main window did not come up within 120 s" >&2
    exit 1
  fi
  # The window is shown before its views have painted their first page.
  sleep 2
  import -window root "$screenshot"
  echo "screenshot: $screenshot"
  if ! wine "$windowctl" close "$main_class" 60; then
    echo "run: the program did not close its main window within 60 s" >&2
    exit 1
  fi
  for _ in $(seq 600); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$program" 2>/dev/null; then
    echo "run: the program's window is gone but the program still runs after 60 s; ending it" >&2
    exit 1
  fi
fi

set +e
wait "$program"
status=$?
set -e
program=""
echo "Vellix ended with exit code $status"
exit $status
