# Shared by scripts/demo.sh and scripts/test-packages.sh (sourced, not run): the
# demonstration tree, and what is left of it after a run.

# Lays out under $1 old files (30 days, past the 14-day retention) and recent
# ones, a chain of empty subdirectories, a file outside the purged trees, and
# config/config.toml: the example configuration from $2, pointed at the tree
# as the tool sees it ($3, the same folder $1 by another name, defaults to
# $1), with the purge's own messages on the console.
make_demo_tree() {
  local demo=$1 example=$2 seen=${3:-$1}
  local install="$demo/install" userdata="$demo/userdata"
  old() { mkdir -p "$(dirname "$1")" && echo "old entry" >"$1" && touch -d '30 days ago' "$1"; }
  new() { mkdir -p "$(dirname "$1")" && echo "recent entry" >"$1"; }
  old "$userdata/public/Logs/agent_2026-01-01.log"
  old "$userdata/public/Logs/archive/2025/11/agent.log"
  new "$userdata/public/Logs/agent_today.log"
  old "$install/logs/rfc/old-trace.txt"
  new "$install/logs/rfc/current-trace.txt"
  old "$install/logs/core.dump"
  mkdir -p "$install/logs/empty/chain/of/directories"
  old "$install/bin/not-a-log.exe" # outside the purged trees: stays

  mkdir -p "$demo/config" "$demo/work"
  sed -e "s|^install = .*|install = \"$seen/install\"|" \
    -e "s|^userdata = .*|userdata = \"$seen/userdata\"|" \
    -e "s|^level = .*|level = \"debug\"|" \
    -e "s|^consolelevel = .*|consolelevel = \"debug\"|" \
    "$example" >"$demo/config/config.toml"
}

# The entries of the demonstration tree under $1, one a line, sorted.
demo_tree_listing() {
  (cd "$1" && find install userdata -mindepth 1 | LC_ALL=C sort)
}

# What a run leaves of the tree (the daily log file's date as YYYY-MM-DD).
demo_tree_expected_after_run() {
  cat <<'LISTING'
install/bin
install/bin/not-a-log.exe
install/logs
install/logs/rfc
install/logs/rfc/current-trace.txt
userdata/public
userdata/public/Logs
userdata/public/Logs/agent_today.log
userdata/public/Logs/logreap_YYYY-MM-DD.log
LISTING
}
