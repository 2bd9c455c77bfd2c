#!/usr/bin/env bash
# Installs what the Windows build needs on Debian 12, on top of scripts/setup-deps.sh:
# the mingw-w64 cross compiler (posix threads), Wine's 64-bit loader and its
# preloader, the GoogleTest sources, and Boost. Boost.Program_options is compiled by the build
# from the sources of Debian's Boost source package: only its libs/program_options/src
# is unpacked into .deps/windows, fetched with a private apt state (the machine's
# apt configuration is never changed). The Boost headers Debian installs reach the
# cross build through an include folder of their own, .deps/windows/include, so
# that no other Linux system header does. fmt and spdlog are built as static
# libraries with the cross compiler into .deps/mingw, from the sources that
# scripts/setup-deps.sh unpacked.
#
# Idempotent: with .deps/windows complete and the packages installed it returns at once.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
windows="$root/.deps/windows"
stamp="$windows/boost.stamp"

# wine64-preloader is only suggested by wine64, but without it a start of Wine
# fails now and then: the loader, a fixed-address executable, gets its heap
# somewhere in the gigabyte above it (Linux randomises the heap's start that
# widely for 64-bit programs), and where the heap covers 0x7ffe0000, the page
# every Windows process has its shared user data at, Wine exits with status 1
# before the program runs ("failed to map the shared user data", an error that
# WINEDEBUG=-all hides). The preloader reserves Wine's address ranges before
# anything else is mapped.
windows_packages=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 wine64
  wine64-preloader googletest libboost1.74-dev)
boost_source=boost1.74

say() { printf 'setup-windows-deps: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

. "$root/scripts/lib/debian-apt.sh"
. "$root/scripts/lib/compiled-deps.sh"

boost_complete() {
  [ -f "$stamp" ] && [ -f "$windows/boost/libs/program_options/src/cmdline.cpp" ] &&
    [ -e "$windows/include/boost/program_options.hpp" ]
}

fetch_boost() {
  local archive suite version
  archive=$(debian_archive)
  suite=$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")
  [ -n "$suite" ] || die "no Debian suite named in /etc/os-release"
  # The sources of exactly the headers that are installed.
  version=$(dpkg-query -W -f='${Version}' libboost1.74-dev)
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  say "reading the source package lists of $suite"
  private_apt_state "$work/apt" < <(
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive $suite main")
  mkdir -p "$work/src"
  say "downloading the $boost_source $version source package"
  (cd "$work/src" && apt-get "${apt_opts[@]}" source --download-only -qq "$boost_source=$version" \
    >/dev/null 2>"$work/source.err") || die "could not download $boost_source $version: $(tail -n 3 "$work/source.err")"
  local tarball
  tarball=$(ls "$work"/src/"${boost_source}"_*.orig.tar.* 2>/dev/null | head -n 1)
  [ -n "$tarball" ] || die "no upstream tarball in the $boost_source source package"

  rm -rf "$windows.new"
  mkdir -p "$windows.new/boost" "$windows.new/include"
  say "unpacking libs/program_options/src"
  tar -xf "$tarball" -C "$windows.new/boost" --strip-components=1 --wildcards '*/libs/program_options/src/*'
  [ -f "$windows.new/boost/libs/program_options/src/cmdline.cpp" ] ||
    die "libs/program_options/src not found in $tarball"
  ln -s /usr/include/boost "$windows.new/include/boost"
  printf '%s %s\n' "$boost_source" "$version" >"$windows.new/boost.stamp"
  rm -rf "$windows"
  mv "$windows.new" "$windows"
  say "Boost.Program_options sources of $boost_source $version in $windows/boost"
}

main() {
  install_debian_packages "${windows_packages[@]}"
  boost_complete || fetch_boost
  compiled_sources_complete || fetch_compiled_sources
  compiled_libraries_complete "$root/.deps/mingw" ||
    build_compiled_libraries "$root/.deps/mingw" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
}

main "$@"
