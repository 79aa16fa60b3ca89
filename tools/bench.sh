#!/usr/bin/env bash
# The benchmark (not a test): the real win64 program under Wine beside the FTD2XX.dll stand-in,
# in real time. Measures idle CPU and take-up and detection latency, and the duration of Erase,
# Read and Write against the wire-time bound on the adapter chip's model, side by side with the
# latency timer left at 16 ms, and runs the full soak (a long session's handles, threads and
# memory per connection); writes docs/benchmark-results.md. Takes about twenty minutes after the
# build. Works as the first command after a clone: it installs and builds what it needs.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/bench"
export WINEPREFIX="$root/build/e2e/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

fail() {
  echo "bench.sh: $*" >&2
  exit 1
}

# Runs a step with its output in a log, and on failure says which step failed and shows the
# end of its output.
step() {
  local what=$1 log
  shift
  log=$(mktemp)
  "$@" >"$log" 2>&1
  local status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 30 "$log" >&2
    rm -f "$log"
    fail "$what failed (exit $status)"
  fi
  rm -f "$log"
}

if [ "${1:-}" != "--inside-xvfb" ]; then
  echo "Installing what is missing, building the win64 program (this takes a while the first time)..."
  step "installing the dependencies (tools/ensure-deps.sh)" bash "$root/tools/ensure-deps.sh"
  cd "$root" || fail "cannot enter $root"
  step "configuring the win64 build (cmake --preset win64)" cmake --preset win64
  step "building the win64 program, stand-in and driver (cmake --build --preset win64)" \
    cmake --build --preset win64 -- -j2
  rm -rf "$out"
  mkdir -p "$out/run" || fail "cannot make $out/run"
  # The tests' prefix, made once (with its parent folders) and with unmanaged windows.
  step "preparing the Wine prefix $WINEPREFIX (tools/wine-prefix.sh)" bash "$root/tools/wine-prefix.sh"
  trap 'wineserver -k 2>/dev/null || true' EXIT
  echo "Running the benchmark under Xvfb..."
  xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-xvfb || fail "the benchmark runs failed (see above)"
  python3 "$root/tools/bench_report.py" "$out" "$root/docs/benchmark-results.md" ||
    fail "writing docs/benchmark-results.md from $out failed (tools/bench_report.py)"
  exit 0
fi

driver="$root/build/win64/e2e_driver.exe"
work=$(winepath -w "$out/run" 2>/dev/null) || fail "winepath cannot name $out/run for Wine"

# CPU time in nanoseconds used so far by all threads of the processes $@ (the first field of
# each thread's schedstat).
cpu_of() {
  local total=0 pid task
  for pid in "$@"; do
    for task in /proc/"$pid"/task/*/schedstat; do
      [ -r "$task" ] && total=$((total + $(cut -d' ' -f1 "$task" 2>/dev/null || echo 0)))
    done
  done
  echo "$total"
}

# Only this run's processes count: other Wine runs may share the machine. The program of run
# folder $1 has its Windows path there as its Linux command line; the prefix's wineserver works
# in the folder Wine names after the prefix's device and inode.
program_pids() {
  local want="$work\\$1\\KestaOBD1EMU.exe" proc first
  for proc in /proc/[0-9]*; do
    first=$( { tr '\0' '\n' < "$proc/cmdline"; } 2>/dev/null | head -n 1)
    [ "$first" = "$want" ] && echo "${proc#/proc/}"
  done
}
server_pids() {
  local folder pid
  folder=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  for pid in $(pgrep -x wineserver64; pgrep -x wineserver); do
    [ "$(basename "$(readlink "/proc/$pid/cwd")")" = "$folder" ] && echo "$pid"
  done
}

# Runs a driver scenario that holds the program still, and measures it for ten seconds.
measure_idle() {
  local name=$1 dir="$out/run/$1"
  wine "$driver" "$name" --work "$work" > "$out/$name.log" 2>&1 &
  local driver_pid=$!
  for _ in $(seq 1 600); do [ -f "$dir/hold-ready" ] && break; sleep 0.1; done
  [ -f "$dir/hold-ready" ] || { cat "$out/$name.log"; fail "$name: the program did not get ready"; }
  local p0 s0 t0 p1 s1 t1 program server
  program=$(program_pids "$name")
  server=$(server_pids)
  [ -n "$program" ] && [ -n "$server" ] || fail "$name: the program's or wineserver's process was not found"
  p0=$(cpu_of $program); s0=$(cpu_of $server); t0=$(date +%s.%N)
  sleep 10
  p1=$(cpu_of $program); s1=$(cpu_of $server); t1=$(date +%s.%N)
  touch "$dir/hold-done"
  wait "$driver_pid" || true
  python3 - "$name" "$p0" "$p1" "$s0" "$s1" "$t0" "$t1" > "$out/$name.result" <<'PY' || fail "$name: cannot compute its CPU shares"
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
for name in bench_operations_timer16 bench_operations bench_detection; do
  if ! wine "$driver" "$name" --work "$work" > "$out/$name.log" 2>&1; then
    cat "$out/$name.log"
    fail "$name failed"
  fi
  echo "$name: done"
done
# The full soak, a long session: its samples go into the report per connection.
if ! wine "$driver" soak --full --work "$work" > "$out/soak.log" 2>&1; then
  cat "$out/soak.log"
  fail "soak failed"
fi
tr -d '\r' < "$out/soak.log" | grep '^soak:'
