# Shared by the setup scripts (sourced, not run): fmt and spdlog built once as
# static libraries from the sources of Debian's packages of a newer suite, and
# installed with their CMake package files into a prefix of .deps, where the
# project's find_package(... CONFIG) finds them.
#
# The sourcing script defines say, die and root, and has sourced debian-apt.sh.

# The pinned source versions, and the pattern each falls back to when the
# pinned one has left the archive.
compiled_sources=(
  "fmtlib 11.1.1+ds1-2 ^11\\."
  "spdlog 1:1.15.3+ds-1 ^1:1\\.(1[5-9]|[2-9][0-9])\\."
)
compiled_src="$root/.deps/src"

compiled_sources_complete() {
  [ -f "$compiled_src/sources.stamp" ] && [ -f "$compiled_src/fmt/CMakeLists.txt" ] &&
    [ -f "$compiled_src/spdlog/CMakeLists.txt" ]
}

# The upstream tarball of source package $1 at version $2, as "<pool path>
# <sha256>", read from the signed source index.
orig_tarball_of() {
  apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null | awk -v version="$2" '
    BEGIN { RS = ""; FS = "\n" }
    {
      dir = ""; sum = ""; ok = 0; inSums = 0
      for (i = 1; i <= NF; i++) {
        if ($i == "Version: " version) ok = 1
        if ($i ~ /^Directory: /) dir = substr($i, 12)
        if ($i ~ /^Checksums-Sha256:/) { inSums = 1; continue }
        if (inSums && $i !~ /^ /) inSums = 0
        if (inSums && $i ~ /\.orig\.tar\./) { split($i, f, " "); sum = f[1]; file = f[3] }
      }
      if (ok && dir != "" && sum != "") { print dir "/" file, sum; exit }
    }'
}

# Downloads the upstream sources of the source packages, checked against the
# signed index, and unpacks them into .deps/src/fmt and .deps/src/spdlog.
# Only the upstream tarball is taken: Debian's packaging is not needed to build
# the libraries, and mirrors may drop a superseded revision's own files first.
fetch_compiled_sources() {
  local archive work line name pin pattern chosen tarball path sum
  archive=$(debian_archive)
  work=$(mktemp -d)
  say "reading the source package lists of the newer Debian suites"
  private_apt_state "$work/apt" < <(newer_suites_sources deb-src "$archive")
  rm -rf "$compiled_src.new"
  mkdir -p "$compiled_src.new"
  for line in "${compiled_sources[@]}"; do
    read -r name pin pattern <<<"$line"
    chosen=$(apt-cache "${apt_opts[@]}" showsrc "$name" 2>/dev/null | sed -n 's/^Version: //p' |
      pick_version "$name" "$pin" "$pattern") || exit 1
    read -r path sum <<<"$(orig_tarball_of "$name" "$chosen")"
    [ -n "${sum:-}" ] || die "no upstream tarball listed for $name $chosen"
    tarball="$work/${path##*/}"
    say "downloading the upstream sources of $name $chosen"
    /usr/lib/apt/apt-helper download-file "$archive/$path" "$tarball" "SHA256:$sum" >/dev/null 2>"$work/dl.err" ||
      die "could not download $archive/$path: $(tail -n 3 "$work/dl.err")"
    mkdir -p "$work/$name"
    tar -xf "$tarball" -C "$work/$name" --strip-components=1 || die "could not unpack $tarball"
    printf '%s %s\n' "$name" "$chosen" >>"$compiled_src.new/sources.stamp"
  done
  mv "$work/fmtlib" "$compiled_src.new/fmt"
  mv "$work/spdlog" "$compiled_src.new/spdlog"
  rm -rf "$compiled_src" "$work"
  mv "$compiled_src.new" "$compiled_src"
  say "sources in $compiled_src: $(tr '\n' ' ' <"$compiled_src/sources.stamp")"
}

compiled_libraries_complete() {
  local prefix=$1
  [ -f "$prefix/compiled.stamp" ] && cmp -s "$prefix/compiled.stamp" "$compiled_src/sources.stamp"
}

# Builds and installs fmt, then spdlog against it, into `prefix`; any further
# arguments go to CMake's configure step (a toolchain file, for instance).
build_compiled_libraries() {
  local prefix=$1
  shift
  local build="$prefix.build"
  rm -rf "$prefix" "$build"
  local common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DBUILD_SHARED_LIBS=OFF "$@")
  say "building fmt into $prefix"
  cmake -S "$compiled_src/fmt" -B "$build/fmt" "${common[@]}" -DFMT_TEST=OFF -DFMT_DOC=OFF \
    -DFMT_INSTALL=ON >"$build.log" 2>&1 && cmake --build "$build/fmt" >>"$build.log" 2>&1 &&
    cmake --install "$build/fmt" >>"$build.log" 2>&1 || { tail -n 20 "$build.log" >&2; die "fmt did not build"; }
  say "building spdlog into $prefix"
  cmake -S "$compiled_src/spdlog" -B "$build/spdlog" "${common[@]}" -DSPDLOG_FMT_EXTERNAL=ON -Dfmt_DIR="$prefix/lib/cmake/fmt" \
    -DSPDLOG_BUILD_EXAMPLE=OFF -DSPDLOG_BUILD_TESTS=OFF -DSPDLOG_BUILD_BENCH=OFF -DSPDLOG_INSTALL=ON \
    >>"$build.log" 2>&1 && cmake --build "$build/spdlog" >>"$build.log" 2>&1 &&
    cmake --install "$build/spdlog" >>"$build.log" 2>&1 || { tail -n 20 "$build.log" >&2; die "spdlog did not build"; }
  cp "$compiled_src/sources.stamp" "$prefix/compiled.stamp"
  rm -rf "$build" "$build.log"
}
