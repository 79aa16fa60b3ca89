#!/usr/bin/env bash
# Every shipped Windows binary must run alone beside the vendor's DLL: it may import only
# system libraries. FTD2XX.dll is loaded at run time, never imported.
set -euo pipefail
cd "$(dirname "$0")/.."

shopt -s nocasematch
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|uxtheme|advapi32|shell32|msvcrt|api-ms-win-[a-z0-9-]+|ntdll|psapi)\.dll$'
failed=0
checked=0
for arch in i686 x86_64; do
  build=build/$([ $arch = i686 ] && echo win32 || echo win64)
  for bin in "$build"/KestaOBD1EMU.exe "$build"/standin/FTD2XX.dll; do
    [ -f "$bin" ] || continue
    checked=$((checked + 1))
    while read -r dll; do
      if ! [[ "$dll" =~ $allowed ]]; then
        echo "FAIL: $bin imports $dll"
        failed=1
      fi
    done < <($arch-w64-mingw32-objdump -p "$bin" | awk '/DLL Name:/ {print $3}')
  done
done
echo "imports checked in $checked binaries"
exit $failed
