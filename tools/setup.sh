#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (run as root), then builds the
# third-party libraries from Debian source packages into the dependency cache. A no-op when all is present.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export DEBIAN_FRONTEND=noninteractive

packages=(
  g++-mingw-w64-i686-posix libz-mingw-w64-dev cmake ninja-build googletest
  wine wine32:i386 wine64 libgnutls30:i386
  xvfb xauth imagemagick fonts-wine fonts-dejavu-core fonts-wqy-microhei
  tcl build-essential dpkg-dev python3 xz-utils ca-certificates locales
  clang-14 libclang-rt-14-dev rapidjson-dev nlohmann-json3-dev sqlite3 zlib1g-dev curl lua5.2 zip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" = 0 ] || { echo "setup: must run as root to install: ${missing[*]}" >&2; exit 1; }
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
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
