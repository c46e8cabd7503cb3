#!/usr/bin/env bash
# Builds the benchmark programs (optimised, no sanitizers) and runs them;
# each prints its table in Markdown, collected into bench/RESULTS.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=$root/build-bench
"$root/scripts/build.sh" "$folder" -DBRINDLE_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
for program in "$folder"/bench/bench_*; do
  [[ -x "$program" ]] || continue
  if [[ $# -gt 0 ]]; then
    match=0
    for want in "$@"; do [[ "$(basename "$program")" == *"$want"* ]] && match=1; done
    ((match)) || continue
  fi
  echo "== $(basename "$program")"
  "$program"
done
