# Shared by the package scripts (sourced, not run): the version, the time stamp
# of the packaged files, and the release build of the Linux binary.
#
# The sourcing script defines say and die.

# The project's version, as CMake read it from project(... VERSION ...) when it
# configured the build folder $1.
project_version() {
  local version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt" 2>/dev/null)
  [ -n "$version" ] || die "no project version in $1/CMakeCache.txt"
  printf '%s\n' "$version"
}

# Seconds since the epoch for every time stamp in the packages: the last
# commit's time (or SOURCE_DATE_EPOCH when set), so that the packages of one
# commit do not depend on when they were made.
source_date_epoch() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    printf '%s\n' "$SOURCE_DATE_EPOCH"
  elif git -C "$1" rev-parse --git-dir >/dev/null 2>&1; then
    git -C "$1" log -1 --format=%ct
  else
    stat -c %Y "$1/CMakeLists.txt"
  fi
}

# Debian's hardening flags of kind $1 (CPPFLAGS, CXXFLAGS, LDFLAGS), without
# debug information, optimisation level and file prefix map: the release preset
# sets the optimisation, the build maps the source root itself.
debian_build_flags() {
  DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1" | tr ' ' '\n' |
    grep -v -e '^$' -e '^-g$' -e '^-O[0-9s]*$' -e '^-ffile-prefix-map=' -e '^-fdebug-prefix-map=' |
    tr '\n' ' '
}

# Configures the release preset of the source tree $1 in build folder $2 with
# Debian's hardening flags and builds the tool, $2/src/logreap/logreap.
build_linux_release() {
  local source=$1 build=$2
  (cd "$source" &&
    cmake --preset release -B "$build" \
      -DCMAKE_CXX_FLAGS="$(debian_build_flags CPPFLAGS) $(debian_build_flags CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(debian_build_flags LDFLAGS)" >/dev/null) ||
    die "could not configure the release build in $build"
  cmake --build "$build" --target logreap >/dev/null || die "the release build in $build failed"
  [ -x "$build/src/logreap/logreap" ] || die "no $build/src/logreap/logreap after the build"
}

