#!/usr/bin/env bash
# Runs the end-to-end scenarios: the real program beside the FTD2XX.dll stand-in, driven by
# e2e_driver.exe under Wine on a virtual X screen, one scenario at a time.
#
#   tools/e2e.sh                  every scenario, against the win64 program (the soak short)
#   tools/e2e.sh erase write      the named ones
#   tools/e2e.sh soak --full      the soak in its full size (300 connections, 100 operations)
#   tools/e2e.sh --win32 [NAMES]  the same scenarios against the 32-bit program users download
#
# The win64 run builds the win64 preset first. Run folders (program, scenario, trace, memory
# dumps) are kept in build/e2e/run/NAME/, a screenshot of each scenario in
# build/e2e/screenshots/NAME.png. The last line says "N passed, M failed"; the exit status is
# non-zero when any failed.
#
# --win32 takes KestaOBD1EMU.exe and the stand-in FTD2XX.dll out of the release archives that
# tools/release.sh builds (reproducibly), so the bytes tested are the bytes shipped, and runs the
# scenarios in the 32-bit runtime of tools/win32-runtime.sh (as root; under qemu where the kernel
# refuses 32-bit code), still driven by the win64 driver; library_other_processor gets the win64
# stand-in. Its folders are build/e2e-win32/, and its last line names the exe's SHA-256:
# "e2e win32 (release exe sha256 ...): N passed, M failed". Closing with a dialog open may take
# E2E_WIN32_TIME_FACTOR (default 2) times the win64 limit there.
#
# E2E_BUILD_DIR=folder takes the binaries from an existing win64 build there instead (no build).
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build="${E2E_BUILD_DIR:-$root/build/win64}"
out="${E2E_OUT:-$root/build/e2e}"
export WINEPREFIX="${E2E_WINEPREFIX:-$out/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# No single scenario needs more than a couple of minutes (the soak more); this only stops a hung
# run.
scenario_timeout=300
soak_timeout=3600

if [ "${1:-}" = "--win32" ]; then
    shift
    exec bash "$root/tools/e2e-win32.sh" "$@"
fi

if [ "${1:-}" != "--inside-xvfb" ]; then
    cleanup() { wineserver -k 2>/dev/null; }
    trap cleanup EXIT INT TERM

    if [ -z "${E2E_BUILD_DIR:-}" ]; then
        if [ ! -f "$build/build.ninja" ]; then
            (cd "$root" && cmake --preset win64 >/dev/null) || { echo "0 passed, 1 failed (configure)"; exit 1; }
        fi
        (cd "$root" && cmake --build --preset win64 --target KestaOBD1EMU ftd2xx_standin planted_library e2e_driver) \
            || { echo "0 passed, 1 failed (build)"; exit 1; }
    fi

    mkdir -p "$out/run" "$out/screenshots"
    bash "$root/tools/wine-prefix.sh" || { echo "0 passed, 1 failed (Wine prefix)"; exit 1; }
    # Large enough for the window at 200 % (about 1074 x 558).
    xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inside-xvfb "$@"
    exit $?
fi
shift

driver="$build/e2e_driver.exe"
work=$(winepath -w "$out/run" 2>/dev/null)
# Other binaries than the win64 build's (the 32-bit release, from tools/e2e-win32.sh).
args=()
[ -n "${E2E_PROGRAM:-}" ] && args+=(--program "$(winepath -w "$E2E_PROGRAM" 2>/dev/null)")
[ -n "${E2E_STANDIN:-}" ] && args+=(--standin "$(winepath -w "$E2E_STANDIN" 2>/dev/null)")
[ -n "${E2E_OTHER_STANDIN:-}" ] && args+=(--other-standin "$(winepath -w "$E2E_OTHER_STANDIN" 2>/dev/null)")
[ -n "${E2E_TIME_FACTOR:-}" ] && args+=(--time-factor "$E2E_TIME_FACTOR")
names=()
for arg in "$@"; do
    if [ "$arg" = --full ]; then args+=(--full); else names+=("$arg"); fi
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
    timeout "$limit" wine "$driver" "$name" --work "$work" "${args[@]+"${args[@]}"}" 2>&1 | tr -d '\r' |
        grep -v '^wine: Read access denied for device'
    status=${PIPESTATUS[0]}
    if [ -f "$out/run/$name/screenshot.bmp" ] && command -v convert >/dev/null; then
        convert "$out/run/$name/screenshot.bmp" "$out/screenshots/$name.png" 2>/dev/null
    fi
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
    else
        [ "$status" -eq 124 ] && echo "TIMEOUT $name after ${limit} s"
        failed=$((failed + 1))
        failures="$failures $name"
        echo "  kept: ${out#"$root"/}/run/$name/ (program, scenario, trace) and ${out#"$root"/}/screenshots/$name.png"
        # Whatever a failed scenario left running must not disturb the next one.
        wineserver -k 2>/dev/null
    fi
done

[ -n "$failures" ] && echo "failed:$failures"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
