#!/usr/bin/env bash
# Builds the third-party libraries from Debian source packages into the dependency cache
# ($VELLIX_DEPS, default ~/.cache/vellix-deps), outside the repository. Sources are downloaded with a
# private apt sources list, so the machine's apt configuration is left alone. Rebuilds only when this
# script changes or the cache is missing.
set -euo pipefail
deps=${VELLIX_DEPS:-$HOME/.cache/vellix-deps}
self_hash=$(sha256sum "$0" | cut -c1-16)
stamp=$deps/stamp
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$self_hash" ]; then
  echo "deps: up to date in $deps"
  exit 0
fi

# Upstream versions the project is built and tested against.
declare -A want=([lua5.2]=5.2.4 [sqlite3]=3.40.1 [duktape]=2.7.0 [minizip]=1.1 [zlib]=1.2.13)

# Every Windows library is built for both architectures, one folder each: i686 ships, x86_64 runs the
# tests on hosts that refuse 32-bit code.
arches=(i686 x86_64)
jobs=$(nproc)
src=$deps/src
host=$deps/host
rm -rf "$host" "${arches[@]/#/$deps/}"
mkdir -p "$src" "$host"/{include,lib}

use_arch() {  # use_arch ARCH: sets the cross tools and the output folder
  local cross=$1-w64-mingw32
  cc_win="$cross-gcc-posix"
  ar_win="$cross-ar"
  win=$deps/$1
  obj_win=$deps/obj/$1
  mkdir -p "$win"/{include,lib,bin} "$obj_win"
}

fetch_sources() {
  local apt=$src/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/partial"
  local uri suite
  uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  suite=$(awk '/^Suites:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main" > "$apt/sources.list"
  local opts=(-o Dir::Etc::sourcelist="$apt/sources.list" -o Dir::Etc::sourceparts=/nonexistent
              -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" -q update >/dev/null
  (cd "$src" && apt-get "${opts[@]}" -q source --download-only "${!want[@]}" >/dev/null)
}

unpack() {  # unpack PKG -> prints the source folder
  local pkg=$1 dsc
  dsc=$(ls "$src"/${pkg}_*.dsc | sort -V | tail -n 1)
  local ver=${dsc##*/${pkg}_}; ver=${ver%.dsc}
  case "$ver" in
    ${want[$pkg]}*) ;;
    *) echo "deps: $pkg $ver is not the pinned upstream ${want[$pkg]}" >&2; exit 1 ;;
  esac
  local dir=$src/$pkg-tree
  rm -rf "$dir"
  dpkg-source --no-check -x "$dsc" "$dir" >/dev/null
  echo "$pkg $ver" >> "$deps/versions.new"
  echo "$dir"
}

lua_sources() {  # lua_sources DIR: the library's sources, without the two programs
  local f
  for f in "$1"/src/*.c; do
    case "${f##*/}" in lua.c|luac.c) ;; *) echo "$f" ;; esac
  done
}

lua_headers() {  # lua_headers DIR DEST
  cp "$1"/src/{lua.h,luaconf.h,lualib.h,lauxlib.h,lua.hpp,lua5.2-deb-multiarch.h} "$2/include/"
}

prepare_lua() {
  # Debian's luaconf.h wants its multiarch header on non-Windows builds.
  echo "#define DEB_HOST_MULTIARCH \"$(gcc -dumpmachine)\"" > "$1/src/lua5.2-deb-multiarch.h"
}

