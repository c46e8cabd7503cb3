#!/usr/bin/env bash
# Runs the demo with an already built program: scripts/demo-run.sh BUILD [REMOTE]
#
# Two "computers" (two folders, each with its own repository directory) sync
# through one git remote: a bare repository made under BUILD/demo, or REMOTE
# when given. Everything lives under BUILD/demo; nothing of the user's own
# files or git configuration is read or touched.
set -euo pipefail
build=$(cd "$1" && pwd)
brindle=$build/brindle
demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo"

export GIT_CONFIG_GLOBAL=/dev/null GIT_CONFIG_NOSYSTEM=1
export LARDER_LOG=$demo/brindle.log

remote=${2:-}
if [[ -z "$remote" ]]; then
  git init -q --bare -b main "$demo/remote.git"
  remote=file://$demo/remote.git
fi
laptop=$demo/Laptop/Larder
desktop=$demo/Desktop/Larder

step() { printf '\n== %s\n' "$*"; }
sync() { # sync NAME FOLDER DEVICE
  local state=$demo/$1-state/sync.git
  echo "\$ brindle --sync-once $2 $state $remote \"$3\""
  "$brindle" --sync-once "$2" "$state" "$remote" "$3" 2>&1 | sed 's/^/   /'
}

step "A laptop starts with a few files"
mkdir -p "$laptop/notes" "$laptop/recipes"
printf '# Plan\n\n- write the demo\n' > "$laptop/notes/plan.md"
printf 'milk\neggs\n' > "$laptop/shopping.txt"
printf 'Bread: flour, water, salt, yeast.\n' > "$laptop/recipes/bread.md"
sync laptop "$laptop" "Demo Laptop"

step "A desktop with an empty folder takes what is already there"
sync desktop "$desktop" "Demo Desktop"
(cd "$desktop" && find . -type f | sort | sed 's/^/   /')

step "The laptop edits a file and adds one; the desktop picks them up"
printf 'milk\neggs\ncoffee\n' > "$laptop/shopping.txt"
printf 'Soup: leeks, potatoes.\n' > "$laptop/recipes/soup.md"
sync laptop "$laptop" "Demo Laptop"
sync desktop "$desktop" "Demo Desktop"

step "Both edit notes/plan.md before syncing: both versions are kept"
printf '# Plan\n\n- laptop version\n' > "$laptop/notes/plan.md"
printf '# Plan\n\n- desktop version\n' > "$desktop/notes/plan.md"
sync laptop "$laptop" "Demo Laptop"
sync desktop "$desktop" "Demo Desktop"
sync laptop "$laptop" "Demo Laptop"
echo "   Laptop folder now holds:"
(cd "$laptop" && find . -type f | sort | sed 's/^/     /')

step "Nothing changed: a pass does nothing"
sync laptop "$laptop" "Demo Laptop"

step "The remote's history"
if [[ "$remote" == file://* ]]; then
  git --git-dir="${remote#file://}" log -m --first-parent --stat --format='%h %s' main | sed 's/^/   /'
else
  git --git-dir="$demo/laptop-state/sync.git" log -m --first-parent --stat --format='%h %s' | sed 's/^/   /'
fi
echo
echo "Log file: $LARDER_LOG"
