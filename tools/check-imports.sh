#!/usr/bin/env bash
# Every shipped Windows binary must run alone beside the vendor's DLL, and must not make the
# loader search the program's folder: it may import only Windows' known DLLs (which the loader
# takes from the system folder whatever lies beside the program), comctl32 (bound by the
# manifest from the side-by-side store) and API sets. FTD2XX.dll is loaded at run time, never
# imported; so is UxTheme, from the system folder. Both builds are checked; a missing program
# fails the check.
set -euo pipefail
cd "$(dirname "$0")/.."

shopt -s nocasematch
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|shlwapi|ole32|oleaut32|msvcrt|psapi|imm32|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
failed=0
checked=0
for arch in i686 x86_64; do
  build=build/$([ $arch = i686 ] && echo win32 || echo win64)
  if [ ! -f "$build/KestaOBD1EMU.exe" ]; then
    echo "FAIL: $build/KestaOBD1EMU.exe is missing (build both presets first)"
    failed=1
  fi
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
