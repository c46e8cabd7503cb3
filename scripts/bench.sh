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
  (cd "$root" && BRINDLE_BENCH_RESULTS="$root/bench/results" "$program")
done

# The whole-process comparison needs unison and rclone (scripts/bench-deps.sh);
# BRINDLE_BENCH_SCALE shrinks its trees (1: the full sizes), and
# BRINDLE_BENCH_REPEATS sets the runs per tool and scenario (3).
if [[ $# -eq 0 || " $* " == *" whole_process "* ]] && command -v unison >/dev/null && command -v rclone >/dev/null; then
  cmake --build "$folder" --target brindle brindle-devserver
  echo "== whole_process"
  BRINDLE_BENCH_RESULTS="$root/bench/results" python3 "$root/bench/whole_process.py" "$folder" \
    --scale "${BRINDLE_BENCH_SCALE:-1}" --repeats "${BRINDLE_BENCH_REPEATS:-3}"
fi

# Gather every table into bench/RESULTS.md.
{
  echo "# Benchmark results"
  echo
  echo "Written by \`scripts/bench.sh\` from the tables in \`bench/results/\`."
  for table in "$root"/bench/results/*.md; do
    [[ "$(basename "$table")" == README.md ]] && continue
    echo
    cat "$table"
  done
} > "$root/bench/RESULTS.md"
echo "Wrote $root/bench/RESULTS.md"
