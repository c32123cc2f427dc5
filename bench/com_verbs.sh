#!/usr/bin/env bash
# The verbs as drop targets against the command-verb fan-out, in one run
# under Wine: the time from the file manager's Drop (played by
# explorer_double.exe) to the editor's start for 1, 100 and 1,000 files,
# with the server cold (COM starts it) and warm (already running), and the
# time from the start of the fan-out's copies to the editor's start for 1
# and 100 files. Prints one line a case, the median of ROUNDS (default 5).
#   bench/com_verbs.sh [WINDOWS_BUILD]   (default: the build the Wine suite runs)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$top/tests/wine/wine_choice.sh"
if [ -n "${1:-}" ]; then
    build=$(cd "$1" && pwd)
elif [ -z "$(why_win64)" ]; then
    build=$top/build-win
else
    build=$top/build-win64
fi
if [ -z "$(why_win64)" ]; then
    export WINEARCH=win32 WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
else
    export WINEARCH=win64 WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64 WINELOADER=/usr/lib/wine/wine64
fi
export WINEDEBUG=-all WINEPREFIX=$(mktemp -d /tmp/vellix-bench.XXXXXX)
trap '"$WINESERVER" -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
rounds=${ROUNDS:-5}
wine() { "$WINE" "$@"; }

# The server stays, and the services with it; the first program boots the
# prefix (once: a second boot would start a second service manager).
"$WINESERVER" -p
WINEDLLOVERRIDES="mscoree,mshtml=" wine cmd /c exit >/dev/null 2>&1
for _ in $(seq 60); do # the COM service, started once
    wine net start RpcSs 2>&1 | grep -q 'already running\|started successfully' && break
    sleep 2
done
cp "$build/bin/tasklist.exe" "$WINEPREFIX/drive_c/windows/system32/tasklist.exe"
wine reg add 'HKCU\Software\Wine\DllOverrides' /v tasklist.exe /d native /f >/dev/null 2>&1
folder="$WINEPREFIX/drive_c/Program Files/Vellix Bench"
cmake --install "$build" --prefix "$folder" >/dev/null
cp "$build/bin/editor_double_win.exe" "$folder/Vellix.exe"
cp "$build/bin/starter.exe" "$build/bin/explorer_double.exe" "$WINEPREFIX/drive_c/"
helper='C:\Program Files\Vellix Bench\VellixContextMenu.exe'
wine "$helper" install
for count in 1 100 1000; do
    for i in $(seq 1 "$count"); do printf '%s\n' "C:\\Docs\\file $i.pdf"; done > "$WINEPREFIX/drive_c/p$count.txt"
done

# The editor's start, in Unix milliseconds, from its record's name (100 ns
# units since 1601); waits for the record.
editor_started_ms() {
    local _ launch
    for _ in $(seq 300); do
        launch=$(ls "$folder/launches/"*.launch 2>/dev/null | head -1)
        [ -n "$launch" ] && break
        sleep 0.05
    done
    local stamp=$(basename "$launch" | cut -d- -f1)
    echo $(( 10#$stamp / 10000 - 11644473600000 ))
}
server_gone() {
    local _
    for _ in $(seq 100); do
        wine tasklist.exe /FI "IMAGENAME eq VellixContextMenu.exe" 2>/dev/null | grep -q '^INFO:' && return 0
        sleep 0.1
    done
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
drop_ms() { # count, warm or cold
    rm -rf "$folder/launches"
    server_gone
    if [ "$2" = warm ]; then
        wine "$helper" -Embedding &
        sleep 2 # registered, and well within its idle time
    fi
    local stamp
    stamp=$(wine 'C:\explorer_double.exe' Vellix03Merge "@C:\\p$1.txt" | tr -d '\r' | sed -n 's/^drop //p')
    echo $(( $(editor_started_ms) - (stamp / 10000 - 11644473600000) ))
    wait
}
fanout_ms() { # count
    rm -rf "$folder/launches"
    server_gone
    local stamp
    stamp=$(wine 'C:\starter.exe' "$helper" -ftype_merge "@C:\\p$1.txt" | tr -d '\r' | sed -n 's/^began //p')
    echo $(( $(editor_started_ms) - (stamp / 10000 - 11644473600000) ))
}

for count in 1 100 1000; do
    for kind in cold warm; do
        printf 'drop on the verb, %4d files, %s server: %5d ms\n' "$count" "$kind" \
            "$(for _ in $(seq "$rounds"); do drop_ms "$count" "$kind"; done | median)"
    done
done
for count in 1 100; do
    printf 'command-verb fan-out, %4d files:           %5d ms\n' "$count" \
        "$(for _ in $(seq "$rounds"); do fanout_ms "$count"; done | median)"
done