build_lua_host() {
  local dir=$1 obj=$deps/obj/host-lua f
  mkdir -p "$obj"
  for f in $(lua_sources "$dir"); do
    echo "gcc -O2 -fPIC -g -DLUA_COMPAT_ALL -DLUA_USE_LINUX -c $f -o $obj/$(basename "${f%.c}").o"
  done | xargs -P "$jobs" -I{} sh -c '{}'
  ar rcs "$host/lib/liblua52.a" "$obj"/*.o
  lua_headers "$dir" "$host"
}

build_lua() {
  local dir=$1 obj=$obj_win/lua f
  mkdir -p "$obj"
  # One DLL for the whole process: every module that uses Lua imports it.
  for f in $(lua_sources "$dir"); do
    echo "$cc_win -O2 -DLUA_COMPAT_ALL -DLUA_BUILD_AS_DLL -c $f -o $obj/$(basename "${f%.c}").o"
  done | xargs -P "$jobs" -I{} sh -c '{}'
  "$cc_win" -shared -static-libgcc -o "$win/bin/lua52.dll" "$obj"/*.o \
    -Wl,--out-implib,"$win/lib/liblua52.dll.a"
  lua_headers "$dir" "$win"
}

# The Debian source has no amalgamation; generate it natively once (needs tclsh).
sqlite_amalgamation() {
  local dir=$1 bld=$deps/obj/sqlite
  mkdir -p "$bld"
  (cd "$bld" && "$dir/configure" >/dev/null && make -j"$jobs" sqlite3.c >/dev/null)
}

build_sqlite() {
  local amal=$deps/obj/sqlite bld=$obj_win/sqlite
  mkdir -p "$bld"
  "$cc_win" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_DEFAULT_FOREIGN_KEYS=0 -c "$amal/sqlite3.c" -o "$bld/sqlite3.o"
  "$ar_win" rcs "$win/lib/libsqlite3.a" "$bld/sqlite3.o"
  cp "$amal/sqlite3.h" "$win/include/"
}

build_duktape() {
  local dir=$1 bld=$obj_win/duktape
  mkdir -p "$bld"
  "$cc_win" -O2 -c "$dir/src/duktape.c" -I"$dir/src" -o "$bld/duktape.o"
  "$ar_win" rcs "$win/lib/libduktape.a" "$bld/duktape.o"
  cp "$dir/src/duktape.h" "$dir/src/duk_config.h" "$win/include/"
}

# zlib for Dornet's gzip bodies and the zip packing. Unaligned loads are fine on x86 and make
# level-9 deflate markedly faster in 32-bit code.
build_zlib() {
  local dir=$1 bld=$obj_win/zlib f
  mkdir -p "$bld"
  for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees \
           trees uncompr zutil; do
    echo "$cc_win -O2 -DUNALIGNED_OK -c $dir/$f.c -o $bld/$f.o"
  done | xargs -P "$jobs" -I{} sh -c '{}'
  # Callers compile against the cross compiler's zlib 1.2.13 headers (libz-mingw-w64-dev), the same release.
  "$ar_win" rcs "$win/lib/libz.a" "$bld"/*.o
}

build_minizip() {
  local dir=$1 bld=$obj_win/minizip f
  mkdir -p "$bld" "$win/include/minizip"
  for f in zip.c unzip.c ioapi.c iowin32.c; do
    "$cc_win" -O2 -c "$dir/$f" -o "$bld/${f%.c}.o"
  done
  "$ar_win" rcs "$win/lib/libminizip.a" "$bld"/*.o
  cp "$dir"/{zip.h,unzip.h,ioapi.h,iowin32.h,crypt.h} "$win/include/minizip/"
}

fetch_sources
rm -f "$deps/versions.new"
lua=$(unpack lua5.2)
sqlite=$(unpack sqlite3)
duktape=$(unpack duktape)
zlib=$(unpack zlib)
minizip=$(unpack minizip)
prepare_lua "$lua"
build_lua_host "$lua"
sqlite_amalgamation "$sqlite"
for arch in "${arches[@]}"; do
  use_arch "$arch"
  build_lua "$lua"
  build_sqlite
  build_duktape "$duktape"
  build_zlib "$zlib"
  build_minizip "$minizip"
done
mv "$deps/versions.new" "$deps/versions"
rm -rf "$deps/obj"
echo "$self_hash" > "$stamp"
echo "deps: built into $deps:"; sed 's/^/  /' "$deps/versions"
