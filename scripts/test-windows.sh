#!/usr/bin/env bash
# The Windows leg: sets up its dependencies, cross-builds logreap.exe and the
# tests with mingw-w64 and runs them under Wine through CTest. Fails, saying
# why, when a dependency cannot be had.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

fail() { printf 'test-windows: error: %s\n' "$*" >&2; exit 1; }

bash scripts/setup-deps.sh || fail "the common dependencies could not be set up"
bash scripts/setup-windows-deps.sh || fail "the Windows dependencies (mingw-w64, wine64, googletest, Boost sources) could not be set up"
command -v x86_64-w64-mingw32-g++-posix >/dev/null || fail "x86_64-w64-mingw32-g++-posix not found"
[ -x /usr/lib/wine/wine64 ] || fail "Wine's 64-bit loader /usr/lib/wine/wine64 not found"

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows -j "$(nproc)"
