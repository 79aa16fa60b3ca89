#!/usr/bin/env bash
# Runs every test: installs what is missing, builds all three presets with warnings as errors,
# runs the native unit tests (AddressSanitizer/UBSan and ThreadSanitizer suites) and the seeded
# fault campaign, checks the Windows binaries' imports, the program's resources, the rule for
# its GDI objects and that its layers' includes point down, builds the release twice and
# compares the two, and runs the end-to-end scenarios of the real program under Wine (the soak
# among them, in its short size): the win64 build, and the 32-bit release exe in the 32-bit
# runtime (tools/win32-runtime.sh; needs root).
# KESTA_SKIP_WIN32=1 skips the 32-bit stage on purpose.
set -uo pipefail
cd "$(dirname "$0")/.."

bash tools/ensure-deps.sh || exit 1

# The 32-bit runtime is made (or found ready) in the background while the rest builds and runs:
# making it is mostly downloading.
win32_prep=""
if [ -z "${KESTA_SKIP_WIN32:-}" ]; then
  mkdir -p build
  bash tools/win32-runtime.sh >build/win32-runtime.log 2>&1 &
  win32_prep=$!
fi

bash tools/build-all.sh || { echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0

echo "== native unit tests"
ctest_log=$(mktemp)
# Passing tests are counted, not listed. The campaign runs on its own below.
ctest --preset native -j2 -E '^Campaign$' 2>&1 | tee "$ctest_log" |
  grep -v -E '^ *(Start +[0-9]+:|[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed)' || true
if summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$ctest_log"); then
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
else
  failed=$((failed + 1))
fi
rm -f "$ctest_log"

# Apart from ctest, which shows nothing of a test that passes: its one line says how many worlds
# ran and from which fresh seeds (a failing world is printed with its replay command).
echo "== fault campaign (random hostile worlds in virtual time)"
campaign_log=$(mktemp)
build/native/kesta_campaign 2>&1 | tee "$campaign_log"
if [ "${PIPESTATUS[0]}" -eq 0 ] && grep -qE '^campaign: [0-9]+ worlds, 0 violations' "$campaign_log"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi
rm -f "$campaign_log"

echo "== imports of the Windows binaries"
if bash tools/check-imports.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo "== resources of the program"
if python3 tests/resources/check_resources.py build/win32/KestaOBD1EMU.exe build/win64/KestaOBD1EMU.exe; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

echo "== GDI objects made only while the window is set up (a rule over app/)"
if python3 tests/sources/check_gdi_objects.py; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo "== layers (link/ < protocol/ < worker/ < app/; sim/ sees only link/d2xx.h)"
if python3 tests/sources/check_layers.py; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo "== release (built twice, compared byte for byte)"
if python3 tests/release/check_release.py; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

# Adds the counts of the last "N passed, M failed" in $1 (none: one failure) and prints it.
count_e2e() {
  local label=$1 log=$2 line
  if line=$(grep -E '[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1); then
    line=$(grep -oE '[0-9]+ passed, [0-9]+ failed$' <<<"$line")
    passed=$((passed + $(sed -E 's/^([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")))
  else
    line="0 passed, 1 failed"
    failed=$((failed + 1))
  fi
  summary+=("$label: $line")
}
summary=()

# The two end-to-end runs go side by side: both spend most of their time waiting on the
# program's own pauses, and each has its own Wine, prefix and X screen. The 32-bit run's output
# is shown once it is done.
e2e_log=$(mktemp)
win32_log=$(mktemp)
win32_run=""
win32_ready=""
if [ -n "$win32_prep" ]; then
  if wait "$win32_prep"; then
    win32_ready=1
    E2E_BUILD_DIR="$(pwd)/build/win64" bash tools/e2e.sh --win32 >"$win32_log" 2>&1 &
    win32_run=$!
  fi
fi

echo "== end-to-end scenarios (win64 program under Wine)"
bash tools/e2e.sh 2>&1 | tee "$e2e_log"
count_e2e "e2e win64" "$e2e_log"

if [ -n "$win32_prep" ]; then
  echo "== end-to-end scenarios (32-bit release program in the 32-bit runtime)"
  cat build/win32-runtime.log
  if [ -n "$win32_ready" ]; then
    wait "$win32_run"
    cat "$win32_log"
    label=$(grep -oE '^e2e win32 \(release exe sha256 [0-9a-f]+\)' "$win32_log" | tail -n 1)
    count_e2e "${label:-e2e win32}" "$win32_log"
  else
    echo "The 32-bit runtime could not be made ready (above), so the 32-bit program was not tested."
    echo "To skip this stage on purpose, run with KESTA_SKIP_WIN32=1."
    failed=$((failed + 1))
    summary+=("e2e win32: not run, 1 failed")
  fi
else
  echo "== end-to-end scenarios of the 32-bit program: skipped on purpose (KESTA_SKIP_WIN32 is set)"
fi
rm -f "$e2e_log" "$win32_log"

echo
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
