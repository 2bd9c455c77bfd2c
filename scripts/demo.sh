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
. "$root/scripts/lib/demo-tree.sh"
make_demo_tree "$demo" config/config.toml

show() { demo_tree_listing "$demo" | sed 's/^/  /'; }
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
