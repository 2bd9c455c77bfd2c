# Shared by the setup scripts (sourced, not run): installing Debian packages and
# reading Debian's archive through a private apt state, so that the machine's
# own apt configuration and state are never changed.
#
# The sourcing script defines say and die.

# Installs those of the given Debian packages that are missing.
install_debian_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  command -v apt-get >/dev/null || die "apt-get not found; install by hand: ${missing[*]}"
  say "installing ${missing[*]}"
  if [ ! -f /var/lib/apt/lists/lock ] || [ -z "$(ls /var/lib/apt/lists/ 2>/dev/null | grep -v lock)" ] ||
     ! apt-cache show "${missing[0]}" >/dev/null 2>&1; then
    apt-get update -qq
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    die "apt-get could not install: ${missing[*]}"
}

# The Debian archive address as the machine's own apt sources name it.
debian_archive() {
  local uri=""
  if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null; then
    uri=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' \
      /etc/apt/sources.list.d/*.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { if ($i !~ /security/) { print $i; exit } } }' \
      /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || die "no Debian archive found in the machine's apt sources"
  printf '%s\n' "${uri%/}"
}

# Sets up a private apt state in directory $1 whose sources are the lines on
# standard input, reads its package lists, and leaves in the array apt_opts the
# options that make apt-get and apt-cache use it. Call it in the current shell
# (not in a pipeline), so that apt_opts stays set.
private_apt_state() {
  local work=$1
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  : >"$work/status"
  cat >"$work/sources.list"
  apt_opts=(-o "Dir::State=$work" -o "Dir::State::Lists=$work/lists" -o "Dir::State::status=$work/status"
    -o "Dir::Cache=$work/cache" -o "Dir::Etc::SourceList=$work/sources.list"
    -o "Dir::Etc::SourceParts=$work/none" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
  apt-get "${apt_opts[@]}" update -qq >/dev/null 2>"$work/update.err" ||
    die "could not read the package lists: $(tail -n 3 "$work/update.err")"
}

# The newer Debian suites that the libraries too old in Debian 12 come from.
newer_suites=(stable testing unstable)

# Their apt source lines of kind $1 (deb or deb-src) in the archive $2 (see
# debian_archive), for private_apt_state.
newer_suites_sources() {
  local suite
  for suite in "${newer_suites[@]}"; do
    echo "$1 [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $2 $suite main"
  done
}

# Of the versions of package $1 on standard input (one a line), the pinned
# version $2 if it is there, else the newest that matches the pattern $3.
# Call it as chosen=$(... | pick_version ...) || exit 1.
pick_version() {
  local name=$1 pin=$2 pattern=$3 versions chosen
  versions=$(cat)
  if grep -qxF "$pin" <<<"$versions"; then
    printf '%s\n' "$pin"
    return 0
  fi
  chosen=$(grep -E "$pattern" <<<"$versions" | sort -V | tail -n 1 || true)
  [ -n "$chosen" ] || die "no $name of the needed version ($pattern) in the suites ${newer_suites[*]}"
  say "$name $pin has left the archive; taking $chosen"
  printf '%s\n' "$chosen"
}
