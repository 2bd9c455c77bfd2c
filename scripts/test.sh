#!/usr/bin/env bash
# Builds and runs every test: sets up the dependencies, checks the formatting,
# then runs the Linux leg (debug preset, CTest), the hardening leg (the suite
# under AddressSanitizer and UBSan, and a bounded fuzz run of the configuration
# loader) and the Windows leg (cross-built with mingw-w64, run under Wine); then
# builds the Debian package and the Windows zip and checks both. Any failing
# leg fails the run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup-deps.sh
bash scripts/check-format.sh
bash scripts/check-includes.sh

echo "== Linux leg"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default -j "$(nproc)"

echo "== Hardening leg"
bash scripts/test-hardening.sh

echo "== Windows leg"
bash scripts/test-windows.sh

echo "== Packages"
bash scripts/test-packages.sh
