#!/bin/sh
# Writes a UTF-8 text as UTF-16LE with a byte-order mark: utf16.sh in out
printf '\377\376' > "$2" && iconv -f UTF-8 -t UTF-16LE "$1" >> "$2"
