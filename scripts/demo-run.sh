#!/usr/bin/env bash
# Runs the demo with an already built program: scripts/demo-run.sh BUILD
#
# Everything happens under one temporary folder: a stand-in of the Brindle
# service, Dropbox and GitHub (brindle-devserver), a bare git repository as
# the GitHub remote, a demo Larder folder, a plugged-in "drive" and a home
# folder of its own. Nothing outside this machine is contacted and the real
# home folder is never touched. BRINDLE_DEMO_KEEP=1 keeps the folder.
set -euo pipefail
build=$(cd "${1:?usage: scripts/demo-run.sh BUILD}" && pwd)
brindle=$build/brindle
devserver=$build/brindle-devserver
for program in "$brindle" "$devserver"; do
  [[ -x $program ]] || { echo "missing $program; build first (scripts/build.sh)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/brindle-demo.XXXXXX")
server_pid=
finish() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  if [[ ${BRINDLE_DEMO_KEEP:-} == 1 ]]; then echo "(demo files kept in $work)"; else rm -rf "$work"; fi
}
trap finish EXIT

# A home of its own, so no sign-in, secret or log lands in the user's.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_STATE_HOME=$work/home/.local/state XDG_CACHE_HOME=$work/home/.cache
export LARDER_LOG=$work/brindle.log
export LARDER_FOLDER=$work/Larder LARDER_STATE_DIR=$work/state
export LARDER_GITHUB_BASE=file://$work/github LARDER_VOLUMES=$work/volumes
export BRINDLE_LOGIN_PAUSE_SCALE=0
# git reads none of the user's own configuration.
export GIT_CONFIG_GLOBAL=/dev/null GIT_CONFIG_NOSYSTEM=1
mkdir -p "$HOME" "$LARDER_FOLDER" "$work/volumes/DEMO-STICK" "$work/shelf/TRAVEL-DISK"

step() { printf '\n== %s\n' "$*"; }
listing() {  # the files under a folder, one relative path a line
  (cd "$1" && find . -type f ! -path './.git/*' ! -name '.brindle-larder' | sed 's|^\./||' | LC_ALL=C sort)
}

step "Starting the stand-in services"
"$devserver" --auto-approve --stores github,dropbox --data "$work/server" >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do
  grep -q '^LISTENING ' "$work/server.out" 2>/dev/null && break
  sleep 0.1
done
url=$(sed -n 's/^LISTENING //p' "$work/server.out")
[[ -n $url ]] || { echo "the stand-in did not start:" >&2; cat "$work/server.err" >&2; exit 1; }
export BRINDLE_URL=$url
echo "stand-in at $url; working in $work"

step "Signing in (the stand-in approves at once)"
"$brindle" --brindle-login "Demo Laptop"

step "The account syncs with GitHub (here a bare repository) and Dropbox; adding two drives"
git init -q --bare -b main "$work/github/demo/Larder.git"
"$brindle" --drive-add "$work/volumes/DEMO-STICK" "Demo Stick"
"$brindle" --drive-add "$work/shelf/TRAVEL-DISK" "Travel Disk"
echo "(Travel Disk lies outside LARDER_VOLUMES, so it counts as not plugged in)"

step "Filling the Larder folder"
mkdir -p "$LARDER_FOLDER/Notes" "$LARDER_FOLDER/Recipes"
printf '# Plans\n\n- write the demo\n' >"$LARDER_FOLDER/Notes/Plans.md"
printf 'Liebe Grüße aus Köln\n' >"$LARDER_FOLDER/Notes/Grüße.txt"
printf 'flour, water, salt, yeast\n' >"$LARDER_FOLDER/Recipes/Bread.txt"
head -c 300000 /dev/urandom >"$LARDER_FOLDER/photo.bin"
listing "$LARDER_FOLDER"
# A file changed in the last second may still be being written, so the
# reconciler leaves it for a later pass; give the new files a moment.
sleep 2

sync_and_report() {
  "$brindle" --sync-once
  # What the program reported to the service, as the stand-in received it.
  if command -v curl >/dev/null; then curl -sf "$url/devserver/reports" || true; fi
}

step "First sync: brindle --sync-once"
sync_and_report

step "What each store holds now"
echo "-- GitHub (bare repository, last commit):"
git --git-dir="$work/github/demo/Larder.git" log -1 --format='   %s' 2>/dev/null || echo "   (nothing pushed)"
git --git-dir="$work/github/demo/Larder.git" -c core.quotePath=false ls-tree -r --name-only HEAD 2>/dev/null | sed 's/^/   /'
echo "-- Dropbox (the stand-in's app folder):"
listing "$work/server/dropbox" | sed 's/^/   /'
echo "-- Demo Stick (its Larder folder):"
listing "$work/volumes/DEMO-STICK/Larder" | sed 's/^/   /'

step "Someone edits a file on Dropbox"
printf '# Plans\n\n- write the demo\n- edited on another computer through Dropbox\n' \
  >"$work/server/dropbox/Notes/Plans.md"
printf 'bought on the way home\n' >"$work/server/dropbox/Shopping.txt"

step "Second sync: brindle --sync-once"
sync_and_report

step "Checking that every store holds the same files"
status=0
for store in "$work/server/dropbox" "$work/volumes/DEMO-STICK/Larder"; do
  if diff -r -x '.brindle-*' "$LARDER_FOLDER" "$store" >/dev/null; then echo "same: $store"
  else echo "DIFFERENT: $store"; status=1; fi
done
checkout=$work/checkout
git clone -q "$work/github/demo/Larder.git" "$checkout"
if diff -r -x .git "$LARDER_FOLDER" "$checkout" >/dev/null; then echo "same: the GitHub repository"
else echo "DIFFERENT: the GitHub repository"; status=1; fi
echo "Notes/Plans.md in the folder now reads:"
sed 's/^/   /' "$LARDER_FOLDER/Notes/Plans.md"
exit $status
