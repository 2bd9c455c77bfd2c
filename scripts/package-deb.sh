#!/usr/bin/env bash
# Builds the Debian package dist/logreap_<version>_<arch>.deb with debhelper
# (packaging/debian, compat 13) from a release build (build/pkg-release, with
# Debian's hardening flags): the tool in /usr/bin, the example configuration in
# /usr/share/logreap/examples, the man page logreap(1), and the systemd service
# and timer in /lib/systemd/system, neither of them enabled or started by the
# installation, and an example unit that reports a failed run. The version is
# the one of project() in CMakeLists.txt; the Debian changelog is made from
# CHANGELOG.md, whose newest entry must be that version. The copyright file
# names the version of each library built in.
#
# Beside the package in dist: its .buildinfo (what dpkg-buildpackage recorded
# of the build environment), its lines of dist/VERSIONS (the libraries built
# in), and dist/SHA256SUMS over what dist holds, signed with OpenPGP when
# LOGREAP_SIGN_GPG_KEY names a key (see sign_checksums in
# scripts/lib/packaging.sh).
#
# LOGREAP_MAINTAINER overrides the Maintainer field.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf 'package-deb: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

. "$root/scripts/lib/packaging.sh"

maintainer=${LOGREAP_MAINTAINER:-"Norvane <logreap@norvane.invalid>"}

bash scripts/setup-deps.sh || die "the build dependencies could not be set up"
bash scripts/setup-package-deps.sh || die "the packaging tools could not be set up"

build="$root/build/pkg-release"
say "building the release binary in $build"
build_linux_release "$root" "$build"
version=$(project_version "$build")
arch=$(dpkg --print-architecture)
newest=$(changelog_version CHANGELOG.md)
[ "$newest" = "$version" ] ||
  die "CHANGELOG.md's newest entry is $newest, the project's version $version: add one for it"
libraries=$(checked_built_libraries "$root" "$build" deb) || exit 1
epoch=$(source_date_epoch "$root")
export SOURCE_DATE_EPOCH=$epoch

umask 022
# The package's source folder: debian/ from packaging/debian with its
# templates filled in, the changelog, the built binary, the example
# configuration and the man page. debhelper does the rest (see
# packaging/debian/rules).
work="$root/build/pkg-deb"
stage="$work/logreap-$version"
rm -rf "$work"
mkdir -p "$stage"
cp -a packaging/debian "$stage/debian"
rm "$stage/debian/"*.in
debian_changelog CHANGELOG.md "$maintainer" >"$stage/debian/changelog" || exit 1
sed -e "s|@MAINTAINER@|$maintainer|g" packaging/debian/control.in >"$stage/debian/control"
{
  sed -e "s|@YEAR@|$(date -u -d "@$epoch" +%Y)|g" packaging/debian/copyright.in
  notices_as_copyright "$root" "$libraries"
} >"$stage/debian/copyright"
sed -e "s|@VERSION@|$version|g" -e "s|@DATE@|$(date -u -d "@$epoch" +%Y-%m-%d)|g" \
  packaging/debian/logreap.1.in >"$stage/logreap.1"
install -m 0755 "$build/src/logreap/logreap" "$stage/logreap"
install -m 0644 config/config.toml "$stage/config.toml"

say "building the package with debhelper in $stage"
(cd "$stage" && dpkg-buildpackage -b -us -uc) >"$work/build.log" 2>&1 ||
  die "dpkg-buildpackage failed (log: $work/build.log):
$(tail -n 20 "$work/build.log")"

mkdir -p dist
deb="dist/logreap_${version}_${arch}.deb"
cp "$work/logreap_${version}_${arch}.deb" "$deb"
cp "$work/logreap_${version}_${arch}.buildinfo" "dist/logreap_${version}_${arch}.buildinfo"
write_versions dist "${deb#dist/}" "$libraries"
write_checksums dist
say "wrote $deb ($(stat -c %s "$deb") bytes; Depends: $(dpkg-deb -f "$deb" Depends))"
