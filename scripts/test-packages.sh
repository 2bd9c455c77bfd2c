#!/usr/bin/env bash
# Builds both packages (scripts/package-deb.sh, scripts/package-windows.sh) and
# checks them without installing anything:
# - the zip: its listing, the line ends of its texts, the third-party notices
#   with the versions dist/VERSIONS names, the task definition (UTF-16 with a
#   byte-order mark, well-formed, the schedule and its random delay, the
#   account without a stored password, the working folder), logreap.exe's
#   version resource and imports, a run of the zipped logreap.exe under Wine
#   on the demonstration tree, and failed runs that report their error text
#   to the event log (as far as Wine shows it) with the console output
#   unchanged;
# - the .deb: its contents and control fields, the maintainer scripts of
#   debhelper (reload on upgrade, stop on removal, clean-up on purge, never an
#   enable or a start), the notices in the copyright file with the versions
#   dist/VERSIONS names, lintian at pedantic level, systemd-analyze verify on
#   both units and on the example failure-alert unit and security on the
#   service, the service's refusal to start without a named account, the
#   writable trees, the man page rendered without warnings, every OnFailure=
#   it shows naming the example unit, and a run of the packaged binary,
#   extracted to a scratch folder, on the demonstration tree;
# - the timer and the task: the same time and delay, outside the hours in
#   which any zone of Europe or the Americas changes its clocks;
# - in both runs, log lines whose call sites are relative to the source tree,
#   and no path of the build machine in either binary;
# - SHA256SUMS beside the packages, over them, the .deb's .buildinfo (which
#   names the .deb's checksum) and VERSIONS;
# - both package scripts run on a copy of the tree in another folder give the
#   same .deb and the same zip, byte for byte;
# - the optional signing steps sign logreap.exe with the certificate given and
#   SHA256SUMS with the OpenPGP key given (both throwaway ones).
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

