#!/usr/bin/env bash
# Installs what the benchmark needs on Debian 12, on top of scripts/setup-deps.sh
# (the build): libbenchmark-dev (the microbenchmark), GNU time (peak memory),
# strace (--strace), systemd (systemd-tmpfiles, a peer) and python3-matplotlib
# (the chart).
#
# Idempotent: with the packages installed it returns at once.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bench_packages=(libbenchmark-dev time strace systemd findutils python3-matplotlib)

say() { printf 'bench/setup: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

. "$root/scripts/lib/debian-apt.sh"

install_debian_packages "${bench_packages[@]}"
