#!/usr/bin/env bash
# Fails when a tracked C++ source other than config/TomlDocument.hpp includes
# toml11 itself. That header carries corrections to toml11's parser which every
# file instantiating the parser must see; a file that included <toml.hpp> on
# its own could emit the uncorrected parser and, depending on link order,
# replace the corrected one in the whole program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
door=src/libs/config/TomlDocument.hpp
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.hpp' '*.h' '*.inc')
offenders=$(grep -lE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](toml\.hpp|toml11/)' "${files[@]}" |
  grep -vxF "$door" || true)
if [ -n "$offenders" ]; then
  echo "check-includes: only $door may include toml11; include it instead in:" >&2
  printf '  %s\n' $offenders >&2
  exit 1
fi
echo "check-includes: toml11 is included by $door alone"
