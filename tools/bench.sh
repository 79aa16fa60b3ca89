#!/usr/bin/env bash
# The benchmark (not a test): the real win64 program under Wine beside the FTD2XX.dll stand-in,
# in real time with the wire modelled at 115200 baud. Measures idle CPU, take-up and detection
# latency and the duration of Erase, Read and Write against the wire-time bound, and writes
# docs/benchmark-results.md. Takes about three minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/bench"
export WINEPREFIX="$root/build/e2e/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ "${1:-}" != "--inside-xvfb" ]; then
  bash "$root/tools/ensure-deps.sh"
  (cd "$root" && cmake --preset win64 >/dev/null && cmake --build --preset win64 -- -j2 >/dev/null)
  rm -rf "$out"
  mkdir -p "$out/run"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1
    wineserver -w
  fi
  trap 'wineserver -k 2>/dev/null || true' EXIT
  xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-xvfb
  python3 "$root/tools/bench_report.py" "$out" "$root/docs/benchmark-results.md"
  exit 0
fi

driver="$root/build/win64/e2e_driver.exe"
work=$(winepath -w "$out/run")

# CPU time in nanoseconds used so far by all threads of the processes whose command line
# matches $1 (the first field of each thread's schedstat).
cpu_of() {
  local total=0 pid task
  for pid in $(pgrep -f "$1" || true); do
    for task in /proc/"$pid"/task/*/schedstat; do
      [ -r "$task" ] && total=$((total + $(cut -d' ' -f1 "$task" 2>/dev/null || echo 0)))
    done
  done
  echo "$total"
}

# Runs a driver scenario that holds the program still, and measures it for ten seconds.
measure_idle() {
  local name=$1 dir="$out/run/$1"
  wine "$driver" "$name" --work "$work" > "$out/$name.log" 2>&1 &
  local driver_pid=$!
  for _ in $(seq 1 600); do [ -f "$dir/hold-ready" ] && break; sleep 0.1; done
  [ -f "$dir/hold-ready" ] || { echo "$name: the program did not get ready"; cat "$out/$name.log"; exit 1; }
  local p0 s0 t0 p1 s1 t1
  p0=$(cpu_of KestaOBD1EMU.exe); s0=$(cpu_of wineserver); t0=$(date +%s.%N)
  sleep 10
  p1=$(cpu_of KestaOBD1EMU.exe); s1=$(cpu_of wineserver); t1=$(date +%s.%N)
  touch "$dir/hold-done"
  wait "$driver_pid" || true
  python3 - "$name" "$p0" "$p1" "$s0" "$s1" "$t0" "$t1" > "$out/$name.result" <<'PY'
import sys
name, p0, p1, s0, s1, t0, t1 = sys.argv[1], *map(float, sys.argv[2:])
wall = t1 - t0
print("program_cpu_share %.5f" % ((p1 - p0) / 1e9 / wall))
print("wineserver_cpu_share %.5f" % ((s1 - s0) / 1e9 / wall))
print("wall_seconds %.2f" % wall)
PY
  echo "$name: $(tr '\n' ' ' < "$out/$name.result")"
}

measure_idle bench_idle_wait
measure_idle bench_idle_search
for name in bench_operations bench_detection; do
  if ! wine "$driver" "$name" --work "$work" > "$out/$name.log" 2>&1; then
    echo "$name failed:"; cat "$out/$name.log"; exit 1
  fi
  echo "$name: done"
done
