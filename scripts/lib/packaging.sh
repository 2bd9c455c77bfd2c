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
