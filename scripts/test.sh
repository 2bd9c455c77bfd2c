#!/usr/bin/env bash
# Builds and runs every test: sets up the dependencies, checks the formatting,
# then runs the Linux leg (debug preset, CTest), the hardening leg (the suite
# under AddressSanitizer and UBSan, and a bounded fuzz run of the configuration
# loader) and the Windows leg (cross-built with mingw-w64, run under Wine); then
# builds the Debian package and the Windows zip and checks both.
#
# Every leg runs even when an earlier one failed. The run ends with one line per
# leg, "<leg>: N passed, N failed, N skipped" (the CTest cases of the three test
# legs, the checks of the packages), the time taken, and a last line with the
# totals; it fails if any leg failed. A leg that failed outside its tests (a
# build, the fuzz run, a dependency) counts as one failure more.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
started=$SECONDS

bash scripts/setup-deps.sh
bash scripts/check-format.sh
bash scripts/check-includes.sh

summary=()
notes=()
total_passed=0 total_failed=0 total_skipped=0
failed_legs=0

# Adds a leg to the summary: name, exit status, passed, failed, skipped.
record() {
  local leg=$1 status=$2 passed=$3 failed=$4 skipped=$5
  if [ "$status" -ne 0 ]; then
    failed_legs=$((failed_legs + 1))
    if [ "$failed" -eq 0 ]; then
      failed=1
      notes+=("$leg: the leg failed (exit status $status) outside its tests; see its output above")
    fi
  fi
  summary+=("$leg: $passed passed, $failed failed, $skipped skipped")
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  total_skipped=$((total_skipped + skipped))
}

# Counts "passed failed skipped" of a CTest run from its JUnit report (written by
# ctest --output-junit); all zero if there is none, the leg having stopped
# before its tests.
junit_counts() {
  local report=$1
  [ -f "$report" ] || { echo 0 0 0; return; }
  local tests failures disabled skipped
  tests=$(sed -n 's/^[[:space:]]*tests="\([0-9]*\)".*/\1/p' "$report" | head -n 1)
  failures=$(sed -n 's/^[[:space:]]*failures="\([0-9]*\)".*/\1/p' "$report" | head -n 1)
  disabled=$(sed -n 's/^[[:space:]]*disabled="\([0-9]*\)".*/\1/p' "$report" | head -n 1)
  skipped=$(sed -n 's/^[[:space:]]*skipped="\([0-9]*\)".*/\1/p' "$report" | head -n 1)
  skipped=$((${skipped:-0} + ${disabled:-0}))
  echo "$((${tests:-0} - ${failures:-0} - skipped)) ${failures:-0} $skipped"
}

# Runs a CTest leg: name, its JUnit report, then the command.
ctest_leg() {
  local leg=$1 report=$2 status=0
  shift 2
  rm -f "$report"
  "$@" || status=$?
  # shellcheck disable=SC2046
  record "$leg" "$status" $(junit_counts "$report")
}

linux_leg() {
  cmake --preset default >/dev/null &&
    cmake --build --preset default &&
    ctest --preset default -j "$(nproc)" --output-junit ctest-junit.xml
}

echo "== Linux leg"
ctest_leg linux build/default/ctest-junit.xml linux_leg

echo "== Hardening leg"
ctest_leg hardening build/asan/ctest-junit.xml bash scripts/test-hardening.sh

echo "== Windows leg"
ctest_leg windows build/windows/ctest-junit.xml bash scripts/test-windows.sh

# The package checks report each check on a line of their own.
echo "== Packages"
mkdir -p build
packages_log=build/test-packages.log
status=0
bash scripts/test-packages.sh 2>&1 | tee "$packages_log" || status=$?
record packages "$status" "$(grep -c '^test-packages: ok: ' "$packages_log" || true)" \
  "$(grep -c '^test-packages: FAILED: ' "$packages_log" || true)" 0

elapsed=$((SECONDS - started))
echo "== Summary"
for note in "${notes[@]}"; do
  echo "$note"
done
printf '%s\n' "${summary[@]}"
printf 'took %d min %02d s\n' $((elapsed / 60)) $((elapsed % 60))
echo "total: $total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$failed_legs" -eq 0 ]
