#!/usr/bin/env bash
# Installs the tools the benchmarks compare against (scripts/bench-packages.txt)
# when missing. CI does not need them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/install-deps.sh" "$here/bench-packages.txt"
