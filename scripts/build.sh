#!/usr/bin/env bash
# Configures and builds into a build folder: scripts/build.sh [FOLDER] [cmake options...]
# FOLDER defaults to build/. Installs missing Debian packages first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$root/build}
shift || true
"$root/scripts/install-deps.sh"
# Paths relative to the checkout, so that several checkouts share one compiler cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
cmake -S "$root" -B "$folder" -G Ninja "$@" >/dev/null
cmake --build "$folder" -j "$(nproc)"
