#!/usr/bin/env bash
# Builds Brindle's Debian package (optimised, without tests or benchmarks),
# checks it with lintian (any error fails), and prints the .deb's path as the
# last line. scripts/package.sh [FOLDER] (default build-package/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$root/build-package}
"$root/scripts/install-deps.sh" >&2
"$root/scripts/install-deps.sh" "$root/scripts/package-packages.txt" >&2
"$root/scripts/build.sh" "$folder" -DCMAKE_BUILD_TYPE=Release -DBRINDLE_TESTS=OFF -DBRINDLE_BENCH=OFF >&2
rm -f "$folder"/brindle_*.deb
(cd "$folder" && cpack -G DEB >&2)
deb=$(ls "$folder"/brindle_*.deb)
# Errors fail the package; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$deb" >&2
echo "$deb"