# One time stamp for every build here, the copy's included (it is no git tree).
SOURCE_DATE_EPOCH=$(source_date_epoch "$root")
export SOURCE_DATE_EPOCH

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
gnupg="$scratch/signing/gnupg"
cleanup() {
  if [ -n "$wine_server" ]; then
    WINEPREFIX="$wine_server" /usr/lib/wine/wineserver -k 2>/dev/null || true
  fi
  if [ -d "$gnupg" ]; then
    gpgconf --homedir "$gnupg" --kill gpg-agent 2>/dev/null || true
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

# The libraries dist/VERSIONS names for the package file $1, as
# checked_built_libraries gives them, and whether they are those with notices
# for the package kind $2.
versions_of() { awk -v p="$1" '$1 == p { print $2, $3, $4 }' "$root/dist/VERSIONS"; }
check_versions_listed() { # package file, kind
  same_text "dist/VERSIONS: a version for each library with a notice in the $2 package" \
    "$(for notice in $(notice_files "$root" "$2"); do notice_id "$notice"; done)" \
    "$(versions_of "$1" | cut -d' ' -f1)"
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
  check "$what: log lines of the purge name src/logreap/Purge.cpp" \
    grep -q '\] \[src/logreap/Purge\.cpp:[0-9]*\] Deleting log file: ' "$log"
  check "$what: every call site relative" \
    test "$(grep -c '\] \[src/logreap/[A-Za-z_]*\.cpp:[0-9]*\] ' "$log")" -eq "$(wc -l <"$log")"
}

# Failed runs of the zipped logreap.exe ($1) under Wine: the console output as
# ever, and the error text reported as an error event (type 0x0001) whose ID is
# the exit status; a run that succeeds reports nothing. Wine's event log is a
# stub that writes the call to its "advapi" debug channel and the event's text
# to its "eventlog" channel: that is all it can show of the event.
check_event_reports() {
  local dir="$scratch/failed-windows" row want arg first second status id
  mkdir -p "$dir"
  cp "$1" "$dir/logreap.exe"
  for row in "2|--config=missing.toml|logreap: error: |" \
    "1|--bogus|Command line error: |Run logreap --help for usage information" "0|--help||"; do
    IFS='|' read -r want arg first second <<<"$row"
    status=0
    (cd "$dir" && /usr/lib/wine/wine64 logreap.exe "$arg") >"$dir/out" 2>"$dir/err" || status=$?
    tr -d '\r' <"$dir/err" >"$dir/err.txt"
    if [ "$want" = 0 ]; then
      same_text "logreap.exe $arg: status 0, nothing on standard error" "0 0" "$status $(wc -c <"$dir/err.txt")"
    else
      same_text "logreap.exe $arg: status $want, standard error as ever" \
        "$want $((${#second} ? 2 : 1)) $first ${second:-}" \
        "$status $(wc -l <"$dir/err.txt") $(head -n 1 "$dir/err.txt" | cut -c1-${#first}) $(sed -n 2p "$dir/err.txt")"
    fi
    (cd "$dir" && WINEDEBUG=-all,err+eventlog,fixme+advapi /usr/lib/wine/wine64 logreap.exe "$arg") \
      >/dev/null 2>"$dir/debug" || true
    id=$(printf '0x%08x' "$want")
    if [ "$want" = 0 ]; then
      check "logreap.exe $arg: no event reported" bash -c "! grep -q ReportEventW '$dir/debug'"
    else
      check "logreap.exe $arg: an error event with ID $want (Wine's advapi channel)" \
        grep -q "ReportEventW ([^,]*,0x0001,0x0000,$id," "$dir/debug"
      check "logreap.exe $arg: its text is standard error's (Wine's eventlog channel)" \
        grep -qF "err:eventlog:ReportEventW L\"$first" "$dir/debug"
    fi
  done
}

say "== the Windows zip"
zipdir="$scratch/zip"
mkdir -p "$zipdir"
(cd "$zipdir" && unzip -q "$zip")
top="logreap-$version-windows-x64"
same_text "zip listing" \
  "$(printf '%s\n' "$top/README.txt" "$top/THIRD-PARTY-NOTICES.txt" "$top/config.toml" "$top/logreap-task.xml" \
    "$top/logreap.exe")" \
  "$(unzip -Z1 "$zip" | LC_ALL=C sort)"
w="$zipdir/$top"
check "config.toml is the example configuration" cmp -s "$w/config.toml" config/config.toml
for text in README.txt THIRD-PARTY-NOTICES.txt; do
  check "$text has CRLF line ends only" test "$(wc -l <"$w/$text")" -eq "$(grep -c $'\r$' "$w/$text")"
done
# Every library linked into the exe has its notice, with the version that
# dist/VERSIONS names; those of fmt and spdlog are the licence files of the
# sources the build used (an upgrade that changes one shows here).
check_versions_listed "${zip##*/}" zip
zip_libraries=$(versions_of "${zip##*/}")
for notice in $(notice_files "$root" zip); do
  check "THIRD-PARTY-NOTICES.txt: $(notice_field "$notice" Name) $(library_version "$zip_libraries" "$notice")" \
    bash -c 'grep -qxF "$1" "$3" && grep -qxF "$2" "$3"' notice "$(notice_field "$notice" Name)"$'\r' \
    "Version: $(library_version "$zip_libraries" "$notice")"$'\r' "$w/THIRD-PARTY-NOTICES.txt"
done
for lib in fmt spdlog; do
  check "packaging/notices/$lib.txt holds the licence of the $lib sources built" \
    cmp -s <(notice_text "packaging/notices/$lib.txt") <(sed 's/[[:space:]]*$//' ".deps/src/$lib/LICENSE")
done
check "README.txt names the version" grep -q "logreap $version for Windows" "$w/README.txt"

task="$w/logreap-task.xml"
check "logreap-task.xml begins with the UTF-16 little-endian byte-order mark" \
  test "$(head -c 2 "$task" | od -An -tx1 | tr -d ' ')" = fffe
check "logreap-task.xml is valid UTF-16" bash -c "iconv -f UTF-16 -t UTF-8 '$task' >/dev/null"
check "logreap-task.xml declares UTF-16" bash -c \
  "iconv -f UTF-16 -t UTF-8 '$task' | head -n 1 | grep -q 'encoding=\"UTF-16\"'"
check "logreap-task.xml is well-formed" xmllint --noout "$task"
xpath() { xmllint --xpath "string(//*[local-name()='$1'])" "$task" 2>/dev/null; }
task_start=$(xpath StartBoundary | grep -o 'T[0-9:]*$')
task_delay=$(xpath RandomDelay)
same_text "task: daily" 1 "$(xpath DaysInterval)"
same_text "task: as the local system account, no password stored, administrator's rights kept" \
  "S-1-5-18  HighestAvailable 0" \
  "$(xpath UserId) $(xpath LogonType) $(xpath RunLevel) $(xmllint --xpath "count(//*[local-name()='Password'])" "$task")"
check "task: a stop-after limit" bash -c "[[ '$(xpath ExecutionTimeLimit)' =~ ^PT[0-9]+[HM]$ ]]"
same_text "task: no restart loop" 0 "$(xmllint --xpath "count(//*[local-name()='RestartOnFailure'])" "$task")"
command=$(xpath Command)
command=${command//\"/}
same_text "task: started in the program's own folder (so ..\\config\\config.toml resolves)" \
  "${command%\\logreap.exe}" "$(xpath WorkingDirectory)"

exe="$w/logreap.exe"
check "logreap.exe is a 64-bit Windows console program" bash -c "file -b '$exe' | grep -q 'PE32+ executable (console) x86-64'"
pe_header=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
same_text "logreap.exe: the PE time stamp is the last commit's time" "$SOURCE_DATE_EPOCH" \
  "$(od -An -tu4 -j$((pe_header + 8)) -N4 "$exe" | tr -d ' ')"
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
    check_event_reports "$exe"
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
./usr/share/doc/logreap/examples/logreap-failure-alert@.service
./usr/share/logreap/
./usr/share/logreap/examples/
./usr/share/logreap/examples/config.toml
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
same_text "deb control: debhelper's maintainer scripts" "./
./control
./md5sums
./postinst
./postrm
./prerm" "$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | LC_ALL=C sort)"

# What the maintainer scripts ask of systemd, run in a mount namespace whose
# /run says that systemd is running, with systemctl, deb-systemd-helper and
# deb-systemd-invoke replaced by stubs that log their arguments (the helper
# answers "no" to its questions: nothing installed or enabled before).
ctl="$scratch/deb-control"
stubs="$scratch/stubs"
dpkg-deb -e "$deb" "$ctl"
mkdir -p "$stubs"
for tool in systemctl deb-systemd-helper deb-systemd-invoke; do
  printf '#!/bin/sh\necho "${0##*/} $*" >>"$STUB_LOG"\ncase "$1" in debian-installed|--quiet) exit 1;; esac\n' \
    >"$stubs/$tool"
  chmod +x "$stubs/$tool"
done
maintainer_calls() { # script, arguments...
  local script=$1
  shift
  : >"$stubs/calls"
  unshare -m sh -c 'mount -t tmpfs none /run && mkdir -p /run/systemd/system && exec "$@"' sh \
    env STUB_LOG="$stubs/calls" PATH="$stubs:/usr/sbin:/usr/bin:/sbin:/bin" sh -e "$ctl/$script" "$@" ||
    echo "$script $* failed"
  cat "$stubs/calls"
}
same_text "postinst on installation: reload, no enable (deb-systemd-invoke starts enabled units only)" \
  "deb-systemd-helper debian-installed logreap.timer
deb-systemd-helper update-state logreap.timer
systemctl --system daemon-reload
deb-systemd-invoke start logreap.service logreap.timer" "$(maintainer_calls postinst configure)"
same_text "postinst on upgrade: reload, restart what runs" \
  "deb-systemd-helper debian-installed logreap.timer
deb-systemd-helper update-state logreap.timer
systemctl --system daemon-reload
deb-systemd-invoke restart logreap.service logreap.timer" "$(maintainer_calls postinst configure 0.9.0)"
same_text "prerm on removal: both units stopped" "deb-systemd-invoke stop logreap.service logreap.timer" \
  "$(maintainer_calls prerm remove)"
same_text "postrm on removal: reload" "systemctl --system daemon-reload" "$(maintainer_calls postrm remove)"
same_text "postrm on purge: the timer's enablement forgotten" "deb-systemd-helper purge logreap.timer" \
  "$(maintainer_calls postrm purge)"

# The copyright file names every library linked into the binary, with the
# version that dist/VERSIONS names.
copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/logreap/copyright)
check_versions_listed "${deb##*/}" deb
deb_libraries=$(versions_of "${deb##*/}")
for notice in $(notice_files "$root" deb); do
  library="$(notice_field "$notice" Name) $(library_version "$deb_libraries" "$notice")"
  check "copyright: $library" grep -qxF "Comment: $library, linked statically into /usr/bin/logreap." <<<"$copyright"
done

lintian_out=$(lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$deb" 2>&1) &&
  lintian_status=0 || lintian_status=$?
lintian_out=$(grep -v 'running with root privileges' <<<"$lintian_out" || true)
if [ "$lintian_status" -eq 0 ]; then
  pass "lintian at pedantic level${lintian_out:+ (with: $lintian_out)}"
else
  fail "lintian at pedantic level"
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
mkdir -p "$verify_root/bin"
cp -L /bin/sh "$verify_root/bin/sh" # the shell of the service's account check
check_quiet "systemd-analyze verify logreap.service logreap.timer" \
  env MANPATH="$verify_root/usr/share/man" systemd-analyze --root="$verify_root" verify \
  "$verify_root/lib/systemd/system/logreap.service" "$verify_root/lib/systemd/system/logreap.timer"
# The example failure-alert unit, installed as logreap(1) says, for the
# service's failure.
mkdir -p "$verify_root/etc/systemd/system"
cp "$ext/usr/share/doc/logreap/examples/logreap-failure-alert@.service" "$verify_root/etc/systemd/system/"
check_quiet "systemd-analyze verify logreap-failure-alert@logreap.service.service" \
  env MANPATH="$verify_root/usr/share/man" systemd-analyze --root="$verify_root" verify \
  logreap-failure-alert@logreap.service.service
service="$ext/lib/systemd/system/logreap.service"
timer="$ext/lib/systemd/system/logreap.timer"
same_text "logreap.service: oneshot, the configuration from one Environment line" \
  "Type=oneshot
Environment=LOGREAP_CONFIG=/opt/norvane/abap/config/config.toml
ExecStart=/usr/bin/logreap --config \${LOGREAP_CONFIG}" \
  "$(grep -E '^(Type|Environment|ExecStart)=' "$service")"
security=$(cd "$scratch" && systemd-analyze security --offline=true --root="$verify_root" \
  "$verify_root/lib/systemd/system/logreap.service" 2>&1 | sed -n 's/^.*Overall exposure level for logreap.service: //p')
check "systemd-analyze security: at most 2.0 as root ($security)" \
  awk -v s="${security%% *}" 'BEGIN { exit !(s != "" && s + 0 <= 2.0) }'
same_text "logreap.service: trees under /opt, /srv, /var and /home stay writable" \
  "ReadWritePaths=-/opt -/srv -/var -/home" "$(grep -E '^(ReadWritePaths|ProtectHome|InaccessiblePaths)=' "$service")"
same_text "logreap.service: nice 19, idle I/O, umask 0027" "Nice=19 IOSchedulingClass=idle UMask=0027" \
  "$(grep -E '^(Nice|IOSchedulingClass|UMask)=' "$service" | tr '\n' ' ' | sed 's/ $//')"

# The account check before the start, run as systemd runs it ($$ is a dollar,
# USER is set only when the unit has User=).
pre=$(sed -n "s/^ExecStartPre=\/bin\/sh -c '\(.*\)'$/\1/p" "$service" | sed 's/\$\$/$/g')
check "logreap.service: an account check before the start" test -n "$pre"
pre_status=0
pre_err=$(env -i PATH=/usr/bin:/bin /bin/sh -c "$pre" 2>&1) || pre_status=$?
same_text "logreap.service without User=: refuses to start, saying how to name the account" \
  "1 systemctl edit logreap.service User=" \
  "$pre_status $(grep -o 'systemctl edit logreap.service' <<<"$pre_err") $(grep -o 'User=' <<<"$pre_err" | head -n 1)"
for account in norvane root; do
  check "logreap.service with User=$account: starts" env -i PATH=/usr/bin:/bin USER=$account /bin/sh -c "$pre"
done
check "logreap.timer: persistent" grep -qx 'Persistent=true' "$timer"

# The timer and the task start at the same local time, with the same random
# delay, and the whole window lies outside the hours in which the clocks of
# any zone of Europe or the Americas change (2026 to 2028, zdump).
timer_at=$(sed -n 's/^OnCalendar=\*-\*-\* \([0-9:]*\)$/\1/p' "$timer")
timer_delay=$(sed -n 's/^RandomizedDelaySec=//p' "$timer")
same_text "timer and task: the same start and random delay" \
  "T$timer_at $(systemd-analyze timespan "$timer_delay" | sed -n 's/^ *μs: //p')" \
  "$task_start $(( ($(sed -E 's/^PT(([0-9]+)H)?(([0-9]+)M)?$/\2*3600+0\4*60/;s/^\*/0*/' <<<"$task_delay")) * 1000000 ))"
# Prints each clock change of a zone of Europe or the Americas whose hour meets
# the window from $1 (HH:MM:SS, local) lasting $2 seconds.
dst_clashes() {
  local zones
  zones=$(cd /usr/share/zoneinfo && find Europe America Atlantic -type f | LC_ALL=C sort)
  for zone in $zones; do zdump -v -c 2026,2029 "$zone"; done | awk -v start="$1" -v width="$2" '
    function secs(t, p) { split(t, p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
    $7 != "UT" || /NULL/ { next }
    $1 == zone && $NF != offset {
      a = (secs(local) + 1) % 86400; b = secs($12)
      lo = a < b ? a : b; hi = a < b ? b : a
      if (hi - lo > 43200) { t = lo; lo = hi; hi = t + 86400 }
      s = secs(start); e = s + width
      if ((s < hi && e > lo) || (s + 86400 < hi && e + 86400 > lo)) print $1, $10, $11, $13, local, "->", $12
    }
    { zone = $1; local = $12; offset = $NF }'
}
clashes=$(dst_clashes "$timer_at" "$(( $(systemd-analyze timespan "$timer_delay" | sed -n 's/^ *μs: //p') / 1000000 ))")
same_text "timer and task: the window misses every clock change of Europe and the Americas" "" "$clashes"

check_quiet "man --warnings -l logreap.1.gz (the page itself discarded)" \
  sh -c 'LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$1" >/dev/null' man "$ext/usr/share/man/man1/logreap.1.gz"
# Every OnFailure= that the man page or an example shows names a unit that the
# package ships as an example.
on_failure=$({
  LC_ALL=C MANWIDTH=200 man -E ascii -l "$ext/usr/share/man/man1/logreap.1.gz" 2>/dev/null
  cat "$ext"/usr/share/doc/logreap/examples/*
} | grep -o 'OnFailure=[^ ]*' | LC_ALL=C sort -u)
check "the man page shows an OnFailure= drop-in" test -n "$on_failure"
for line in $on_failure; do
  unit=${line#OnFailure=}
  check "$line: the package ships ${unit%%@*}@.service" \
    test -f "$ext/usr/share/doc/logreap/examples/${unit%%@*}@.service" -a "${unit#*@}" = "%n.service"
done

tool="$ext/usr/bin/logreap"
help_status=0
help=$("$tool" --help) || help_status=$?
same_text "packaged logreap --help" "0 usage: logreap [-h] [--config PATH]" "$help_status $(head -n 1 <<<"$help")"
demo="$scratch/demo-linux"
make_demo_tree "$demo" "$ext/usr/share/logreap/examples/config.toml"
check_demo_run "$demo" "packaged logreap" "$tool"
check "no path of the build machine in the packaged binary" bash -c "! grep -qaF '$root' '$tool'"

say "== checksums and provenance"
buildinfo="logreap_${version}_${arch}.buildinfo"
check "dist/SHA256SUMS holds both packages, the .buildinfo and VERSIONS, and matches them" bash -c \
  "cd dist && sha256sum --check --strict --quiet SHA256SUMS &&
   grep -qF ' ${deb##*/}' SHA256SUMS && grep -qF ' ${zip##*/}' SHA256SUMS &&
   grep -qF ' $buildinfo' SHA256SUMS && grep -qF ' VERSIONS' SHA256SUMS"
check "dist/$buildinfo: the build environment of the .deb, with its checksum" bash -c \
  "grep -qx 'Installed-Build-Depends:' 'dist/$buildinfo' &&
   grep -qxF ' $(sha256sum <"$deb" | cut -d' ' -f1) $(stat -c %s "$deb") ${deb##*/}' 'dist/$buildinfo'"

say "== reproducible packages"
# The same tree (the working tree as it is, and its fetched dependencies) in a
# folder of another name and depth, packaged by the same scripts.
copy="$scratch/elsewhere/deeper/logreap-copy"
mkdir -p "$copy"
git ls-files -z -co --exclude-standard | while IFS= read -r -d '' f; do
  if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
done | tar -c --null -T - | tar -x -C "$copy"
cp -a .deps "$copy/.deps"
if [ -n "${LOGREAP_SIGN_PKCS12:-}" ]; then
  say "logreap.exe is signed (LOGREAP_SIGN_PKCS12): the zips are not compared"
fi
if bash "$copy/scripts/package-deb.sh" >"$scratch/copy-deb.log" 2>&1 &&
  env -u LOGREAP_SIGN_PKCS12 bash "$copy/scripts/package-windows.sh" >"$scratch/copy-zip.log" 2>&1; then
  check "two builds in different folders give the same Linux binary" \
    cmp "$root/build/pkg-release/src/logreap/logreap" "$copy/build/pkg-release/src/logreap/logreap"
  check "two builds in different folders give the same .deb" cmp "$deb" "$copy/dist/${deb##*/}"
  check "two builds in different folders give the same logreap.exe" \
    cmp "$root/build/pkg-windows/bin/logreap.exe" "$copy/build/pkg-windows/bin/logreap.exe"
  if [ -z "${LOGREAP_SIGN_PKCS12:-}" ]; then
    check "two builds in different folders give the same zip" cmp "$zip" "$copy/dist/${zip##*/}"
  fi
else
  fail "the package scripts failed on the copy in $copy"
  tail -n 20 "$scratch"/copy-*.log | sed 's/^/    /' >&2
fi

say "== signing"
# The optional signing steps, run on the copy with a throwaway self-signed
# certificate and a throwaway OpenPGP key (in a keyring of its own), both
# behind a passphrase: the zipped logreap.exe then carries an Authenticode
# signature by that certificate, and SHA256SUMS.asc is a signature of
# SHA256SUMS by that key.
signing="$scratch/signing"
mkdir -p "$signing"
mkdir -m 700 "$gnupg"
printf 'throwaway' >"$signing/pass"
gpg_key=""
if GNUPGHOME="$gnupg" gpg --batch --pinentry-mode loopback --passphrase-file "$signing/pass" \
  --quick-gen-key "logreap test signing <signing@logreap.invalid>" ed25519 sign 2d 2>/dev/null; then
  gpg_key=$(GNUPGHOME="$gnupg" gpg --batch --with-colons --list-secret-keys 2>/dev/null |
    awk -F: '$1 == "fpr" { print $10; exit }')
fi
if [ -n "$gpg_key" ] && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=logreap test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null &&
  openssl pkcs12 -export -inkey "$signing/key.pem" -in "$signing/cert.pem" -passout file:"$signing/pass" \
    -out "$signing/sign.p12" &&
  LOGREAP_SIGN_PKCS12="$signing/sign.p12" LOGREAP_SIGN_PASSWORD_FILE="$signing/pass" \
    GNUPGHOME="$gnupg" LOGREAP_SIGN_GPG_KEY="$gpg_key" LOGREAP_SIGN_GPG_PASSPHRASE_FILE="$signing/pass" \
    bash "$copy/scripts/package-windows.sh" >"$scratch/copy-signed.log" 2>&1; then
  unzip -p "$copy/dist/${zip##*/}" "$top/logreap.exe" >"$signing/logreap.exe"
  check "signed logreap.exe: a signature by the given certificate" bash -c \
    "osslsigncode extract-signature -in '$signing/logreap.exe' -out '$signing/sig.der' >/dev/null &&
     openssl pkcs7 -inform DER -in '$signing/sig.der' -print_certs | grep -q 'CN *= *logreap test signing'"
  check "signed zip: SHA256SUMS describes it" bash -c "cd '$copy/dist' && sha256sum --check --strict --quiet SHA256SUMS"
  check "SHA256SUMS.asc: a good signature of SHA256SUMS by the given OpenPGP key" bash -c \
    "GNUPGHOME='$gnupg' gpg --batch --status-fd 1 --verify '$copy/dist/SHA256SUMS.asc' '$copy/dist/SHA256SUMS' 2>/dev/null |
     grep -q '^\[GNUPG:\] VALIDSIG $gpg_key '"
else
  fail "the signing step failed"
  tail -n 20 "$scratch/copy-signed.log" | sed 's/^/    /' >&2
fi

say "deb: $deb ($(stat -c %s "$deb") bytes); zip: $zip ($(stat -c %s "$zip") bytes)"
say "took $((SECONDS - started)) s"
if [ "$failures" -ne 0 ]; then
  say "$failures check(s) failed"
  exit 1
fi
say "all checks passed"
