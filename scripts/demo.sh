#!/usr/bin/env bash
# Builds logreap and runs its main job on a demonstration tree under a fresh
# temporary folder: old and recent files, a chain of empty subdirectories, and
# the example configuration pointed at that tree.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
tool="$root/build/release/src/logreap/logreap"

demo=$(mktemp -d /tmp/logreap-demo.XXXXXX)
install="$demo/install"
userdata="$demo/userdata"

# Files 30 days old (past the 14-day retention) and files written now.
old() { mkdir -p "$(dirname "$1")" && echo "old entry" >"$1" && touch -d '30 days ago' "$1"; }
new() { mkdir -p "$(dirname "$1")" && echo "recent entry" >"$1"; }
old "$userdata/public/Logs/agent_2026-01-01.log"
old "$userdata/public/Logs/archive/2025/11/agent.log"
new "$userdata/public/Logs/agent_today.log"
old "$install/logs/rfc/old-trace.txt"
new "$install/logs/rfc/current-trace.txt"
old "$install/logs/core.dump"
mkdir -p "$install/logs/empty/chain/of/directories"
old "$install/bin/not-a-log.exe"  # outside the purged trees: stays

# The example configuration, pointed at the demonstration tree, with the
# purge's own messages on the console.
mkdir -p "$demo/config" "$demo/work"
sed -e "s|^install = .*|install = \"$install\"|" \
    -e "s|^userdata = .*|userdata = \"$userdata\"|" \
    -e "s|^level = .*|level = \"debug\"|" \
    -e "s|^consolelevel = .*|consolelevel = \"debug\"|" \
    config/config.toml >"$demo/config/config.toml"

show() { (cd "$demo" && find install userdata -mindepth 1 | sort | sed 's/^/  /'); }
echo "== The tree before the run ($demo)"
show
echo
echo "== logreap, started in $demo/work (so it reads ../config/config.toml)"
status=0
(cd "$demo/work" && "$tool") || status=$?
echo
echo
echo "== The tree after the run (exit status $status)"
show
echo
echo "The demonstration tree stays in $demo; remove it with: rm -rf '$demo'"
exit "$status"
