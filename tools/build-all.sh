#!/usr/bin/env bash
# Configures and builds the three presets: native (core, simulator, unit tests), win32 (the
# shipped program) and win64 (the program, the FTD2XX.dll stand-in and the GUI test driver).
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in native win32 win64; do
  echo "== build $preset"
  cmake --preset "$preset" -DKESTA_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -- -j2
done
