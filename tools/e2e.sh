#!/usr/bin/env bash
# Runs the end-to-end scenarios: the win64 program beside the FTD2XX.dll stand-in, driven by
# e2e_driver.exe under Wine on a virtual X screen, one scenario at a time.
#
#   tools/e2e.sh              every scenario (the soak in its short size)
#   tools/e2e.sh erase write  the named ones
#   tools/e2e.sh soak --full  the soak in its full size (300 connections, 100 operations)
#
# Builds the win64 preset first. Run folders (program, scenario, trace, memory dumps) are kept in
# build/e2e/run/NAME/, a screenshot of each scenario in build/e2e/screenshots/NAME.png. The last
# line says "N passed, M failed"; the exit status is non-zero when any failed.
# E2E_BUILD_DIR=folder takes the binaries from an existing win64 build there instead (no build).
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build="${E2E_BUILD_DIR:-$root/build/win64}"
out="$root/build/e2e"
export WINEPREFIX="$out/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# No single scenario needs more than a couple of minutes (the soak more); this only stops a hung
# run.
scenario_timeout=300
soak_timeout=3600

if [ "${1:-}" != "--inside-xvfb" ]; then
    cleanup() { wineserver -k 2>/dev/null; }
    trap cleanup EXIT INT TERM

    if [ -z "${E2E_BUILD_DIR:-}" ]; then
        if [ ! -f "$build/build.ninja" ]; then
            (cd "$root" && cmake --preset win64 >/dev/null) || { echo "0 passed, 1 failed (configure)"; exit 1; }
        fi
        (cd "$root" && cmake --build --preset win64 --target KestaOBD1EMU ftd2xx_standin e2e_driver) \
            || { echo "0 passed, 1 failed (build)"; exit 1; }
    fi

    mkdir -p "$out/run" "$out/screenshots"
    bash "$root/tools/wine-prefix.sh" || { echo "0 passed, 1 failed (Wine prefix)"; exit 1; }
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-xvfb "$@"
    exit $?
fi
shift

driver="$build/e2e_driver.exe"
work=$(winepath -w "$out/run" 2>/dev/null)
size=()
names=()
for arg in "$@"; do
    if [ "$arg" = --full ]; then size=(--full); else names+=("$arg"); fi
done
set -- "${names[@]+"${names[@]}"}"
if [ $# -eq 0 ]; then
    set -- $(wine "$driver" --list | tr -d '\r')
fi

passed=0
failed=0
failures=""
for name in "$@"; do
    rm -f "$out/screenshots/$name.png"
    # Wine's file dialog complains about the Z: drive's volume label; that is not ours.
    limit=$scenario_timeout
    [ "$name" = soak ] && limit=$soak_timeout
    timeout "$limit" wine "$driver" "$name" --work "$work" "${size[@]+"${size[@]}"}" 2>&1 | tr -d '\r' |
        grep -v '^wine: Read access denied for device'
    status=${PIPESTATUS[0]}
    if [ -f "$out/run/$name/screenshot.bmp" ]; then
        convert "$out/run/$name/screenshot.bmp" "$out/screenshots/$name.png" 2>/dev/null
    fi
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
    else
        [ "$status" -eq 124 ] && echo "TIMEOUT $name after ${limit} s"
        failed=$((failed + 1))
        failures="$failures $name"
        echo "  kept: build/e2e/run/$name/ (program, scenario, trace) and build/e2e/screenshots/$name.png"
        # Whatever a failed scenario left running must not disturb the next one.
        wineserver -k 2>/dev/null
    fi
done

[ -n "$failures" ] && echo "failed:$failures"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
