#!/usr/bin/env bash
# Installs what the build needs on Debian 12 and provides the libraries that
# Debian 12 carries only in versions too old for this project, all from a newer
# Debian suite through a private apt state (the machine's apt configuration is
# never changed):
#
# - toml11 4.4.0, header-only: only the headers of its -dev package are
#   unpacked, into .deps/include;
# - fmt 11 and spdlog 1.15+: their source packages are unpacked into .deps/src,
#   built once as static libraries and installed with their CMake package files
#   into .deps/linux (scripts/setup-windows-deps.sh does the same for mingw-w64).
#
# Idempotent: with .deps complete and the packages installed it returns at once.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$root/.deps"
include="$deps/include"
stamp="$deps/headers.stamp"

# The pinned version, and what it falls back to when the pinned one has left
# the archive: the same release, which the project's corrections to it were
# written against.
pins=(
  "libtoml11-dev 4.4.0-1 ^4\\.4\\.0-"
)
debian_packages=(g++ cmake ninja-build libboost-program-options-dev libgtest-dev libgmock-dev clang-format-14)

say() { printf 'setup-deps: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

. "$root/scripts/lib/debian-apt.sh"
. "$root/scripts/lib/compiled-deps.sh"

headers_complete() {
  [ -f "$stamp" ] && [ -f "$include/toml.hpp" ] && [ -f "$include/toml11/version.hpp" ]
}

fetch_headers() {
  local archive
  archive=$(debian_archive)
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/debs"
  say "reading the package lists of the newer Debian suites"
  private_apt_state "$work" < <(newer_suites_sources deb "$archive")

  local line name pin pattern chosen
  for line in "${pins[@]}"; do
    read -r name pin pattern <<<"$line"
    chosen=$(apt-cache "${apt_opts[@]}" madison "$name" | awk -F'|' '{gsub(/ /, "", $2); print $2}' |
      pick_version "$name" "$pin" "$pattern") || exit 1
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
  headers_complete || fetch_headers
  compiled_sources_complete || fetch_compiled_sources
  compiled_libraries_complete "$deps/linux" || build_compiled_libraries "$deps/linux"
}

main "$@"
