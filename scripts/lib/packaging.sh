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
# licence text follows.
notice_files() {
  grep -l -E "^In: (.* )?$2( |$)" "$1"/packaging/notices/*.txt | LC_ALL=C sort
}
notice_field() { sed -n -e '/^$/q' -e "s/^$2: //p" "$1"; }
notice_text() { sed -e '1,/^$/d' -e 's/[[:space:]]*$//' "$1"; }

# The notices for the Debian copyright file: one Files paragraph each, in the
# format's own form (the licence text indented, its blank lines as " .").
notices_as_copyright() { # tree
  local notice
  for notice in $(notice_files "$1" deb); do
    printf '\nFiles: %s\n' "$(notice_field "$notice" Files)"
    printf 'Copyright: %s\n' "$(notice_field "$notice" Copyright)"
    printf 'Comment: %s, linked statically into /usr/bin/logreap.\n' "$(notice_field "$notice" Name)"
    printf 'License: %s\n' "$(notice_field "$notice" License)"
    notice_text "$notice" | sed -e 's/^$/./' -e 's/^/ /'
  done
}

# The notices as a plain text for the zip (LF line ends).
notices_as_text() { # tree
  local notice name
  printf 'Third-party software in logreap.exe\n'
  printf '===================================\n\n'
  printf 'logreap.exe contains the following libraries, linked into it. Their\n'
  printf 'copyright notices and licences follow.\n'
  for notice in $(notice_files "$1" zip); do
    name=$(notice_field "$notice" Name)
    printf '\n\n%s\n%s\n\n' "$name" "$(printf '%s' "$name" | tr -c '' '-')"
    printf 'Copyright: %s\nLicence: %s\n\n' "$(notice_field "$notice" Copyright)" "$(notice_field "$notice" License)"
    notice_text "$notice"
  done
}

# SHA256SUMS in the folder $1 over the packages in it, for sha256sum --check.
write_checksums() {
  (cd "$1" && find . -maxdepth 1 -type f \( -name '*.deb' -o -name '*.zip' \) -printf '%P\n' |
    LC_ALL=C sort | xargs -r sha256sum -- >SHA256SUMS.new && mv SHA256SUMS.new SHA256SUMS)
}
