#!/usr/bin/env bash
# Checks the C++ files changed since BASE: clang-format on the changed lines,
# clang-tidy (the checks of .clang-tidy) on the changed sources, with the
# compile commands of BUILD. scripts/lint.sh [BASE] [BUILD]
# BASE defaults to the commit named in .ci/lint-base (the last one checked in
# full); BUILD to build-test. Exits 1 on any finding.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
base=${1:-$(cat .ci/lint-base)}
build=${2:-$root/build-test}
if ! git cat-file -e "$base^{commit}" 2>/dev/null; then
  echo "lint: $base is not in this clone; checking the last commit only"
  base=HEAD~1
fi
status=0

echo "lint: clang-format on the lines changed since $base"
# git-clang-format exits 0 either way: a diff on its output is the finding.
git clang-format --diff -q "$base" -- src tests bench >/tmp/brindle-format.diff 2>&1 || true
if grep -q '^diff --git' /tmp/brindle-format.diff; then
  cat /tmp/brindle-format.diff
  echo "lint: clang-format wants the changes above (run: git clang-format $base)"
  status=1
fi

# Only sources the build compiles have compile commands (benchmarks are not
# part of the test build).
mapfile -t sources < <(git diff --name-only --diff-filter=AMR "$base" -- 'src/*.cpp' 'tests/*.cpp' 'bench/*.cpp' |
  while read -r file; do grep -q "\"$root/$file\"" "$build/compile_commands.json" && echo "$file"; done)
if ((${#sources[@]})); then
  echo "lint: clang-tidy on ${#sources[@]} changed files"
  if ! printf '%s\n' "${sources[@]}" |
      xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet --warnings-as-errors='*' 2>/dev/null; then
    echo "lint: clang-tidy found the problems above"
    status=1
  fi
fi
exit $status
