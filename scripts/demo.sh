#!/usr/bin/env bash
# Builds the helper and runs its main job end to end in a throw-away home and
# temporary folder: the installer's "install", then a selection of twelve
# files merged from the context menu, as the file manager starts it (one copy
# per file, all at once), then "uninstall". Prints what happened.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
export HOME="$demo/home" TMPDIR="$demo/tmp" XDG_CONFIG_HOME="$demo/config" XDG_CACHE_HOME="$demo/cache"
unset XDG_RUNTIME_DIR # the throw-away temporary folder is the helper's own place
mkdir -p "$HOME" "$TMPDIR" "$XDG_CONFIG_HOME"
folder="$demo/Program Files/Vellix"

echo "== Installing the helper into '$folder', beside a stand-in editor that records its starts"
cmake --install "$build" --prefix "$folder" >/dev/null
cp "$build/bin/editor_double" "$folder/Vellix.exe"
ls -1 "$folder" | sed 's/^/   /'

echo
echo "== The user chose German in the editor; the installer runs: VellixContextMenu install"
mkdir -p "$HOME/AppData/Roaming/Zentharo/Vellix"
printf '[Main]\nLanguage=German\n' > "$HOME/AppData/Roaming/Zentharo/Vellix/config.ini"
"$folder/VellixContextMenu" install
echo "   exit code $?; the registry now holds ($XDG_CONFIG_HOME/Zentharo/Registry):"
for root in HKEY_CLASSES_ROOT HKEY_CURRENT_USER; do
    echo "   $root.reg:"
    sed 's/^/   | /' "$XDG_CONFIG_HOME/Zentharo/Registry/$root.reg"
done

echo
echo "== The user selects 12 files and picks the merge entry: 12 copies start at once"
mkdir -p "$HOME/Documents/Q4 reports"
pids=()
started=$(date +%s%N)
for i in $(seq -w 1 12); do
    file="$HOME/Documents/Q4 reports/part $i.pdf"
    : > "$file"
    "$folder/VellixContextMenu" -ftype_merge "$file" &
    pids+=($!)
done
codes=()
for pid in "${pids[@]}"; do
    wait "$pid" && codes+=(0) || codes+=($?)
done
echo "   exit codes: ${codes[*]}"
for _ in $(seq 50); do
    ls "$folder/launches/"*.launch >/dev/null 2>&1 && break
    sleep 0.1
done
sleep 0.3
launches=("$folder/launches/"*.launch)
echo "   editor starts: ${#launches[@]}"
for launch in "${launches[@]}"; do
    at=$(basename "$launch" | cut -d- -f1)
    echo "   started $(( (at - started) / 1000000 )) ms after the first copy, with one argument:"
    tr ';' '\n' < "$launch" | sed 's/^/     /'
    echo
done
if [ -e "$TMPDIR/VellixContextMenu" ]; then
    echo "   the hand-off folder is still there"
else
    echo "   the hand-off folder has been removed"
fi

echo
echo "== The installer runs: VellixContextMenu uninstall"
"$folder/VellixContextMenu" uninstall
echo "   exit code $?; what is left of the registry:"
for root in HKEY_CLASSES_ROOT HKEY_CURRENT_USER; do
    echo "   $root.reg:"
    sed 's/^/   | /' "$XDG_CONFIG_HOME/Zentharo/Registry/$root.reg"
done
