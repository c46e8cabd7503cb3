#!/usr/bin/env bash
# Configures and builds into a build folder: scripts/build.sh [FOLDER] [cmake options...]
# FOLDER defaults to build/. Installs missing Debian packages first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$root/build}
shift || true
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$folder" -G Ninja "$@" >/dev/null
cmake --build "$folder" -j "$(nproc)"