# The third-party notices (packaging/notices/*.txt of the tree $1) that belong
# in the package kind $2 (deb or zip), one file name a line. Each file starts
# with fields (Name, Files, Copyright, License, In) up to a blank line; the
# licence text follows. The file's name without .txt names the library in the
# list of built_libraries.
notice_files() {
  grep -l -E "^In: (.* )?$2( |$)" "$1"/packaging/notices/*.txt | LC_ALL=C sort
}
notice_field() { sed -n -e '/^$/q' -e "s/^$2: //p" "$1"; }
notice_text() { sed -e '1,/^$/d' -e 's/[[:space:]]*$//' "$1"; }
notice_id() { basename "$1" .txt; }

# A value of the CMake cache of the build folder $1.
cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

# The Debian package that installed the file $1, as name=version.
debian_package_of() {
  local owner
  owner=$(dpkg-query -S "$(realpath "$1")" 2>/dev/null | head -n 1) || true
  owner=${owner%%: *}
  owner=${owner%%,*}
  [ -n "$owner" ] || die "no Debian package installed $1"
  printf '%s=%s\n' "${owner%%:*}" "$(dpkg-query -W -f='${Version}' "$owner")"
}

# The version of source package $2 in the stamp $1 that the setup scripts
# left beside what they built ("name version" lines).
stamped_version() {
  local version
  version=$(awk -v name="$2" '$1 == name { print $2 }' "$1" 2>/dev/null)
  [ -n "$version" ] || die "no version of $2 in $1"
  printf '%s\n' "$version"
}

# The value of a version file of a CMake package, set(PACKAGE_VERSION "...").
cmake_package_version() { sed -n 's/^set(PACKAGE_VERSION "\([^"]*\)")$/\1/p' "$1"; }

# The libraries built into the package kind $2 (deb or zip) by the build in
# folder $1, one a line: the notice's name, the library's version as the build
# found it (CMake package files, version headers, the compiler's macros), and
# the Debian package it comes from, as name=version, or src:name=version for a
# source package whose upstream sources the setup scripts built.
built_libraries() { # build folder, kind
  local build=$1 kind=$2 dir prefix include stamp cxx macros
  # fmt and spdlog: the CMake packages the build found, and the stamp of the
  # sources they were built from.
  dir=$(cache_value "$build" fmt_DIR)
  prefix=$(cd "$dir/../../.." && pwd)
  printf 'fmt %s src:fmtlib=%s\n' "$(cmake_package_version "$dir/fmt-config-version.cmake")" \
    "$(stamped_version "$prefix/compiled.stamp" fmtlib)"
  dir=$(cache_value "$build" spdlog_DIR)
  printf 'spdlog %s src:spdlog=%s\n' "$(cmake_package_version "$dir/spdlogConfigVersion.cmake")" \
    "$(stamped_version "$prefix/compiled.stamp" spdlog)"
  # toml11: the version header the build read, and the package whose headers
  # scripts/setup-deps.sh unpacked (its stamp holds the .deb's file name).
  include=$(cache_value "$build" TOML11_DIR)
  stamp=$(sed -n 's/^\(libtoml11-dev\)_\([^_]*\)_.*\.deb$/\1=\2/p' "$include/../headers.stamp" | sed 's/%3a/:/g')
  [ -n "$stamp" ] || die "no libtoml11-dev in $include/../headers.stamp"
  printf 'toml11 %s %s\n' "$(awk '/#define TOML11_VERSION_(MAJOR|MINOR|PATCH) / { v = v sep $3; sep = "." }
    END { print v }' "$include/toml11/version.hpp")" "$stamp"
  # Boost.Program_options: Debian's static library, or compiled by the cross
  # build from the sources of Debian's Boost that scripts/setup-windows-deps.sh
  # unpacked (cmake/mingw-w64-x86_64.cmake).
  if [ "$kind" = deb ]; then
    include=$(cache_value "$build" Boost_INCLUDE_DIR)
    stamp=$(debian_package_of "$(cache_value "$build" Boost_PROGRAM_OPTIONS_LIBRARY_RELEASE)")
  else
    dir="$(cache_value "$build" CMAKE_HOME_DIRECTORY)/.deps/windows"
    include="$dir/include"
    stamp="src:$(awk '{ print $1 "=" $2 }' "$dir/boost.stamp")"
  fi
  printf 'boost %s %s\n' "$(awk '$1 == "#define" && $2 == "BOOST_VERSION" {
    printf "%d.%d.%d\n", $3 / 100000, $3 / 100 % 1000, $3 % 100 }' "$include/boost/version.hpp")" "$stamp"
  # The zip's runtime, linked statically: GCC's libraries, the mingw-w64 CRT
  # and winpthreads, as the cross compiler finds them.
  if [ "$kind" = zip ]; then
    cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1)
    [ -x "$cxx" ] || die "no compiler named in $build/CMakeFiles/*/CMakeCXXCompiler.cmake"
    macros=$(printf '#include <_mingw.h>\n' | "$cxx" -dM -E -x c++ -)
    # Debian's mingw-w64 GCC calls itself 12-posix (its minor version macro
    # says 0): the release is the upstream part of its package's version,
    # which is GCC's own (12.2.0-14 is Debian's GCC 12.2.0).
    local gcc
    gcc=$(debian_package_of "$("$cxx" -print-file-name=libstdc++.a)")
    printf 'gcc-runtime %s %s\n' "$(sed 's/^[^=]*=\([0-9][0-9.]*\)-.*/\1/' <<<"$gcc")" "$gcc"
    local mingw
    mingw=$(awk '$2 == "__MINGW64_VERSION_MAJOR" { a = $3 } $2 == "__MINGW64_VERSION_MINOR" { b = $3 }
      $2 == "__MINGW64_VERSION_BUGFIX" { c = $3 } END { print a "." b "." c }' <<<"$macros")
    printf 'mingw-w64-runtime %s %s\n' "$mingw" "$(debian_package_of "$("$cxx" -print-file-name=crt2.o)")"
    printf 'winpthreads %s %s\n' "$mingw" "$(debian_package_of "$("$cxx" -print-file-name=libwinpthread.a)")"
  fi
}

# The libraries built into the package kind $3 by the build in folder $2,
# checked against the notices of the tree $1: each library has its notice and
# each notice its library, and every version is known.
checked_built_libraries() { # tree, build folder, kind
  local libraries notices names
  libraries=$(built_libraries "$2" "$3") || exit 1
  if awk 'NF != 3 || $2 !~ /^[0-9]/ || $3 !~ /=./ { bad = 1 } END { exit !bad }' <<<"$libraries"; then
    die "a library version could not be read from the build in $2:
$libraries"
  fi
  notices=$(for notice in $(notice_files "$1" "$3"); do notice_id "$notice"; done | tr '\n' ' ')
  names=$(cut -d' ' -f1 <<<"$libraries" | LC_ALL=C sort | tr '\n' ' ')
  [ "$names" = "$notices" ] ||
    die "the libraries built into the $3 package ($names) are not those with notices ($notices)"
  LC_ALL=C sort <<<"$libraries"
}

# The version of the library of notice $2 among the libraries $1 (from
# checked_built_libraries) in words: "fmt 11.1.1 src:fmtlib=11.1.1+ds1-2" is
# "11.1.1, built from Debian's source package fmtlib 11.1.1+ds1-2".
library_version() { # libraries, notice
  local name version origin how="from Debian's package"
  read -r name version origin <<<"$(awk -v id="$(notice_id "$2")" '$1 == id' <<<"$1")"
  [ -n "${origin:-}" ] || die "no version known for $2"
  if [ "${origin#src:}" != "$origin" ]; then
    origin=${origin#src:}
    how="built from Debian's source package"
  fi
  printf '%s, %s %s %s' "$version" "$how" "${origin%%=*}" "${origin#*=}"
}

# The notices for the Debian copyright file, with the libraries' versions
# ($2, from checked_built_libraries): one Files paragraph each, in the
# format's own form (the licence text indented, its blank lines as " .").
notices_as_copyright() { # tree, libraries
  local notice
  for notice in $(notice_files "$1" deb); do
    printf '\nFiles: %s\n' "$(notice_field "$notice" Files)"
    printf 'Copyright: %s\n' "$(notice_field "$notice" Copyright)"
    printf 'Comment: %s %s, linked statically into /usr/bin/logreap.\n' "$(notice_field "$notice" Name)" \
      "$(library_version "$2" "$notice")"
    printf 'License: %s\n' "$(notice_field "$notice" License)"
    notice_text "$notice" | sed -e 's/^$/./' -e 's/^/ /'
  done
}

# The notices as a plain text for the zip (LF line ends), with the libraries'
# versions ($2, from checked_built_libraries).
notices_as_text() { # tree, libraries
  local notice name
  printf 'Third-party software in logreap.exe\n'
  printf '===================================\n\n'
  printf 'logreap.exe contains the following libraries, linked into it. Their\n'
  printf 'versions, copyright notices and licences follow.\n'
  for notice in $(notice_files "$1" zip); do
    name=$(notice_field "$notice" Name)
    printf '\n\n%s\n%s\n\n' "$name" "$(printf '%s' "$name" | tr -c '' '-')"
    printf 'Version: %s\n' "$(library_version "$2" "$notice")"
    printf 'Copyright: %s\nLicence: %s\n\n' "$(notice_field "$notice" Copyright)" "$(notice_field "$notice" License)"
    notice_text "$notice"
  done
}

# The Debian changelog made from CHANGELOG.md ($1): an entry for each heading
# "## VERSION (YYYY-MM-DD)", newest first, signed by $2 on that day; each item
# ("- " and the lines indented under it) one of the entry's lines.
debian_changelog() { # changelog, maintainer
  local line version="" date="" count=0
  while IFS= read -r line; do
    if [[ $line =~ ^##\ ([0-9][^ ]*)\ \(([0-9]{4}-[0-9]{2}-[0-9]{2})\)$ ]]; then
      if [ -n "$version" ]; then changelog_trailer "$2" "$date"; fi
      version=${BASH_REMATCH[1]}
      date=${BASH_REMATCH[2]}
      [ "$count" -eq 0 ] || printf '\n'
      printf 'logreap (%s) unstable; urgency=medium\n\n' "$version"
      count=$((count + 1))
    elif [ -z "$version" ] || [ -z "$line" ]; then
      continue
    elif [[ $line == "- "* ]]; then
      printf '  * %s\n' "${line#- }"
    elif [[ $line == "  "* ]]; then
      printf '    %s\n' "${line#  }"
    else
      die "$1: under $version, a line that is no item: $line"
    fi
  done <"$1"
  [ -n "$version" ] || die "$1 holds no heading \"## VERSION (YYYY-MM-DD)\""
  changelog_trailer "$2" "$date"
}
changelog_trailer() { printf '\n -- %s  %s\n' "$1" "$(LC_ALL=C date -u -R -d "$2 00:00:00Z")"; }

# The version of the newest entry of CHANGELOG.md ($1).
changelog_version() { sed -n 's/^## \([0-9][^ ]*\) (.*$/\1/p' "$1" | head -n 1; }

# dist/VERSIONS in the folder $1: the libraries built into each package, one a
# line ("package library version debian-package"). The lines of the package
# $2 are replaced by the libraries $3 (from checked_built_libraries); those of
# the other packages stay.
write_versions() { # folder, package file, libraries
  local file="$1/VERSIONS"
  {
    printf '# package library version debian-package (src: a source package built here)\n'
    {
      if [ -f "$file" ]; then awk -v p="$2" '!/^#/ && $1 != p' "$file"; fi
      sed "s|^|$2 |" <<<"$3"
    } | LC_ALL=C sort
  } >"$file.new" && mv "$file.new" "$file"
}

# SHA256SUMS in the folder $1 over what it publishes (the packages, the .deb's
# .buildinfo, VERSIONS), for sha256sum --check, and its OpenPGP signature
# SHA256SUMS.asc when a key is given (sign_checksums).
write_checksums() {
  (cd "$1" && find . -maxdepth 1 -type f \( -name '*.deb' -o -name '*.zip' -o -name '*.buildinfo' -o -name VERSIONS \) \
    -printf '%P\n' | LC_ALL=C sort | xargs -r sha256sum -- >SHA256SUMS.new && mv SHA256SUMS.new SHA256SUMS)
  sign_checksums "$1"
}

# With LOGREAP_SIGN_GPG_KEY set (a fingerprint, key ID or user ID of a secret
# key in gpg's keyring, GNUPGHOME or ~/.gnupg), SHA256SUMS.asc: a detached,
# ASCII-armoured OpenPGP signature of SHA256SUMS by that key, whose passphrase,
# if it has one, is in the file LOGREAP_SIGN_GPG_PASSPHRASE_FILE. Without a
# key an earlier signature is removed: it no longer matches.
sign_checksums() {
  local dir=$1 args=(--batch --yes --armor --detach-sign) err
  rm -f "$dir/SHA256SUMS.asc"
  [ -n "${LOGREAP_SIGN_GPG_KEY:-}" ] || return 0
  command -v gpg >/dev/null || die "gpg is needed to sign SHA256SUMS (LOGREAP_SIGN_GPG_KEY); install the package gpg"
  if [ -n "${LOGREAP_SIGN_GPG_PASSPHRASE_FILE:-}" ]; then
    [ -r "$LOGREAP_SIGN_GPG_PASSPHRASE_FILE" ] ||
      die "LOGREAP_SIGN_GPG_PASSPHRASE_FILE: cannot read $LOGREAP_SIGN_GPG_PASSPHRASE_FILE"
    args+=(--pinentry-mode loopback --passphrase-file "$LOGREAP_SIGN_GPG_PASSPHRASE_FILE")
  fi
  err=$(mktemp)
  if ! gpg "${args[@]}" --local-user "$LOGREAP_SIGN_GPG_KEY" --output "$dir/SHA256SUMS.asc" "$dir/SHA256SUMS" \
    2>"$err"; then
    rm -f "$dir/SHA256SUMS.asc"
    die "gpg could not sign SHA256SUMS with the key $LOGREAP_SIGN_GPG_KEY: $(tail -n 3 "$err"; rm -f "$err")"
  fi
  rm -f "$err"
  say "signed SHA256SUMS with the OpenPGP key $LOGREAP_SIGN_GPG_KEY (SHA256SUMS.asc)"
}
