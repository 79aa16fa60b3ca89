#!/usr/bin/env bash
# The end-to-end scenarios against the 32-bit program users download (tools/e2e.sh --win32).
#
#   tools/e2e-win32.sh [NAMES]
#
# Builds the release (tools/release.sh, reproducible) and takes KestaOBD1EMU.exe and the stand-in
# FTD2XX.dll out of its archives, so the bytes tested are the bytes shipped. Runs every scenario
# (or the named ones) in the 32-bit runtime of tools/win32-runtime.sh, as root, driven by the
# win64 e2e_driver.exe; library_other_processor gets the win64 stand-in. Run folders and
# screenshots are kept in build/e2e-win32/. The last line reads
# "e2e win32 (release exe sha256 HASH): N passed, M failed".
#
# Under user-mode emulation the program runs several times slower than natively, so the limits
# that measure its own speed (closing with a dialog open, 0.5 s for win64) are multiplied by
# E2E_WIN32_TIME_FACTOR. Every other deadline already leaves Wine room.
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build="${E2E_BUILD_DIR:-$root/build/win64}"
out="$root/build/e2e-win32"
time_factor="${E2E_WIN32_TIME_FACTOR:-2}"

fail() {
  echo "e2e win32: $*"
  echo "e2e win32 (release exe sha256 unknown): 0 passed, 1 failed"
  exit 1
}

if [ -z "${E2E_BUILD_DIR:-}" ]; then
  (cd "$root" && { [ -f "$build/build.ninja" ] || cmake --preset win64 >/dev/null; } &&
    cmake --build --preset win64 --target ftd2xx_standin e2e_driver >/dev/null) ||
    fail "building the win64 driver and stand-in failed"
fi
# The stranger's FTD2XX.dll that two scenarios plant beside the program, for its processor.
(cd "$root" && { [ -f build/win32/build.ninja ] || cmake --preset win32 >/dev/null; } &&
  cmake --build --preset win32 --target planted_library >/dev/null) ||
  fail "building the 32-bit planted library failed"
bash "$root/tools/win32-runtime.sh" || fail "the 32-bit runtime could not be made ready (above)"

echo "== e2e win32: building the release"
(cd "$root" && bash tools/release.sh >/dev/null) || fail "tools/release.sh failed"
version=$(head -n 1 "$root/VERSION" | tr -d '[:space:]')
rm -rf "$out/bin"
mkdir -p "$out/bin/standin" "$out/run" "$out/screenshots"
python3 - "$root/dist" "$version" "$out/bin" <<'EOF' || fail "cannot unpack the release archives"
import sys, zipfile
dist, version, bin = sys.argv[1:]
zipfile.ZipFile(f'{dist}/KestaOBD1EMU-{version}-win32.zip').extract('KestaOBD1EMU.exe', bin)
zipfile.ZipFile(f'{dist}/KestaOBD1EMU-{version}-simulator-win32.zip').extract('FTD2XX.dll', bin + '/standin')
EOF
sha=$(sha256sum "$out/bin/KestaOBD1EMU.exe" | cut -d' ' -f1)
echo "== e2e win32: release exe sha256 $sha, in the 32-bit runtime"

log=$(mktemp)
bash "$root/tools/win32-runtime.sh" run /usr/bin/env \
  E2E_BUILD_DIR="$build" E2E_OUT="$out" E2E_WINEPREFIX=/opt/kesta/wineprefix \
  E2E_PROGRAM="$out/bin/KestaOBD1EMU.exe" E2E_STANDIN="$out/bin/standin/FTD2XX.dll" \
  E2E_OTHER_STANDIN="$build/standin/FTD2XX.dll" E2E_TIME_FACTOR="$time_factor" \
  /bin/bash -c 'xvfb-run -a -s "-screen 0 1280x1024x24" /bin/bash "$1" --inside-xvfb "${@:2}"
                status=$?; wineserver -k 2>/dev/null; exit $status' \
  e2e "$root/tools/e2e.sh" "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}

# The runtime has no ImageMagick: the screenshots are converted here.
for bmp in "$out"/run/*/screenshot.bmp; do
  [ -f "$bmp" ] && convert "$bmp" "$out/screenshots/$(basename "$(dirname "$bmp")").png" 2>/dev/null
done
line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
rm -f "$log"
echo "e2e win32 (release exe sha256 $sha): ${line:-0 passed, 1 failed}"
[ -n "$line" ] && [ "$status" -eq 0 ]
