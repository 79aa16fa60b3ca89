#!/usr/bin/env bash
# Runs the program on Linux: builds the 64-bit Windows program and starts it under Wine beside
# the FTD2XX.dll stand-in, with one adapter and an answering board. With a display the window
# opens there; without one it runs under Xvfb, waits until the board is found, saves a
# screenshot and says where.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/ensure-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -- -j2 >/dev/null

run="$root/build/run"
rm -rf "$run/out"
mkdir -p "$run/out"
cp build/win64/KestaOBD1EMU.exe build/win64/standin/FTD2XX.dll "$run/"
cat > "$run/scenario.txt" <<'SCENARIO'
# One current adapter; its board answers and holds a test pattern.
output out
adapter
  memory random 1
SCENARIO

export WINEPREFIX="$root/build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export KESTA_SIM_SCENARIO="$(winepath -w "$run/scenario.txt" 2>/dev/null || echo "$run/scenario.txt")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Preparing the Wine prefix (once)..."
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
fi

cd "$run"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "Starting KestaOBD1EMU.exe under Wine on $DISPLAY (close the window to end)."
  wine KestaOBD1EMU.exe
  exit 0
fi

shot="$run/screenshot.png"
rm -f "$shot"
echo "No display: running under Xvfb until the board is found..."
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wine KestaOBD1EMU.exe &
  for _ in $(seq 1 120); do
    grep -q FT_GetComPortNumber out/trace.txt 2>/dev/null && break
    sleep 0.25
  done
  sleep 1
  import -window root "'"$shot"'"
  wineserver -k
' || true
if [ -f "$shot" ]; then
  echo "Board found; the window is in $shot"
else
  echo "No screenshot was taken; see $run/out/trace.txt" >&2
  exit 1
fi
