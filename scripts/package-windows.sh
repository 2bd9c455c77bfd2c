#!/usr/bin/env bash
# Builds the Windows zip dist/logreap-<version>-windows-x64.zip from a release
# cross build (build/pkg-windows): logreap.exe (self-contained, stripped), the
# example configuration, README.txt (CRLF line ends) and logreap-task.xml, a
# Task Scheduler definition in UTF-16 with a byte-order mark, all in one folder
# logreap-<version>-windows-x64. The version is the one of project() in
# CMakeLists.txt.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf 'package-windows: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

. "$root/scripts/lib/packaging.sh"

bash scripts/setup-deps.sh || die "the common dependencies could not be set up"
bash scripts/setup-windows-deps.sh || die "the Windows dependencies could not be set up"
bash scripts/setup-package-deps.sh || die "the packaging tools could not be set up"

build="$root/build/pkg-windows"
say "building the release logreap.exe in $build"
cmake --preset windows -B "$build" -DCMAKE_BUILD_TYPE=Release -DLOGREAP_BUILD_TESTS=OFF >/dev/null ||
  die "could not configure the Windows release build in $build"
cmake --build "$build" --target logreap >/dev/null || die "the Windows release build in $build failed"
exe="$build/bin/logreap.exe"
[ -f "$exe" ] || die "no $exe after the build"
version=$(project_version "$build")
epoch=$(source_date_epoch "$root")

# Line ends of Windows, and the task definition in the UTF-16 that Task
# Scheduler reads and writes (its sources here are UTF-8 with LF).
crlf() { sed -e 's/\r$//' -e 's/$/\r/'; }
fill() { sed -e "s|@VERSION@|$version|g" "$1"; }

umask 022
name="logreap-$version-windows-x64"
stage="$root/build/pkg-zip"
rm -rf "$stage"
mkdir -p "$stage/$name"
x86_64-w64-mingw32-strip -o "$stage/$name/logreap.exe" "$exe"
cp config/config.toml "$stage/$name/config.toml"
fill packaging/windows/README.txt.in | crlf >"$stage/$name/README.txt"
{
  printf '\xff\xfe'
  fill packaging/windows/logreap-task.xml.in | crlf | iconv -f UTF-8 -t UTF-16LE
} >"$stage/$name/logreap-task.xml"
find "$stage/$name" -exec touch -h -d "@$epoch" {} +

mkdir -p dist
zip="$root/dist/$name.zip"
rm -f "$zip"
(cd "$stage" && TZ=UTC zip -q -X -9 "$zip" "$name/logreap.exe" "$name/config.toml" "$name/README.txt" \
  "$name/logreap-task.xml") || die "zip could not write $zip"
say "wrote dist/$name.zip ($(stat -c %s "$zip") bytes)"
