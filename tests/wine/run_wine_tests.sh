#!/usr/bin/env bash
# The Windows program under Wine, with the real registry, named shared
# memory and its lock, named pipes, GetUserNameW and process start.
#   run_wine_tests.sh BUILD_DIR    (a cross build: VellixContextMenu.exe and the test programs)
set -uo pipefail
build=$(cd "$1" && pwd)
export WINEARCH=win32 WINEDEBUG=-all
export WINEPREFIX=$(mktemp -d /tmp/vellix-wine.XXXXXX)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT

passed=0
failed=0
check() { # name, then a command that must succeed
    local name=$1; shift
    if "$@"; then
        passed=$((passed + 1)); echo "PASS   : $name"
    else
        failed=$((failed + 1)); echo "FAIL!  : $name"
    fi
}
same() { # expected, actual
    if [ "$1" == "$2" ]; then return 0; fi
    diff <(printf '%s\n' "$1") <(printf '%s\n' "$2") | sed 's/^/         /'
    return 1
}

exe="$build/bin/VellixContextMenu.exe"

query() { wine reg query "$1" /s 2>/dev/null | tr -d '\r'; }
shell='HKCU\Software\Classes\SystemFileAssociations\.pdf\Shell'

# --- the executable itself -------------------------------------------------
headers=$(i686-w64-mingw32-objdump -p "$exe")
check "machine i386" grep -q "file format pei-i386" <<<"$headers"
check "Windows GUI subsystem" grep -q "Subsystem.*(Windows GUI)" <<<"$headers"
for dll in FileAssociation.dll Qt5Core.dll Qt5Network.dll; do
    check "imports $dll" grep -q "DLL Name: $dll" <<<"$headers"
done
check "binds _SetFileAssociation@8" grep -q "_SetFileAssociation@8" <<<"$headers"
check "association library exports _SetFileAssociation@8" \
    bash -c "i686-w64-mingw32-objdump -p '$build/bin/FileAssociation.dll' | grep -q '\] _SetFileAssociation@8'"
resources=$(wrestool -l "$exe")
check "one icon group, IDI_ICON1" same "1" "$(grep -c -- '--type=14' <<<"$resources")"
check "icon group names IDI_ICON1" grep -q -- "--type=14 --name='IDI_ICON1'" <<<"$resources"
icon_images=$(wrestool -x --type=14 "$exe" -o /dev/stdout 2>/dev/null | python3 -c '
import struct, sys
data = sys.stdin.buffer.read()
_, kind, count = struct.unpack_from("<HHH", data)
for i in range(count):
    w, h, colours, _, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
    print(f"{w or 256}x{h or 256}x{bits}")')
check "one 32 by 32 image in 32-bit colour" same "32x32x32" "$icon_images"
manifest=$(wrestool -x --raw --type=24 "$exe" 2>/dev/null)
check "manifest asks for asInvoker" grep -q 'level="asInvoker"' <<<"$manifest"
check "manifest names common controls 6" grep -q 'Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest"

# --- what needs Wine itself ----------------------------------------------
# Wine runs the 32-bit program as a 32-bit Linux process. Some kernels (and
# virtual machines) cannot start those at all; then nothing below can run
# here, and the suite says so instead of passing or failing.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "SKIP   : this machine cannot start 32-bit programs, so Wine cannot run the helper here;" \
         "only its build and headers were checked"
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ] || exit 1
    exit 77
fi
wineboot -i >/dev/null 2>&1 || { echo "FAIL!  : wineboot"; exit 1; }

folder='C:\Program Files\Vellix Test'
unix_folder="$WINEPREFIX/drive_c/Program Files/Vellix Test"
cmake --install "$build" --prefix "$unix_folder" >/dev/null
cp "$build/bin/editor_double_win.exe" "$unix_folder/Vellix.exe"
cp "$build/bin/tasklist.exe" "$unix_folder/tasklist.exe"
cp "$build/bin/starter.exe" "$WINEPREFIX/drive_c/starter.exe"
cp "$build/bin/block_holder.exe" "$unix_folder/block_holder.exe"
helper="$folder\\VellixContextMenu.exe"
# --- install and uninstall -------------------------------------------------
wine reg add "$shell\\OtherApp\\command" /ve /d 'other.exe "%1"' /f >/dev/null 2>&1
wine reg add "$shell\\VellixEdit\\Command" /ve /d 'old' /f >/dev/null 2>&1
wine "$helper" install; code=$?
check "install ends with 0" same 0 "$code"

