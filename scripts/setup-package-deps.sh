#!/usr/bin/env bash
# Installs what building and checking the packages needs on Debian 12, on top of
# scripts/setup-deps.sh (the Linux build) and scripts/setup-windows-deps.sh (the
# Windows build): dpkg-dev and debhelper (the .deb), lintian, systemd
# (systemd-analyze), openssl (a throwaway certificate for the signing check),
# gpg and its agent (the optional signature of SHA256SUMS and its check),
# man-db and groff, zip and unzip, iconv and xmllint.
#
# Idempotent: with the packages installed it returns at once.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

package_packages=(dpkg-dev debhelper lintian systemd openssl gpg gpg-agent man-db groff-base zip unzip libc-bin libxml2-utils binutils file)

say() { printf 'setup-package-deps: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

. "$root/scripts/lib/debian-apt.sh"

install_debian_packages "${package_packages[@]}"
