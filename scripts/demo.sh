#!/usr/bin/env bash
# The main job: builds Brindle and runs a sync demo that needs nothing from
# outside this machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$root/build" -DBRINDLE_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
exec "$root/scripts/demo-run.sh" "$root/build" "$@"
