#!/usr/bin/env bash
# Lays out host links for the Windows run tests, which Wine cannot create: for
# every NAME, DIR/NAME/holder/NAME is a symbolic link to the empty folder
# DIR/NAME/target. A test moves the real folder `holder` into its tree (Wine
# renames a folder with the link inside it, but moving the link itself would
# move its target) and fills `target` through its own path. CTest runs this on
# the host before the tests, on every run; DIR is replaced as a whole.
set -euo pipefail
[ $# -ge 2 ] && [ "${1:0:1}" = / ] || { echo "usage: $0 /ABSOLUTE/DIR NAME..." >&2; exit 2; }
dir=$1
shift
rm -rf -- "$dir"
for name in "$@"; do
  mkdir -p -- "$dir/$name/holder" "$dir/$name/target"
  ln -s -- "$dir/$name/target" "$dir/$name/holder/$name"
done
