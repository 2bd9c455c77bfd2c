#!/usr/bin/env bash
# Fails when a tracked C++ source differs from what .clang-format makes of it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
format=$(command -v clang-format-14 || command -v clang-format) || {
  echo "check-format: clang-format not found" >&2
  exit 1
}
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.hpp' '*.h')
[ ${#files[@]} -eq 0 ] && exit 0
if ! "$format" --dry-run --Werror "${files[@]}"; then
  echo "check-format: run '$format -i' on the files above" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
