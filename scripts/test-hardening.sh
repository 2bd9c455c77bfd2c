#!/usr/bin/env bash
# Hardening checks: the whole test suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer (preset asan), then the configuration loader's
# libFuzzer target: first on the inputs it once failed on, then for a bounded
# time (LOGREAP_FUZZ_SECONDS, default 60) from the seed corpus. Fails on any
# test failure, crash, hang, leak or sanitizer report.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
fuzz_seconds=${LOGREAP_FUZZ_SECONDS:-60}

# clang 14 and its runtime (libFuzzer) on top of what the build needs.
bash scripts/setup-deps.sh clang-14 libclang-rt-14-dev

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -j "$(nproc)" --output-junit ctest-junit.xml

cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DLOGREAP_WERROR=ON >/dev/null
cmake --build build/fuzz --target config_fuzzer

fuzzer=build/fuzz/config_fuzzer
artifacts=build/fuzz/artifacts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$artifacts"
mkdir -p "$artifacts" "$work/corpus"
options=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/")

report_failure() {
  echo "test-hardening: the fuzz target failed; the input is in $artifacts" >&2
  echo "test-hardening: once fixed, keep it in fuzz/regressions/" >&2
  exit 1
}

echo "test-hardening: replaying fuzz/regressions"
"$fuzzer" "${options[@]}" fuzz/regressions/* 2>"$work/replay.log" ||
  { tail -n 40 "$work/replay.log" >&2; report_failure; }

echo "test-hardening: fuzzing the configuration loader for ${fuzz_seconds}s"
"$fuzzer" "${options[@]}" -dict=fuzz/toml.dict -max_len=8192 -max_total_time="$fuzz_seconds" \
  -print_final_stats=1 "$work/corpus" fuzz/corpus fuzz/regressions 2>"$work/fuzz.log" ||
  { tail -n 60 "$work/fuzz.log" >&2; report_failure; }
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$work/fuzz.log" || true
echo "test-hardening: fuzz target clean"
