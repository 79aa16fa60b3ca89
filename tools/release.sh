#!/usr/bin/env bash
# Builds the release from a clean build folder of its own (build/release; the developer's
# build/win32 is left alone) and writes into dist/:
#   KestaOBD1EMU-<version>-win32.zip            the 32-bit program and its README.txt
#   KestaOBD1EMU-<version>-simulator-win32.zip  the FTD2XX.dll stand-in and its README.txt
#   SHA256SUMS                                  both archives' SHA-256
# Two runs from the same commit give the same bytes, in any folder and at any time: the linker
# writes no time stamps, the compiler sees source paths relative to the checkout, the binaries
# carry no symbols, and the archives take every entry's time from the commit (SOURCE_DATE_EPOCH,
# when set, takes its place).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

fail() { echo "release: $*" >&2; exit 1; }

bash tools/ensure-deps.sh || fail "installing the build tools failed"

version=$(head -n 1 VERSION | tr -d '[:space:]')
[ -n "$version" ] || fail "VERSION is empty"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    fail "not a git checkout: set SOURCE_DATE_EPOCH to the commit's time (git log -1 --format=%ct)"
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "release: warning: the working tree has uncommitted changes; this release is not the commit's" >&2
  fi
fi
export SOURCE_DATE_EPOCH

build=build/release
rm -rf "$build" dist
no_paths="-ffile-prefix-map=$root/="
no_stamps="-s -Wl,--no-insert-timestamp"
echo "== release $version: build in $build"
mkdir -p "$build"
log="$build/build.log"
if ! { cmake --preset win32 -B "$build" -DKESTA_WERROR=ON \
         -DCMAKE_C_FLAGS="$no_paths" -DCMAKE_CXX_FLAGS="$no_paths" \
         -DCMAKE_EXE_LINKER_FLAGS="$no_stamps" -DCMAKE_SHARED_LINKER_FLAGS="$no_stamps" &&
       cmake --build "$build" --target KestaOBD1EMU ftd2xx_standin -- -j2; } >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  fail "the build failed (whole log: $log)"
fi

echo "== release $version: dist/"
python3 tools/release/pack.py "$build" dist "$version" "$SOURCE_DATE_EPOCH" ||
  fail "packing the archives failed"
