#!/usr/bin/env bash
# The program folder as it ships, from one Windows build tree.
#   tools/package.sh layout BUILD_DIR DEST_DIR   copies the program's files into DEST_DIR
#   tools/package.sh zip BUILD_DIR ZIP_FILE      the same folder without debug information, as
#                                                "Vellix/" inside ZIP_FILE
#   tools/package.sh files BUILD_DIR             lists the files, one path a line
# The files are the program, the libraries it loads by name, every DLL that one of them imports
# (followed through objdump -p) and the language files. An import that is neither in the build's
# bin folder nor a Windows system DLL stops the script: the folder would not start elsewhere.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/arch.sh"

usage() { echo "usage: $0 layout|zip|files BUILD_DIR [DEST]" >&2; exit 2; }
[ $# -ge 2 ] || usage
mode=$1 build=$(cd "$2" && pwd) dest=${3:-}
case $mode in layout|zip) [ -n "$dest" ] || usage ;; files) ;; *) usage ;; esac
bin=$build/bin
[ -f "$bin/Vellix.exe" ] || { echo "package: $bin/Vellix.exe is missing (ninja -C $build deliverables)" >&2; exit 1; }
arch=$(pe_arch "$bin/Vellix.exe")
objdump=$arch-w64-mingw32-objdump

# Loaded by name at run time, so no import table names it; the optional downloader plug-in is
# not ours to ship.
loaded_by_name=(Faultkeep.dll)
# What Windows itself provides (compared in lower case). Anything else must come with the program.
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll crypt32.dll dbghelp.dll gdi32.dll gdiplus.dll
  imm32.dll kernel32.dll msimg32.dll msvcrt.dll ntdll.dll ole32.dll oleacc.dll oleaut32.dll psapi.dll
  rpcrt4.dll shell32.dll shlwapi.dll urlmon.dll user32.dll uxtheme.dll version.dll wininet.dll
  winhttp.dll winmm.dll ws2_32.dll wsock32.dll "
system_dlls=" $(echo $system_dlls) "  # one space between names, for the word match below

lower() { tr '[:upper:]' '[:lower:]' <<<"$1"; }
imports() { "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'; }

shipped=()
seen=" "
missing=()
add() {  # add FILE_NAME NEEDED_BY
  local name=$1 key
  key=$(lower "$name")
  case $seen in *" $key "*) return ;; esac
  seen+="$key "
  local file
  file=$(find "$bin" -maxdepth 1 -iname "$name" -print -quit)
  if [ -z "$file" ]; then
    case $system_dlls in *" $key "*) return ;; esac
    case $key in api-ms-win-*|ext-ms-win-*) return ;; esac
    missing+=("$name (needed by $2)")
    return
  fi
  shipped+=("$file")
  local dll
  while read -r dll; do add "$dll" "${file##*/}"; done < <(imports "$file")
}
add Vellix.exe "the package"
for f in "${loaded_by_name[@]}"; do add "$f" Vellix.exe; done
if [ ${#missing[@]} -gt 0 ]; then
  echo "package: neither in $bin nor a Windows DLL:" >&2
  printf '  %s\n' "${missing[@]}" >&2
  exit 1
fi

# The built-in texts are only the system language's; the others come from this folder. The
# Chinese file is the UTF-16 copy made for the resources: the language list reads the display
# name through GetPrivateProfileStringW, which takes 8-bit files in the ANSI code page.
languages=("$root/app/resources/lang/en.ini" "$build/app/resources/zh-cn.ini")
for f in "${languages[@]}"; do
  [ -f "$f" ] || { echo "package: language file $f is missing (build the Vellix target)" >&2; exit 1; }
done

if [ "$mode" = files ]; then
  printf '%s\n' "${shipped[@]}" "${languages[@]}"
  exit 0
fi

lay_out() {  # lay_out DIR
  mkdir -p "$1/Languages"
  cp -f "${shipped[@]}" "$1/"
  cp -f "${languages[@]}" "$1/Languages/"
}

if [ "$mode" = layout ]; then
  lay_out "$dest"
  exit 0
fi

dest=$(cd "$(dirname "$dest")" && pwd)/$(basename "$dest")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
lay_out "$work/Vellix"
# Debug information stays with the build tree (it reads the crash dumps); the zip carries code.
for f in "$work"/Vellix/*.exe "$work"/Vellix/*.dll; do "$arch-w64-mingw32-strip" --strip-debug "$f"; done
(cd "$work" && zip -q -r -X "$work/out.zip" Vellix)
mv -f "$work/out.zip" "$dest"
echo "package: $dest ($(cd "$work/Vellix" && find . -type f | wc -l) files)"
