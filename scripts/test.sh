#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# them all with ctest. Extra arguments go to ctest (e.g. -R Syncer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=$root/build-test
"$root/scripts/build.sh" "$folder" -DBRINDLE_SANITIZE=ON -DBRINDLE_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$folder"
ctest --output-on-failure -j "$(nproc)" --timeout 900 "$@"
