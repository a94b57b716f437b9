#!/usr/bin/env bash
# Without a display every window fails under Wine: the program must end with its "no main window"
# code instead of running a loop with no window. nodisplay.sh WINE_RUN PREFIX BIN_DIR PROGRAM
set -u
wine_run=$1 prefix=$2 bin=$3 program=$4
folder=$(mktemp -d)
trap '"$wine_run" --stop "$prefix"; rm -rf "$folder"' EXIT
cp "$bin"/*.dll "$folder"/ && cp "$program" "$folder"/Vellix.exe || exit 1
cd "$folder"
DISPLAY=:4077 timeout 60 "$wine_run" "$prefix" ./Vellix.exe
code=$?
echo "exit code $code"
[ "$code" -eq 3 ]