verb() { # key name, flag, caption
    printf '%s\n' "HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\$1" \
        "    (Default)    REG_SZ    " \
        "    Icon    REG_SZ    $folder\\VellixContextMenu.exe,0" \
        "    MUIVerb    REG_SZ    $3" \
        "    MultiSelectModel    REG_SZ    Player" "" \
        "HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\$1\\Command" \
        "    (Default)    REG_SZ    $folder\\VellixContextMenu.exe $2 \"%1\"" ""
}
other=$(printf '%s\n' "HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\OtherApp" "" \
    "HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\OtherApp\\command" \
    "    (Default)    REG_SZ    other.exe \"%1\"" "")
# reg lists subkeys in name order, each after a blank line.
expected_shell=$(echo; printf '%s\n\n' "$other"
    verb Vellix01Edit -ftype_edit 'Use Vellix Edit'
    verb Vellix02Print -ftype_print 'Use Vellix Print'
    verb Vellix03Merge -ftype_merge 'Use Vellix Combine'
    verb Vellix04Split -ftype_split 'Use Vellix Split')
check "verb keys with their captions, icons and commands; old names gone; others kept" \
    same "$expected_shell" "$(query "$shell")"
expected_program=$(printf '%s\n' "" \
    'HKEY_CLASSES_ROOT\Vellix.exe\DefaultIcon' "    (Default)    REG_SZ    $folder\\Quorlin.dll,0" "" \
    'HKEY_CLASSES_ROOT\Vellix.exe\shell' "" \
    'HKEY_CLASSES_ROOT\Vellix.exe\shell\open' "" \
    'HKEY_CLASSES_ROOT\Vellix.exe\shell\open\command' "    (Default)    REG_SZ    $folder\\Vellix.exe \"%1\"")
check "program identifier key" same "$expected_program" "$(query 'HKCR\Vellix.exe')"
check "association of .pdf" grep -q "(Default)    REG_SZ    Vellix.exe" <<<"$(query 'HKCU\Software\Classes\.pdf')"

once=$(query "$shell"; query 'HKCR\Vellix.exe'; query 'HKCU\Software\Classes\.pdf')
wine "$helper" INSTALL
check "install twice equals once" same "$once" \
    "$(query "$shell"; query 'HKCR\Vellix.exe'; query 'HKCU\Software\Classes\.pdf')"

wine "$helper" uninstall; code=$?
check "uninstall ends with 0" same 0 "$code"
check "uninstall leaves other programs' entries only" same "$(printf '\n%s' "$other")" "$(query "$shell")"
check "uninstall removes the program identifier" \
    bash -c "! wine reg query 'HKCR\\Vellix.exe' 2>&1 | grep -q 'HKEY_CLASSES_ROOT'"
check "uninstall takes the association back" \
    bash -c "! wine reg query 'HKCU\\Software\\Classes\\.pdf' /ve 2>/dev/null | grep -q Vellix.exe"

# --- a selection, one copy per file, all at once ---------------------------
selection() { # count
    local count=$1 paths=() i
    for i in $(seq 1 "$count"); do paths+=("C:\\Docs\\report $i;v2.pdf"); done
    rm -rf "$unix_folder/launches"
    local out
    out=$(wine 'C:\starter.exe' "$helper" -ftype_merge "${paths[@]}" | tr -d '\r')
    sleep 1
    local launches=("$unix_folder/launches/"*.launch)
    check "$count at once: every copy ends with 0" same "$count" "$(grep -c '^exit 0$' <<<"$out")"
    check "$count at once: one editor start" same 1 "${#launches[@]}"
    local expected
    expected="-ftype_merge;$(grep '^pid ' <<<"$out" | sort -k2,2 | cut -d' ' -f3- | paste -sd';')"
    check "$count at once: every path once, in the textual order of process ids" \
        same "$expected" "$(cat "${launches[0]}" 2>/dev/null)"
}
selection 1
selection 5
selection 15

# --- a copy ended while it holds the block's lock --------------------------
# The holder takes the helper's lock and waits; taskkill /f ends it there.
# The system hands the lock on, and the next selection goes as ever.
wine "$folder\\block_holder.exe" --helper "$helper" > "$WINEPREFIX/holder.out" 2>/dev/null &
holder=$!
for _ in $(seq 100); do grep -q locked "$WINEPREFIX/holder.out" 2>/dev/null && break; sleep 0.1; done
check "holder took the lock" grep -q locked "$WINEPREFIX/holder.out"
wine taskkill /f /im block_holder.exe >/dev/null 2>&1
wait "$holder" 2>/dev/null
selection 5
check "hand-off folder removed" bash -c "! ls -d '$WINEPREFIX'/drive_c/users/*/Temp/VellixContextMenu 2>/dev/null"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
