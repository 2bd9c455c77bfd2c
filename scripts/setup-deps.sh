#!/usr/bin/env bash
# Installs what the build needs on Debian 12 and fetches the header-only libraries
# that Debian 12 carries only in versions too old for this project.
#
# Debian's own packages come through apt-get as usual. toml11 4, fmt 11 and
# spdlog 1.15+ come from a newer Debian suite: their -dev packages are downloaded
# with a private apt state (the machine's apt configuration is never changed) and
# only their headers are unpacked into .deps/include of the checkout.
#
# Idempotent: with .deps complete and the packages installed it returns at once.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$root/.deps"
include="$deps/include"
stamp="$deps/headers.stamp"

# The pinned versions, and the major version each falls back to when the pinned
# one has left the archive (spdlog: at least 1.15).
pins=(
  "libtoml11-dev 4.4.0-1 ^4\\."
  "libfmt-dev 11.1.1+ds1-2 ^11\\."
  "libspdlog-dev 1:1.15.3+ds-1+b3 ^1:1\\.(1[5-9]|[2-9][0-9])\\."
)
suites=(stable testing unstable)

debian_packages=(g++ cmake ninja-build libboost-program-options-dev libgtest-dev libgmock-dev clang-format-14)

say() { printf 'setup-deps: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

. "$root/scripts/lib/debian-apt.sh"

headers_complete() {
  [ -f "$stamp" ] && [ -f "$include/toml.hpp" ] && [ -f "$include/fmt/format-inl.h" ] &&
    [ -f "$include/spdlog/spdlog.h" ]
}

# System headers new enough (a newer distribution): nothing to download.
system_headers_sufficient() {
  local tv fv sv
  tv=$(sed -n 's/^#define TOML11_VERSION_MAJOR \([0-9]*\).*/\1/p' /usr/include/toml11/version.hpp 2>/dev/null)
  fv=$(sed -n 's/^#define FMT_VERSION \([0-9]*\).*/\1/p' /usr/include/fmt/base.h 2>/dev/null)
  sv=$(awk '/#define SPDLOG_VER_MAJOR/ {ma=$3} /#define SPDLOG_VER_MINOR/ {mi=$3} END {print ma*100+mi}' \
    /usr/include/spdlog/version.h 2>/dev/null)
  [ "${tv:-0}" -ge 4 ] && [ "${fv:-0}" -ge 110000 ] && [ "${fv:-0}" -lt 120000 ] && [ "${sv:-0}" -ge 115 ]
}

fetch_headers() {
  local archive
  archive=$(debian_archive)
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/debs"
  say "reading the package lists of the newer Debian suites"
  private_apt_state "$work" < <(for s in "${suites[@]}"; do
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive $s main"
  done)

  local line name pin pattern chosen
  for line in "${pins[@]}"; do
    read -r name pin pattern <<<"$line"
    chosen=""
    if apt-cache "${apt_opts[@]}" madison "$name" | awk -F'|' '{gsub(/ /, "", $2); print $2}' | grep -qxF "$pin"; then
      chosen=$pin
    else
      chosen=$(apt-cache "${apt_opts[@]}" madison "$name" | awk -F'|' '{gsub(/ /, "", $2); print $2}' |
        grep -E "$pattern" | sort -V | tail -n 1 || true)
      [ -n "$chosen" ] || die "no $name of the needed major version ($pattern) in the suites ${suites[*]}"
      say "$name $pin has left the archive; taking $chosen"
    fi
    (cd "$work/debs" && apt-get "${apt_opts[@]}" download -qq "$name=$chosen" >/dev/null 2>&1) ||
      die "could not download $name $chosen"
  done

  rm -rf "$include.new"
  mkdir -p "$include.new"
  local deb
  for deb in "$work"/debs/*.deb; do
    mkdir -p "$work/x"
    dpkg-deb -x "$deb" "$work/x"
    cp -a "$work/x/usr/include/." "$include.new/"
    rm -rf "$work/x"
  done
  rm -rf "$include"
  mv "$include.new" "$include"
  (cd "$work/debs" && ls) >"$stamp"
  say "headers in $include: $(tr '\n' ' ' <"$stamp")"
}

main() {
  install_debian_packages "${debian_packages[@]}" "$@"
  if system_headers_sufficient; then
    return 0
  fi
  headers_complete || fetch_headers
}

main "$@"
