#!/usr/bin/env bash
# Builds and runs every test: sets up the dependencies, checks the formatting,
# builds the debug preset and runs CTest.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup-deps.sh
bash scripts/check-format.sh

cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default -j "$(nproc)"
