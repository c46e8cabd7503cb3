#!/usr/bin/env bash
# Checks a built package the way a user's machine meets it:
#   unpacked into an empty root, the desktop entry and the metainfo validate;
#   installed with apt, `brindle --version` runs from PATH and hands the
#   settings snapshot over to the desktop program; removed with apt,
#   none of its files is left behind.
# scripts/package-check.sh [DEB] (default: builds one with scripts/package.sh).
# Installs and removes the package on this machine: run it as root on a
# machine where Brindle is not installed otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=${1:-$("$root/scripts/package.sh" | tail -1)}
deb=$(realpath "$deb")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== unpacked into $work/root"
dpkg -x "$deb" "$work/root"
(cd "$work/root" && find . -type f | sort)
desktop-file-validate "$work/root/usr/share/applications/brindle.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/app.brindle.Brindle.metainfo.xml"

echo "== installed with apt"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#' | grep -v '/$' | sort >"$work/files"
apt-get install -y -qq "$deb" >/dev/null
command -v brindle
brindle --version
# What needs the window system goes through the desktop program under libexec.
QT_QPA_PLATFORM=offscreen HOME="$work" brindle --settings-snapshot "$work/settings.png"
[[ -s "$work/settings.png" ]] || { echo "brindle did not hand the settings snapshot over to brindle-desktop"; exit 1; }
for file in $(cat "$work/files"); do [[ -e "$file" ]] || { echo "missing after install: $file"; exit 1; }; done

echo "== removed with apt"
apt-get remove -y -qq brindle >/dev/null
left=0
for file in $(cat "$work/files"); do
  if [[ -e "$file" ]]; then echo "left behind: $file"; left=1; fi
done
((left == 0)) || exit 1
echo "package check passed: $(basename "$deb")"
