#!/usr/bin/env bash
# Makes the Wine prefix named by $WINEPREFIX ready for the program's tests and benchmark, once:
# created without Mono or Gecko prompts, and with unmanaged windows. Without a window manager
# (Xvfb) Wine otherwise waits up to 2 s whenever it hides a window, so every file dialog and
# message box would hand back 2 s late and hide the program's own close and take-up times. Wine
# draws the caption buttons with the Marlett font and does not find Debian's copy (fonts-wine) by
# itself: without one in the prefix's Fonts folder they come out as the letters "0 1 r".
# Says what failed, and exits non-zero, when a step fails.
set -u
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")" || { echo "wine-prefix: cannot make the folder of $WINEPREFIX"; exit 1; }
  if ! wineboot --init >/dev/null 2>&1; then
    echo "wine-prefix: 'wineboot --init' failed for $WINEPREFIX"
    exit 1
  fi
  wineserver -w
fi
if ! grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  if ! wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1; then
    echo "wine-prefix: could not make the windows of $WINEPREFIX unmanaged"
    exit 1
  fi
  wineserver -w
fi
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ ! -f "$fonts/marlett.ttf" ]; then
  marlett=/usr/share/wine/fonts/marlett.ttf
  [ -f "$marlett" ] || marlett=$(dpkg -L fonts-wine 2>/dev/null | grep -i '/marlett\.ttf$' | head -n 1)
  if [ -z "$marlett" ] || [ ! -f "$marlett" ]; then
    echo "wine-prefix: no marlett.ttf to give $WINEPREFIX (Debian's fonts-wine has it)"
    exit 1
  fi
  if ! { mkdir -p "$fonts" && cp "$marlett" "$fonts/marlett.ttf"; }; then
    echo "wine-prefix: cannot copy $marlett into $fonts"
    exit 1
  fi
fi
exit 0
