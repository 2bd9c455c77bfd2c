#!/usr/bin/env bash
# The Windows leg: sets up its dependencies, cross-builds logreap.exe and the
# tests with mingw-w64 and runs them under Wine through CTest. Fails, saying
# why, when a dependency cannot be had.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

fail() { printf 'test-windows: error: %s\n' "$*" >&2; exit 1; }

bash scripts/setup-deps.sh || fail "the common dependencies could not be set up"
bash scripts/setup-windows-deps.sh || fail "the Windows dependencies (mingw-w64, wine64, wine64-preloader, googletest, Boost sources) could not be set up"
command -v x86_64-w64-mingw32-g++-posix >/dev/null || fail "x86_64-w64-mingw32-g++-posix not found"
[ -x /usr/lib/wine/wine64 ] || fail "Wine's 64-bit loader /usr/lib/wine/wine64 not found"
[ -x /usr/lib/wine/wine64-preloader ] ||
  fail "Wine's preloader /usr/lib/wine/wine64-preloader not found (without it Wine fails to start now and then)"

cmake --preset windows >/dev/null

# One Wine server for the whole leg, in the build's own prefix, started and
# booted before the build runs the test programs to list their tests: otherwise
# each program may have to start one, and a program that meets a server on its
# way out fails ("wine client error: recvmsg: Connection reset by peer").
export WINEPREFIX="$root/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
/usr/lib/wine/wine64 wineboot >/dev/null 2>&1 || fail "Wine could not start in $WINEPREFIX"

cmake --build --preset windows
ctest --preset windows -j "$(nproc)" --output-junit ctest-junit.xml
