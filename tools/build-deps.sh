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

cross=i686-w64-mingw32
cc_win="$cross-gcc-posix"
ar_win="$cross-ar"
jobs=$(nproc)
src=$deps/src
win=$deps/i686
host=$deps/host
rm -rf "$win" "$host"
mkdir -p "$src" "$win"/{include,lib,bin} "$host"/{include,lib}

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

build_lua() {
  local dir=$1 obj=$deps/obj/lua f
  mkdir -p "$obj/win" "$obj/host"
  local files=()
  # Debian's luaconf.h wants its multiarch header on non-Windows builds.
  echo "#define DEB_HOST_MULTIARCH \"$(gcc -dumpmachine)\"" > "$dir/src/lua5.2-deb-multiarch.h"
  for f in "$dir"/src/*.c; do
    case "${f##*/}" in lua.c|luac.c) ;; *) files+=("$f") ;; esac
  done
  # One DLL for the whole process: every module that uses Lua imports it.
  for f in "${files[@]}"; do
    echo "$cc_win -O2 -DLUA_COMPAT_ALL -DLUA_BUILD_AS_DLL -c $f -o $obj/win/$(basename "${f%.c}").o"
    echo "gcc -O2 -fPIC -g -DLUA_COMPAT_ALL -DLUA_USE_LINUX -c $f -o $obj/host/$(basename "${f%.c}").o"
  done | xargs -P "$jobs" -I{} sh -c '{}'
  "$cc_win" -shared -static-libgcc -o "$win/bin/lua52.dll" "$obj"/win/*.o \
    -Wl,--out-implib,"$win/lib/liblua52.dll.a"
  ar rcs "$host/lib/liblua52.a" "$obj"/host/*.o
  for d in "$win" "$host"; do
    cp "$dir"/src/{lua.h,luaconf.h,lualib.h,lauxlib.h,lua.hpp,lua5.2-deb-multiarch.h} "$d/include/"
  done
}

build_sqlite() {
  local dir=$1 bld=$deps/obj/sqlite
  mkdir -p "$bld"
  # The Debian source has no amalgamation; generate it natively (needs tclsh).
  (cd "$bld" && "$dir/configure" >/dev/null && make -j"$jobs" sqlite3.c >/dev/null)
  "$cc_win" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_DEFAULT_FOREIGN_KEYS=0 -c "$bld/sqlite3.c" -o "$bld/sqlite3.o"
  "$ar_win" rcs "$win/lib/libsqlite3.a" "$bld/sqlite3.o"
  cp "$bld/sqlite3.h" "$win/include/"
}

build_duktape() {
  local dir=$1 bld=$deps/obj/duktape
  mkdir -p "$bld"
  "$cc_win" -O2 -c "$dir/src/duktape.c" -I"$dir/src" -o "$bld/duktape.o"
  "$ar_win" rcs "$win/lib/libduktape.a" "$bld/duktape.o"
  cp "$dir/src/duktape.h" "$dir/src/duk_config.h" "$win/include/"
}

# zlib for Dornet's gzip bodies and the zip packing. Unaligned loads are fine on x86 and make
# level-9 deflate markedly faster in 32-bit code.
build_zlib() {
  local dir=$1 bld=$deps/obj/zlib f
  mkdir -p "$bld"
  for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees \
           trees uncompr zutil; do
    echo "$cc_win -O2 -DUNALIGNED_OK -c $dir/$f.c -o $bld/$f.o"
  done | xargs -P "$jobs" -I{} sh -c '{}'
  # Callers compile against the cross compiler's zlib 1.2.13 headers (libz-mingw-w64-dev), the same release.
  "$ar_win" rcs "$win/lib/libz.a" "$bld"/*.o
}

build_minizip() {
  local dir=$1 bld=$deps/obj/minizip f
  mkdir -p "$bld" "$win/include/minizip"
  for f in zip.c unzip.c ioapi.c iowin32.c; do
    "$cc_win" -O2 -c "$dir/$f" -o "$bld/${f%.c}.o"
  done
  "$ar_win" rcs "$win/lib/libminizip.a" "$bld"/*.o
  cp "$dir"/{zip.h,unzip.h,ioapi.h,iowin32.h,crypt.h} "$win/include/minizip/"
}

fetch_sources
rm -f "$deps/versions.new"
build_lua "$(unpack lua5.2)"
build_sqlite "$(unpack sqlite3)"
build_duktape "$(unpack duktape)"
build_zlib "$(unpack zlib)"
build_minizip "$(unpack minizip)"
mv "$deps/versions.new" "$deps/versions"
rm -rf "$deps/obj"
echo "$self_hash" > "$stamp"
echo "deps: built into $deps:"; sed 's/^/  /' "$deps/versions"
