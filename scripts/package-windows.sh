#!/usr/bin/env bash
# Builds the Windows zip dist/logreap-<version>-windows-x64.zip from a release
# cross build (build/pkg-windows): logreap.exe (self-contained, stripped), the
# example configuration, README.txt and THIRD-PARTY-NOTICES.txt (CRLF line
# ends) and logreap-task.xml, a Task Scheduler definition in UTF-16 with a
# byte-order mark, all in one folder logreap-<version>-windows-x64. The version
# is the one of project() in CMakeLists.txt. Two builds of one commit give the
# same zip, byte for byte. THIRD-PARTY-NOTICES.txt names the version of each
# library linked in, and so do the zip's lines of dist/VERSIONS. Writes
# dist/SHA256SUMS over what dist holds, signed with OpenPGP when
# LOGREAP_SIGN_GPG_KEY names a key (see sign_checksums in
# scripts/lib/packaging.sh).
#
# LOGREAP_SIGN_PKCS12 (optional) names a PKCS#12 file with a code-signing
# certificate and its key: logreap.exe is then signed, see sign_exe below.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf 'package-windows: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

. "$root/scripts/lib/packaging.sh"
. "$root/scripts/lib/debian-apt.sh"

bash scripts/setup-deps.sh || die "the common dependencies could not be set up"
bash scripts/setup-windows-deps.sh || die "the Windows dependencies could not be set up"
bash scripts/setup-package-deps.sh || die "the packaging tools could not be set up"

# The linker writes SOURCE_DATE_EPOCH into the PE header as the time stamp, so
# it is set before the build, and the program is linked afresh each time (an
# earlier build may have linked it with another commit's time).
epoch=$(source_date_epoch "$root")
export SOURCE_DATE_EPOCH=$epoch
build="$root/build/pkg-windows"
say "building the release logreap.exe in $build"
cmake --preset windows -B "$build" -DCMAKE_BUILD_TYPE=Release -DLOGREAP_BUILD_TESTS=OFF >/dev/null ||
  die "could not configure the Windows release build in $build"
exe="$build/bin/logreap.exe"
rm -f "$exe"
cmake --build "$build" --target logreap >/dev/null || die "the Windows release build in $build failed"
[ -f "$exe" ] || die "no $exe after the build"
version=$(project_version "$build")
libraries=$(checked_built_libraries "$root" "$build" zip) || exit 1

# Signs $1 in place with Authenticode (osslsigncode): the certificate and key
# in the PKCS#12 file LOGREAP_SIGN_PKCS12, its password in the file
# LOGREAP_SIGN_PASSWORD_FILE (if it has one), and a time stamp from the RFC 3161
# server LOGREAP_SIGN_TIMESTAMP_URL (if given; without one the signature is
# valid only as long as the certificate). A signed program differs from build
# to build, so SHA256SUMS then describes this zip alone.
sign_exe() {
  local exe=$1 args=(-pkcs12 "$LOGREAP_SIGN_PKCS12" -h sha256 -n logreap)
  [ -f "$LOGREAP_SIGN_PKCS12" ] || die "LOGREAP_SIGN_PKCS12: no file $LOGREAP_SIGN_PKCS12"
  command -v osslsigncode >/dev/null || install_debian_packages osslsigncode ||
    die "osslsigncode could not be installed"
  if [ -n "${LOGREAP_SIGN_PASSWORD_FILE:-}" ]; then args+=(-readpass "$LOGREAP_SIGN_PASSWORD_FILE"); fi
  if [ -n "${LOGREAP_SIGN_TIMESTAMP_URL:-}" ]; then args+=(-ts "$LOGREAP_SIGN_TIMESTAMP_URL"); fi
  osslsigncode sign "${args[@]}" -in "$exe" -out "$exe.signed" >/dev/null || die "osslsigncode could not sign $exe"
  mv "$exe.signed" "$exe"
  say "signed logreap.exe with the certificate in $LOGREAP_SIGN_PKCS12"
}

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
if [ -n "${LOGREAP_SIGN_PKCS12:-}" ]; then
  sign_exe "$stage/$name/logreap.exe"
fi
cp config/config.toml "$stage/$name/config.toml"
fill packaging/windows/README.txt.in | crlf >"$stage/$name/README.txt"
notices_as_text "$root" "$libraries" | crlf >"$stage/$name/THIRD-PARTY-NOTICES.txt"
{
  printf '\xff\xfe'
  fill packaging/windows/logreap-task.xml.in | crlf | iconv -f UTF-8 -t UTF-16LE
} >"$stage/$name/logreap-task.xml"
find "$stage/$name" -exec touch -h -d "@$epoch" {} +

mkdir -p dist
zip="$root/dist/$name.zip"
rm -f "$zip"
(cd "$stage" && TZ=UTC zip -q -X -9 "$zip" "$name/logreap.exe" "$name/config.toml" "$name/README.txt" \
  "$name/THIRD-PARTY-NOTICES.txt" "$name/logreap-task.xml") || die "zip could not write $zip"
write_versions "$root/dist" "$name.zip" "$libraries"
write_checksums "$root/dist"
say "wrote dist/$name.zip ($(stat -c %s "$zip") bytes)"
