#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (run as root), then builds the
# third-party libraries from Debian source packages into the dependency cache. A no-op when all is present.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/arch.sh"
export DEBIAN_FRONTEND=noninteractive

# Both cross compilers always: the 32-bit program ships, and its 64-bit twin runs the tests on any
# x86-64 host. Wine's 32-bit half only where the host runs 32-bit code.
packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev cmake ninja-build googletest
  wine wine64
  xvfb xauth imagemagick fonts-wine fonts-dejavu-core fonts-wqy-microhei
  tcl build-essential dpkg-dev python3 xz-utils ca-certificates locales
  clang-14 libclang-rt-14-dev rapidjson-dev nlohmann-json3-dev sqlite3 zlib1g-dev curl lua5.2 zip
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

install_missing() {  # install_missing PACKAGE...
  local missing=() p
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  [ ${#missing[@]} -gt 0 ] || return 0
  [ "$(id -u)" = 0 ] || { echo "setup: must run as root to install: ${missing[*]}" >&2; exit 1; }
  case " ${missing[*]}" in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
  esac
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"
# The 32-bit C library first, so a real 32-bit program can say whether this host runs one. On a host
# that refuses them the package still installs; nothing 32-bit is asked of it after that.
if [ "${VELLIX_X64_ONLY:-0}" != 1 ]; then
  install_missing libc6:i386 || echo "setup: libc6:i386 did not install; 32-bit Wine is left out"
  if host_runs_i386; then
    install_missing wine32:i386 libgnutls30:i386
  else
    echo "setup: no 32-bit Wine: $(i386_refusal)"
  fi
fi

# Tests pin the locale (Wine derives the ANSI and OEM code pages from it); some switch to Chinese.
need_locales=()
for l in en_US zh_CN; do
  locale -a 2>/dev/null | grep -qix "$l.utf-\?8" || need_locales+=("$l")
done
if [ ${#need_locales[@]} -gt 0 ]; then
  [ "$(id -u)" = 0 ] || { echo "setup: must run as root to generate locales: ${need_locales[*]}" >&2; exit 1; }
  for l in "${need_locales[@]}"; do
    grep -q "^$l.UTF-8 UTF-8" /etc/locale.gen || echo "$l.UTF-8 UTF-8" >> /etc/locale.gen
  done
  locale-gen >/dev/null
fi

"$here/build-deps.sh"
