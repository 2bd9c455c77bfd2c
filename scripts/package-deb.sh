#!/usr/bin/env bash
# Builds the Debian package dist/logreap_<version>_<arch>.deb from a release
# build (build/pkg-release, with Debian's hardening flags): the tool in
# /usr/bin, the example configuration, the man page logreap(1), and the systemd
# service and timer in /lib/systemd/system, neither of them enabled by the
# installation (the package has no maintainer scripts). The version is the one
# of project() in CMakeLists.txt; the dependencies are computed by
# dpkg-shlibdeps from the libraries the binary links.
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
epoch=$(source_date_epoch "$root")
export SOURCE_DATE_EPOCH=$epoch

umask 022
stage="$root/build/pkg-deb"
tree="$stage/tree"
rm -rf "$stage"
mkdir -p "$tree/DEBIAN"
doc="$tree/usr/share/doc/logreap"

# The files, stripped and compressed as Debian's tools leave them. The package is
# native (its version has no Debian revision), so its changelog is changelog.gz.
install -D -m 0755 "$build/src/logreap/logreap" "$tree/usr/bin/logreap"
strip --remove-section=.comment --remove-section=.note "$tree/usr/bin/logreap"
install -D -m 0644 config/config.toml "$doc/examples/config.toml"
mkdir -p "$doc"
sed -e "s|@YEAR@|$(date -u -d "@$epoch" +%Y)|g" packaging/debian/copyright.in >"$doc/copyright"
changelog_date=$(LC_ALL=C date -u -R -d "@$epoch")
sed -e "s|@VERSION@|$version|g" -e "s|@MAINTAINER@|$maintainer|g" -e "s|@DATE@|$changelog_date|g" \
  packaging/debian/changelog.in | gzip -9n >"$doc/changelog.gz"
mkdir -p "$tree/usr/share/man/man1"
sed -e "s|@VERSION@|$version|g" -e "s|@DATE@|$(date -u -d "@$epoch" +%Y-%m-%d)|g" \
  packaging/debian/logreap.1.in | gzip -9n >"$tree/usr/share/man/man1/logreap.1.gz"
chmod 0644 "$doc/copyright" "$doc/changelog.gz" "$tree/usr/share/man/man1/logreap.1.gz"
install -D -m 0644 packaging/debian/logreap.service "$tree/lib/systemd/system/logreap.service"
install -D -m 0644 packaging/debian/logreap.timer "$tree/lib/systemd/system/logreap.timer"

# The dependencies, from the shared libraries the binary needs.
mkdir -p "$stage/debian"
printf 'Source: logreap\n\nPackage: logreap\nArchitecture: any\n' >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O -etree/usr/bin/logreap 2>"$stage/shlibdeps.err" |
  sed -n 's/^shlibs:Depends=//p') || die "dpkg-shlibdeps failed: $(cat "$stage/shlibdeps.err")"
[ -n "$depends" ] || die "dpkg-shlibdeps found no dependencies: $(cat "$stage/shlibdeps.err")"

installed_size=$(du -s -k --apparent-size --exclude=DEBIAN "$tree" | cut -f1)
sed -e "s|@VERSION@|$version|g" -e "s|@ARCH@|$arch|g" -e "s|@MAINTAINER@|$maintainer|g" \
  -e "s|@INSTALLED_SIZE@|$installed_size|g" -e "s|@DEPENDS@|$depends|g" \
  packaging/debian/control.in >"$tree/DEBIAN/control"
(cd "$tree" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z |
  xargs -0 md5sum) >"$tree/DEBIAN/md5sums"
chmod 0644 "$tree/DEBIAN/control" "$tree/DEBIAN/md5sums"
find "$tree" -exec touch -h -d "@$epoch" {} +

mkdir -p dist
deb="dist/logreap_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$tree" "$deb" >/dev/null || die "dpkg-deb could not build $deb"
say "wrote $deb ($(stat -c %s "$deb") bytes; Depends: $depends)"
