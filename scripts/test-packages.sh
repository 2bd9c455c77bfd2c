#!/usr/bin/env bash
# Builds both packages (scripts/package-deb.sh, scripts/package-windows.sh) and
# checks them without installing anything:
# - the zip: its listing, README.txt's line ends, the task definition (UTF-16
#   with a byte-order mark, well-formed, the schedule and the working folder),
#   logreap.exe's version resource and imports, and a run of the zipped
#   logreap.exe under Wine on the demonstration tree;
# - the .deb: its contents and control fields, no maintainer scripts, lintian,
#   systemd-analyze verify on both units, the man page rendered without
#   warnings, and a run of the packaged binary, extracted to a scratch folder,
#   on the demonstration tree;
# - in both runs, log lines whose call sites are relative to the source tree,
#   and no path of the build machine in either binary;
# - a second release build of the same tree in another folder gives the same
#   Linux binary, byte for byte.
# Any failed check fails the run. LOGREAP_KEEP_SCRATCH=1 keeps the scratch folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
started=$SECONDS

say() { printf 'test-packages: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }
failures=0
fail() {
  say "FAILED: $*"
  failures=$((failures + 1))
}
pass() { say "ok: $*"; }
check() { # description, command...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

. "$root/scripts/lib/packaging.sh"
. "$root/scripts/lib/demo-tree.sh"

bash scripts/package-deb.sh || die "scripts/package-deb.sh failed"
bash scripts/package-windows.sh || die "scripts/package-windows.sh failed"

version=$(project_version "$root/build/pkg-release")
arch=$(dpkg --print-architecture)
deb="$root/dist/logreap_${version}_${arch}.deb"
zip="$root/dist/logreap-$version-windows-x64.zip"
[ -f "$deb" ] || die "no $deb"
[ -f "$zip" ] || die "no $zip"

scratch=$(mktemp -d /tmp/logreap-packages.XXXXXX)
wine_server=""
cleanup() {
  if [ -n "$wine_server" ]; then
    WINEPREFIX="$wine_server" /usr/lib/wine/wineserver -k 2>/dev/null || true
  fi
  if [ "${LOGREAP_KEEP_SCRATCH:-0}" = 1 ]; then
    say "the scratch folder stays in $scratch"
  else
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT

# Passes when the command exits with 0 and writes nothing at all: the unit
# checker and man report what is wrong in warnings, with status 0.
check_quiet() { # description, command...
  local what=$1 out status=0
  shift
  out=$("$@" 2>&1) || status=$?
  if [ "$status" -eq 0 ] && [ -z "$out" ]; then
    pass "$what"
  else
    fail "$what (status $status)"
    printf '%s\n' "$out" | sed 's/^/    /' >&2
  fi
}

same_text() { # description, expected, actual
  if [ "$2" = "$3" ]; then
    pass "$1"
  else
    fail "$1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /' >&2 || true
  fi
}

# Runs a demonstration: $1 the tree, $2 the log of the run; the command follows.
# Checks the exit status, what is left of the tree, and the daily log file's
# call sites.
check_demo_run() {
  local demo=$1 what=$2 status=0
  shift 2
  (cd "$demo/work" && "$@") >"$demo/run.out" 2>"$demo/run.err" || status=$?
  if [ "$status" -ne 0 ]; then
    fail "$what: exit status $status"
    sed 's/^/    /' "$demo/run.err" >&2
    return
  fi
  pass "$what: exit status 0"
  check "$what: total time on standard output" grep -q 'Total time: [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9]\{3\}$' "$demo/run.out"
  check "$what: nothing on standard error" test ! -s "$demo/run.err"
  same_text "$what: old files and empty directories gone, the rest kept" \
    "$(demo_tree_expected_after_run)" \
    "$(demo_tree_listing "$demo" | sed 's/logreap_[0-9]\{4\}-[0-9]\{2\}-[0-9]\{2\}\.log$/logreap_YYYY-MM-DD.log/')"
  local log
  log=$(find "$demo/userdata/public/Logs" -name 'logreap_*.log' | head -n 1)
  if [ -z "$log" ]; then
    fail "$what: no daily log file"
    return
  fi
  check "$what: log lines of the run driver name src/logreap/main.cpp" \
    grep -q '\] \[src/logreap/main\.cpp:[0-9]*\] Starting log purge operation' "$log"
  check "$what: log lines of the purge name src/logreap/purge.cpp" \
    grep -q '\] \[src/logreap/purge\.cpp:[0-9]*\] Deleting log file: ' "$log"
  check "$what: every call site relative" \
    test "$(grep -c '\] \[src/logreap/[A-Za-z_]*\.cpp:[0-9]*\] ' "$log")" -eq "$(wc -l <"$log")"
}

say "== the Windows zip"
zipdir="$scratch/zip"
mkdir -p "$zipdir"
(cd "$zipdir" && unzip -q "$zip")
top="logreap-$version-windows-x64"
same_text "zip listing" \
  "$(printf '%s\n' "$top/README.txt" "$top/config.toml" "$top/logreap-task.xml" "$top/logreap.exe")" \
  "$(unzip -Z1 "$zip" | LC_ALL=C sort)"
w="$zipdir/$top"
check "config.toml is the example configuration" cmp -s "$w/config.toml" config/config.toml
check "README.txt has CRLF line ends only" \
  test "$(wc -l <"$w/README.txt")" -eq "$(grep -c $'\r$' "$w/README.txt")"
check "README.txt names the version" grep -q "logreap $version for Windows" "$w/README.txt"

task="$w/logreap-task.xml"
check "logreap-task.xml begins with the UTF-16 little-endian byte-order mark" \
  test "$(head -c 2 "$task" | od -An -tx1 | tr -d ' ')" = fffe
check "logreap-task.xml is valid UTF-16" bash -c "iconv -f UTF-16 -t UTF-8 '$task' >/dev/null"
check "logreap-task.xml declares UTF-16" bash -c \
  "iconv -f UTF-16 -t UTF-8 '$task' | head -n 1 | grep -q 'encoding=\"UTF-16\"'"
check "logreap-task.xml is well-formed" xmllint --noout "$task"
xpath() { xmllint --xpath "string(//*[local-name()='$1'])" "$task" 2>/dev/null; }
same_text "task: daily at 02:30" "T02:30:00 1" "$(xpath StartBoundary | grep -o 'T[0-9:]*$') $(xpath DaysInterval)"
same_text "task: runs whether logged on or not" Password "$(xpath LogonType)"
check "task: a stop-after limit" bash -c "[[ '$(xpath ExecutionTimeLimit)' =~ ^PT[0-9]+[HM]$ ]]"
same_text "task: no restart loop" 0 "$(xmllint --xpath "count(//*[local-name()='RestartOnFailure'])" "$task")"
command=$(xpath Command)
command=${command//\"/}
same_text "task: started in the program's own folder (so ..\\config\\config.toml resolves)" \
  "${command%\\logreap.exe}" "$(xpath WorkingDirectory)"

exe="$w/logreap.exe"
check "logreap.exe is a 64-bit Windows console program" bash -c "file -b '$exe' | grep -q 'PE32+ executable (console) x86-64'"
resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null || true)
IFS=. read -r major minor patch <<<"$version"
for expected in "FILEVERSION $major, $minor, $patch, 0" "PRODUCTVERSION $major, $minor, $patch, 0" \
  "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
  'VALUE "ProductName", "logreap"' 'VALUE "CompanyName", "Norvane"' 'VALUE "FileDescription", "' \
  'VALUE "Translation", 0x409, 1200' 'level=""asInvoker""'; do
  check "logreap.exe resources: $expected" grep -qF "$expected" <<<"$resources"
done
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | LC_ALL=C sort)
check "logreap.exe needs only system DLLs (runtime linked in)" \
  bash -c "! grep -qE 'libstdc|libgcc|libwinpthread|libfmt|libspdlog|boost' <<<'$imports'"
check "no path of the build machine in logreap.exe" bash -c "! grep -qaF '$root' '$exe'"

if [ -x /usr/lib/wine/wine64 ]; then
  # A Wine prefix of its own, one server for its runs.
  export WINEPREFIX="$scratch/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wineserver -p
  wine_server=$WINEPREFIX
  if /usr/lib/wine/wine64 wineboot >/dev/null 2>&1; then
    demo="$scratch/demo-windows"
    make_demo_tree "$demo" "$w/config.toml" "Z:$demo"
    cp "$exe" "$demo/work/logreap.exe"
    check_demo_run "$demo" "zipped logreap.exe under Wine" /usr/lib/wine/wine64 logreap.exe
  else
    fail "Wine could not start in $WINEPREFIX"
  fi
else
  fail "Wine's 64-bit loader /usr/lib/wine/wine64 not found (scripts/setup-windows-deps.sh installs it)"
fi

say "== the Debian package"
same_text "deb contents" "$(cat <<LISTING
./
./lib/
./lib/systemd/
./lib/systemd/system/
./lib/systemd/system/logreap.service
./lib/systemd/system/logreap.timer
./usr/
./usr/bin/
./usr/bin/logreap
./usr/share/
./usr/share/doc/
./usr/share/doc/logreap/
./usr/share/doc/logreap/changelog.gz
./usr/share/doc/logreap/copyright
./usr/share/doc/logreap/examples/
./usr/share/doc/logreap/examples/config.toml
./usr/share/man/
./usr/share/man/man1/
./usr/share/man/man1/logreap.1.gz
LISTING
)" "$(dpkg-deb -c "$deb" | awk '{print $NF}' | LC_ALL=C sort)"
same_text "deb control: package, version, architecture" "logreap $version $arch" \
  "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version) $(dpkg-deb -f "$deb" Architecture)"
depends=$(dpkg-deb -f "$deb" Depends)
check "deb control: computed dependencies on the C and C++ runtimes ($depends)" \
  bash -c "grep -q 'libc6 (>= ' <<<'$depends' && grep -q 'libstdc++6 (>= ' <<<'$depends'"
same_text "deb control: no maintainer scripts (the units stay disabled)" "./
./control
./md5sums" "$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | LC_ALL=C sort)"

lintian_out=$(lintian --fail-on error,warning "$deb" 2>&1) && lintian_status=0 || lintian_status=$?
lintian_out=$(grep -v 'running with root privileges' <<<"$lintian_out" || true)
if [ "$lintian_status" -eq 0 ]; then
  pass "lintian${lintian_out:+ (with: $lintian_out)}"
else
  fail "lintian"
  printf '%s\n' "$lintian_out" | sed 's/^/    /' >&2
fi

ext="$scratch/deb"
dpkg-deb -x "$deb" "$ext"
# The units verified in a root of their own that holds the package and the
# system's units, so that the command and the man page they name are the
# package's; any diagnostic counts.
verify_root="$scratch/verify-root"
mkdir -p "$verify_root/lib/systemd/system"
cp -a /lib/systemd/system/. "$verify_root/lib/systemd/system/"
cp -a "$ext/." "$verify_root/"
check_quiet "systemd-analyze verify logreap.service logreap.timer" \
  env MANPATH="$verify_root/usr/share/man" systemd-analyze --root="$verify_root" verify \
  "$verify_root/lib/systemd/system/logreap.service" "$verify_root/lib/systemd/system/logreap.timer"
service="$ext/lib/systemd/system/logreap.service"
check "logreap.service: oneshot, reading /etc/norvane/config.toml" bash -c \
  "grep -qx 'Type=oneshot' '$service' && grep -qx 'ExecStart=/usr/bin/logreap --config /etc/norvane/config.toml' '$service'"
check "logreap.timer: persistent" grep -qx 'Persistent=true' "$ext/lib/systemd/system/logreap.timer"

check_quiet "man --warnings -l logreap.1.gz (the page itself discarded)" \
  sh -c 'LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$1" >/dev/null' man "$ext/usr/share/man/man1/logreap.1.gz"

tool="$ext/usr/bin/logreap"
help_status=0
help=$("$tool" --help) || help_status=$?
same_text "packaged logreap --help" "0 usage: logreap [-h] [--config PATH]" "$help_status $(head -n 1 <<<"$help")"
demo="$scratch/demo-linux"
make_demo_tree "$demo" "$ext/usr/share/doc/logreap/examples/config.toml"
check_demo_run "$demo" "packaged logreap" "$tool"
check "no path of the build machine in the packaged binary" bash -c "! grep -qaF '$root' '$tool'"

say "== reproducible Linux build"
# The same tree (the working tree as it is, and its fetched dependencies) in a
# folder of another name and depth.
copy="$scratch/elsewhere/deeper/logreap-copy"
mkdir -p "$copy"
git ls-files -z -co --exclude-standard | while IFS= read -r -d '' f; do
  if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
done | tar -c --null -T - | tar -x -C "$copy"
cp -a .deps "$copy/.deps"
build_linux_release "$copy" "$copy/build/pkg-release"
check "two release builds in different folders give the same binary" \
  cmp "$root/build/pkg-release/src/logreap/logreap" "$copy/build/pkg-release/src/logreap/logreap"

say "deb: $deb ($(stat -c %s "$deb") bytes); zip: $zip ($(stat -c %s "$zip") bytes)"
say "took $((SECONDS - started)) s"
if [ "$failures" -ne 0 ]; then
  say "$failures check(s) failed"
  exit 1
fi
say "all checks passed"
