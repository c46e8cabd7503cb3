#!/usr/bin/env bash
# Usage: docs/breaks/run.sh LABEL — applies each break in turn in "$(git rev-parse --show-toplevel)",
# rebuilds the test programs of the folders whose suites catch it, runs those
# suites under ctest and records the failures; reverts each break.
set -u
label=$1
cd "$(git rev-parse --show-toplevel)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
declare -A targets=(
  [1-decision-row]="threeway"
  [2-conflict-name]="common git threeway"
  [3-busy-file]="threeway"
  [4-secret-lock]="service"
  [5-report-field]="engine"
  [6-retry-count]="dropbox"
  [7-morsel-text-limit]="morsels"
  [8-share-retries]="sharing"
  [9-large-file-limit]="git"
  [10-free-margin]="drives"
)
for p in docs/breaks/[0-9]*-*.patch; do
  name=$(basename "$p" .patch)
  out=$PWD/docs/breaks/$label-$name.log
  git apply "$p" || { echo "$name: apply failed" >> docs/breaks/$label-summary.txt; continue; }
  regex=""
  build=()
  for t in ${targets[$name]}; do build+=(--target "test_$t"); done
  if cmake --build build-test -j2 "${build[@]}" > "$out.build" 2>&1; then
    for t in ${targets[$name]}; do
      suites=$(build-test/tests/test_$t --gtest_list_tests | grep -E '^[A-Za-z]' | sed 's/\..*//;s|/.*||' | sort -u | paste -sd'|')
      regex="${regex:+$regex|}$suites"
    done
    (cd build-test && ctest -j2 --timeout 300 -R "^(.*/)?($regex)\." > "$out" 2>&1)
    failed=$(grep -E '^\s+[0-9]+ - ' "$out" | sed -E 's/^\s+[0-9]+ - //' | tr '\n' ';')
    echo "$name: ${failed:-NONE CAUGHT}" >> docs/breaks/$label-summary.txt
  else
    echo "$name: BUILD FAILED" >> docs/breaks/$label-summary.txt
  fi
  git apply -R "$p"
done
echo "finished" >> docs/breaks/$label-summary.txt
