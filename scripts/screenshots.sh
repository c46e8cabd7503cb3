#!/usr/bin/env bash
# Draws the pictures in docs/screenshots/ from the real widgets, on an X
# server without a screen (Xvfb): scripts/screenshots.sh [BUILD-FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$root/build}
[[ -x "$folder/brindle-screenshots" ]] || "$root/scripts/build.sh" "$folder"
mkdir -p "$root/docs/screenshots"
number=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x1024x24 3>"$number" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; rm -f "$number"' EXIT
for _ in $(seq 100); do [[ -s "$number" ]] && break; sleep 0.1; done
DISPLAY=":$(cat "$number")" QT_QPA_PLATFORM=xcb "$folder/brindle-screenshots" "$root/docs/screenshots"
