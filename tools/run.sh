#!/usr/bin/env bash
# Runs the program on Linux: builds the 64-bit Windows program and starts it under Wine beside
# the FTD2XX.dll stand-in, with one adapter and an answering board. With a display the window
# opens there; without one it runs under Xvfb, waits until the board is found, saves a
# screenshot and says where.
#
#   tools/run.sh           the 64-bit program, under the host's Wine
#   tools/run.sh --win32   the 32-bit program (the one users get), in the 32-bit runtime of
#                          tools/win32-runtime.sh (as root; the first time takes some minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

preset=win64
[ "${1:-}" = "--win32" ] && preset=win32

bash tools/ensure-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target KestaOBD1EMU ftd2xx_standin -- -j2 >/dev/null

run="$root/build/run"
[ "$preset" = win32 ] && run="$root/build/run-win32"
rm -rf "$run/out"
mkdir -p "$run/out"
cp "build/$preset/KestaOBD1EMU.exe" "build/$preset/standin/FTD2XX.dll" "$run/"
cat > "$run/scenario.txt" <<'SCENARIO'
# One current adapter; its board answers and holds a test pattern.
output out
adapter
  memory random 1
SCENARIO

if [ "$preset" = win32 ]; then
  bash tools/win32-runtime.sh
  scenario="Z:$(echo "$run/scenario.txt" | tr / '\\')"
  shot="$run/screenshot.png"
  rm -f "$shot" "$run/screenshot.xwd"
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Starting the 32-bit KestaOBD1EMU.exe on $DISPLAY (close the window to end)."
    KESTA_WIN32_DISPLAY=1 bash tools/win32-runtime.sh run /usr/bin/env DISPLAY="$DISPLAY" \
      XAUTHORITY=/tmp/xauthority KESTA_SIM_SCENARIO="$scenario" \
      /bin/bash -c 'cd "$1" && wine KestaOBD1EMU.exe' run "$run"
    exit 0
  fi
  echo "No display: running the 32-bit program under Xvfb in the 32-bit runtime until the board is found..."
  bash tools/win32-runtime.sh run /usr/bin/env KESTA_SIM_SCENARIO="$scenario" \
    xvfb-run -a -s "-screen 0 1024x768x24" /bin/bash -c '
      cd "$1" && wine KestaOBD1EMU.exe &
      for _ in $(seq 1 240); do
        grep -q FT_GetComPortNumber "$1/out/trace.txt" 2>/dev/null && break
        sleep 0.25
      done
      sleep 1
      xwd -root -silent >"$1/screenshot.xwd"
      wineserver -k' run "$run" || true
  [ -f "$run/screenshot.xwd" ] && convert "$run/screenshot.xwd" "$shot" 2>/dev/null
  if [ -f "$shot" ]; then
    echo "Board found; the window is in $shot"
  else
    echo "No screenshot was taken; see $run/out/trace.txt" >&2
    exit 1
  fi
  exit 0
fi

export WINEPREFIX="$root/build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export KESTA_SIM_SCENARIO="$(winepath -w "$run/scenario.txt" 2>/dev/null || echo "$run/scenario.txt")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Preparing the Wine prefix (once)..."
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
fi
# Wine draws the caption buttons with Marlett, which it finds only in the prefix's Fonts folder.
if [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] && [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts" && cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
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
