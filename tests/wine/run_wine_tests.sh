#!/usr/bin/env bash
# The Windows program under Wine, with the real registry, named shared
# memory and its lock, named pipes, GetUserNameW and process start.
#   run_wine_tests.sh BUILD_DIR
# BUILD_DIR is the 32-bit cross build, the product: its headers and
# resources are checked on every machine. Its behaviour runs under 32-bit
# Wine where that is installed and starts; else the 64-bit build of
# the same sources in $VELLIX_WIN64_BUILD runs under 64-bit Wine
# (VELLIX_WINE_BUILD=win64 asks for that one anyway). Skipped (77) only
# where no Wine can run at all, and failed then too with VELLIX_REQUIRE_WINE=1.
set -uo pipefail
build=$(cd "$1" && pwd)
export WINEDEBUG=-all
export WINEPREFIX=$(mktemp -d /tmp/vellix-wine.XXXXXX)
WINESERVER=wineserver
trap '"$WINESERVER" -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT

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
absent() { # text, where
    ! grep -qF -- "$1" <<<"$2"
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

exe="$build/bin/VellixContextMenu.exe"

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

# --- which build runs, and under which Wine --------------------------------
source "$(dirname "${BASH_SOURCE[0]}")/wine_choice.sh"
win64_reason=$(why_win64)
if [ -z "$win64_reason" ]; then
    run_build=$build
    export WINEARCH=win32 WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
    echo "RUNS   : the 32-bit program under 32-bit Wine: this machine starts 32-bit programs and 32-bit Wine runs"
elif [ -z "${VELLIX_WIN64_BUILD:-}" ]; then
    echo "FAIL!  : the 32-bit program cannot run here ($win64_reason), and no 64-bit build" \
         "was given in VELLIX_WIN64_BUILD: neither build can run"
    failed=$((failed + 1))
    finish
elif /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
    run_build=$(cd "$VELLIX_WIN64_BUILD" && pwd)
    export WINEARCH=win64 WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
    export WINELOADER=$WINE
    echo "RUNS   : the 64-bit build under 64-bit Wine: $win64_reason"
else
    echo "SKIP   : this machine can run no Wine at all ($win64_reason, and wine64 does not start);" \
         "only the 32-bit program's build and headers were checked"
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ] && [ -z "${VELLIX_REQUIRE_WINE:-}" ] || exit 1
    exit 77
fi
wine() { "$WINE" "$@"; }
query() { wine reg query "$1" /s 2>/dev/null | tr -d '\r'; }
shell='HKCU\Software\Classes\SystemFileAssociations\.pdf\Shell'

# Windows runs its COM service all the time. Wine starts its own on
# demand, and only once the services that booting starts have settled
# (until then the service database is locked, and an activation waits for
# minutes). A Wine server ends a few seconds after its last program, and
# takes the services with it; asked to stay, it does so only if the request
# starts it. So the suite starts its server, asks it to stay, and starts
# the COM service once.
start_com_service() {
    for _ in $(seq 60); do
        wine net start RpcSs 2>&1 | grep -q 'already running\|started successfully' && return 0
        sleep 2
    done
}
"$WINESERVER" -p
# The first program in a new prefix boots it; booting it a second time
# (wineboot -i) would start a second service manager, and no service
# would start any more.
WINEDLLOVERRIDES="mscoree,mshtml=" wine cmd /c exit >/dev/null 2>&1 || { echo "FAIL!  : the prefix did not boot"; exit 1; }
start_com_service
# As on Windows, a name that begins with a dot hides nothing.
wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
# The task list stands where Windows keeps it, and is run in place of
# Wine's own, which prints nothing.
cp "$run_build/bin/tasklist.exe" "$WINEPREFIX/drive_c/windows/system32/tasklist.exe"
wine reg add 'HKCU\Software\Wine\DllOverrides' /v tasklist.exe /d native /f >/dev/null 2>&1
# The user's temporary folder, as Wine reports it.
temp_windows=$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp_unix=$(wine winepath.exe -u "$temp_windows" 2>/dev/null | tr -d '\r')

folder='C:\Program Files\Vellix Test'
unix_folder="$WINEPREFIX/drive_c/Program Files/Vellix Test"
cmake --install "$run_build" --prefix "$unix_folder" >/dev/null
cp "$run_build/bin/editor_double_win.exe" "$unix_folder/Vellix.exe"
cp "$run_build/bin/starter.exe" "$WINEPREFIX/drive_c/starter.exe"
cp "$run_build/bin/block_holder.exe" "$unix_folder/block_holder.exe"
qt_test_dll=$(dirname "$(find "$run_build" -path '*/bin/Qt5Test.dll' | head -1)")/Qt5Test.dll
helper="$folder\\VellixContextMenu.exe"
# --- the Windows layers on their own ----------------------------------------
cp "$run_build/bin/tst_windows_layers.exe" "$qt_test_dll" "$unix_folder/"
# The same folder by another path: a drive letter of its own.
ln -s "$unix_folder" "$WINEPREFIX/dosdevices/y:"
VELLIX_ELSEWHERE='Y:' wine "$folder\\tst_windows_layers.exe" -o 'C:\layers.txt,txt' >/dev/null 2>&1
layers=$(tr -d '\r' < "$WINEPREFIX/drive_c/layers.txt")
grep -E '^(PASS|FAIL|SKIP|XFAIL|QWARN|   )' <<<"$layers" | grep -vE '^PASS   : tst_WindowsLayers::(init|cleanup)TestCase' | sed 's/^/         /'
check "the Windows layers' own tests pass" grep -qE '^Totals: [0-9]+ passed, 0 failed' <<<"$layers"

# --- install and uninstall -------------------------------------------------
wine reg add "$shell\\OtherApp\\command" /ve /d 'other.exe "%1"' /f >/dev/null 2>&1
wine reg add "$shell\\VellixEdit\\Command" /ve /d 'old' /f >/dev/null 2>&1
wine "$helper" install 2>"$WINEPREFIX/install.err"; code=$?
# The merge verb's command line as the system will start it.
merge_command=$(wine reg query "$shell\\Vellix03Merge\\Command" /ve 2>/dev/null | tr -d '\r' \
    | sed -n 's/^    (Default)    REG_SZ    //p')
check "install ends with 0" same 0 "$code"
check "install activated every verb's class" same "" "$(tr -d '\r' < "$WINEPREFIX/install.err")"

# The verbs' classes, as the helper fixes them.
edit_class='{F931AC29-1F3B-41BF-B57E-C7F1DCEAC62F}' split_class='{6CCC1459-8CA3-4A8A-87CF-821E3D2A11A7}'
merge_class='{15201231-5800-489E-99FF-D77DACD8CD7F}' print_class='{5392FB98-972A-4E42-97C8-71A30A106844}'
verb() { # key name, flag, caption, class
    printf '%s\n' "HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\$1" \
        "    (Default)    REG_SZ    " \
        "    Icon    REG_SZ    $folder\\VellixContextMenu.exe,0" \
        "    MUIVerb    REG_SZ    $3" \
        "    MultiSelectModel    REG_SZ    Player" "" \
        "HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\$1\\Command" \
        "    (Default)    REG_SZ    \"$folder\\VellixContextMenu.exe\" $2 \"%1\"" "" \
        "HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\$1\\DropTarget" \
        "    Clsid    REG_SZ    $4" ""
}
other=$(printf '%s\n' "HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\OtherApp" "" \
    "HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations\\.pdf\\Shell\\OtherApp\\command" \
    "    (Default)    REG_SZ    other.exe \"%1\"" "")
# reg lists subkeys in name order, each after a blank line.
expected_shell=$(echo; printf '%s\n\n' "$other"
    verb Vellix01Edit -ftype_edit 'Use Vellix Edit' "$edit_class"
    verb Vellix02Print -ftype_print 'Use Vellix Print' "$print_class"
    verb Vellix03Merge -ftype_merge 'Use Vellix Combine' "$merge_class"
    verb Vellix04Split -ftype_split 'Use Vellix Split' "$split_class")
check "verb keys with their captions, icons and commands; old names gone; others kept" \
    same "$expected_shell" "$(query "$shell")"
expected_program=$(printf '%s\n' "" \
    'HKEY_CLASSES_ROOT\Vellix.exe\DefaultIcon' "    (Default)    REG_SZ    $folder\\Quorlin.dll,0" "" \
    'HKEY_CLASSES_ROOT\Vellix.exe\shell' "" \
    'HKEY_CLASSES_ROOT\Vellix.exe\shell\open' "" \
    'HKEY_CLASSES_ROOT\Vellix.exe\shell\open\command' "    (Default)    REG_SZ    \"$folder\\Vellix.exe\" \"%1\"")
check "program identifier key" same "$expected_program" "$(query 'HKCR\Vellix.exe')"
class_key() { # class, verb key
    printf '%s\n' "" "HKEY_CLASSES_ROOT\\CLSID\\$1" "    (Default)    REG_SZ    $2 drop target" "" \
        "HKEY_CLASSES_ROOT\\CLSID\\$1\\LocalServer32" "    (Default)    REG_SZ    \"$folder\\VellixContextMenu.exe\""
}
for verb_class in Vellix01Edit:"$edit_class" Vellix04Split:"$split_class" Vellix03Merge:"$merge_class" \
        Vellix02Print:"$print_class"; do
    check "${verb_class%%:*}'s class: the helper, quoted, as its local server" \
        same "$(class_key "${verb_class#*:}" "${verb_class%%:*}")" "$(query "HKCR\\CLSID\\${verb_class#*:}")"
done
check "association of .pdf" grep -q "(Default)    REG_SZ    Vellix.exe" <<<"$(query 'HKCU\Software\Classes\.pdf')"
check "the editor is offered to open .pdf files" \
    grep -q "^    Vellix.exe    REG_SZ" <<<"$(query 'HKCU\Software\Classes\.pdf\OpenWithProgids')"

installed() {
    query "$shell"; query 'HKCR\Vellix.exe'; query 'HKCU\Software\Classes\.pdf'
    for class in "$edit_class" "$split_class" "$merge_class" "$print_class"; do
        query "HKCR\\CLSID\\$class"
    done
}
once=$(installed)
wine "$helper" INSTALL
check "install twice equals once, the classes too" same "$once" "$(installed)"

wine "$helper" uninstall; code=$?
check "uninstall ends with 0" same 0 "$code"
check "uninstall leaves other programs' entries only" same "$(printf '\n%s' "$other")" "$(query "$shell")"
check "uninstall removes the verbs' classes" \
    absent 'HKEY' "$(wine reg query "HKCR\\CLSID\\$merge_class" 2>&1)"
check "uninstall removes the program identifier" \
    absent 'HKEY_CLASSES_ROOT' "$(wine reg query 'HKCR\Vellix.exe' 2>&1)"
check "uninstall takes the association back" \
    absent Vellix.exe "$(wine reg query 'HKCU\Software\Classes\.pdf' /ve 2>/dev/null)"
check "uninstall takes the offer back" \
    absent Vellix.exe "$(query 'HKCU\Software\Classes\.pdf\OpenWithProgids')"

# The editor's settings in a roaming folder that folder redirection moved
# away from the profile: the captions still come from there.
folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
previous_appdata=$(wine reg query "$folders" /v AppData 2>/dev/null | tr -d '\r' | sed -n 's/^    AppData    REG_EXPAND_SZ    //p')
mkdir -p "$WINEPREFIX/drive_c/Redirected/Zentharo/Vellix"
printf '[Main]\r\nLanguage=German\r\n' > "$WINEPREFIX/drive_c/Redirected/Zentharo/Vellix/config.ini"
wine reg add "$folders" /v AppData /t REG_EXPAND_SZ /d 'C:\Redirected' /f >/dev/null 2>&1
wine "$helper" install
check "captions from the editor's settings in a redirected roaming folder" \
    grep -q 'MUIVerb    REG_SZ    Zum Kombinieren den Vellix verwenden' <<<"$(query "$shell")"
wine "$helper" uninstall
if [ -n "$previous_appdata" ]; then
    wine reg add "$folders" /v AppData /t REG_EXPAND_SZ /d "$previous_appdata" /f >/dev/null 2>&1
else
    wine reg delete "$folders" /v AppData /f >/dev/null 2>&1
fi


# --- the task list double answers as the Windows tool does -----------------
tasklist() { wine tasklist.exe "$@" 2>"$WINEPREFIX/tasklist.err" | tr -d '\r'; }
table=$(tasklist)
check "task list: a blank line, then the two header lines" same \
    "$(printf '\n%s\n%s' 'Image Name                     PID Session Name        Session#    Mem Usage' \
        '========================= ======== ================ =========== ============')" \
    "$(head -3 <<<"$table")"
check "task list: /NH leaves the header lines out" \
    absent 'Image Name' "$(tasklist /NH)"
# A copy of the tool under a long name lists itself, cut to 25 characters.
cp "$run_build/bin/tasklist.exe" "$WINEPREFIX/drive_c/A task list of a long name.exe"
check "task list: the image name is cut to 25 characters" grep -q '^A task list of a long nam  ' \
    <<<"$(wine 'C:\A task list of a long name.exe' | tr -d '\r')"
check "task list: /FO CSV /NH quotes every field" \
    grep -qE '^"services\.exe","[0-9]+","[A-Za-z]+","[0-9]+","[0-9,]+ K"$' <<<"$(tasklist /FO CSV /NH)"
check "task list: /FO CSV has its header line" \
    same '"Image Name","PID","Session Name","Session#","Mem Usage"' "$(tasklist /FO CSV | head -1)"
session=$(tasklist /FO CSV /NH /FI "IMAGENAME eq services.exe" | head -1 | cut -d'"' -f8)
check "task list: IMAGENAME eq NAME lists that image alone" \
    same services.exe "$(tasklist /FO CSV /NH /FI "IMAGENAME eq SERVICES.EXE" | cut -d'"' -f2 | sort -u)"
check "task list: SESSION eq N lists that session alone" \
    same "$session" "$(tasklist /FO CSV /NH /FI "SESSION eq $session" | cut -d'"' -f8 | sort -u)"
check "task list: no match is an INFO line on standard output" \
    same 'INFO: No tasks are running which match the specified criteria.' \
    "$(tasklist /FI 'IMAGENAME eq nothing-of-the-kind.exe')"
wine tasklist.exe /Q >/dev/null 2>"$WINEPREFIX/tasklist.err"; code=$?
check "task list: an unknown option is an error on standard error, exit code 1" \
    same "1:ERROR: Invalid argument/option - '/Q'." "$code:$(head -1 "$WINEPREFIX/tasklist.err" | tr -d '\r')"
wine tasklist.exe /FI 'COLOUR eq blue' >/dev/null 2>"$WINEPREFIX/tasklist.err"; code=$?
check "task list: an unknown filter is an error on standard error, exit code 1" \
    same "1:ERROR: The search filter cannot be recognized." "$code:$(tr -d '\r' <"$WINEPREFIX/tasklist.err")"

# --- a selection, one copy per file, all at once ---------------------------
# Started in the background: start_selection COUNT NAME, then
# check_selection COUNT NAME [WHAT] once it has ended.
start_selection() {
    local count=$1 i
    for i in $(seq 1 "$count"); do printf '%s\n' "C:\\Docs\\${PATH_PREFIX:-}$2 $i;v2.pdf"; done \
        > "$WINEPREFIX/drive_c/$2.paths"
    wine 'C:\starter.exe' "${HELPER:-$helper}" -ftype_merge "@C:\\$2.paths" | tr -d '\r' >"$WINEPREFIX/$2.out"
}
check_selection() { # count name [what [starts]]
    local count=$1 out what=${3:-$1 at once} starts=${4:-1}
    out=$(cat "$WINEPREFIX/$2.out")
    local launches=("$unix_folder/launches/"*.launch)
    check "$what: every copy ends with 0" same "$count" "$(grep -c '^exit 0$' <<<"$out")"
    if [ "$starts" = several ]; then
        check "$what: several editor starts" test "${#launches[@]}" -ge 2
    else
        check "$what: one editor start" same 1 "${#launches[@]}"
    fi
    local expected got=() launch
    expected=$(grep '^pid ' <<<"$out" | sort -k2,2 | cut -d' ' -f3-)
    for launch in "${launches[@]}"; do
        [ "$(cut -d';' -f1 "$launch" 2>/dev/null)" = -ftype_merge ] || got+=("(a start without the verb)")
        got+=("$(cut -d';' -f2- "$launch" 2>/dev/null)")
    done
    # Each path holds one ";" of its own. Several starts made one right
    # after another may record their times in either order: then each
    # holds whole paths, and every path comes once.
    local delivered
    delivered=$(printf '%s\n' "${got[@]}" | tr ';' '\n' | paste -d';' - -)
    if [ "$starts" = several ]; then
        expected=$(sort <<<"$expected")
        delivered=$(sort <<<"$delivered")
    fi
    check "$what: every path once, in the textual order of process ids, under the verb" \
        same "$expected" "$delivered"
    rm -rf "$unix_folder/launches"
}
selection() { # count [what]
    start_selection "$1" "selection"
    sleep 0.5
    check_selection "$1" "selection" "${2:-$1 at once}"
}

# A run without a selection leaves the hand-off folder where the helper
# keeps it, in the temporary folder that Wine reports; a selection's
# primary removes it.
wine "$helper"
check "the hand-off folder is in the user's temporary folder" test -d "$temp_unix/VellixContextMenu"
# A verb started as the system starts a registered command: %1 filled in,
# from a folder whose path has spaces, the program found in the line as
# CreateProcessW finds it, the line handed over as it stands.
mkdir -p "$WINEPREFIX/drive_c/Docs with spaces"
shell_start() { # command, name
    local i
    for i in 1 2 3; do printf '%s\n' "C:\\Docs with spaces\\$2 $i;v2.pdf"; done > "$WINEPREFIX/drive_c/$2.paths"
    (cd "$WINEPREFIX/drive_c/Docs with spaces" && wine 'C:\starter.exe' --shell "$1" "@C:\\$2.paths") \
        | tr -d '\r' > "$WINEPREFIX/$2.out"
}
shell_start "$merge_command" verb
# The editor runs in the install folder, not in the selected files' one,
# which it would keep from being renamed or removed.
check "the editor's current folder is the install folder" \
    same "$folder" "$(cat "$unix_folder/launches/"*.cwd 2>/dev/null)"
check_selection 3 verb "3 started as the system starts the registered merge verb"
# Unquoted, as earlier releases wrote it: the program's own name ends at
# the first space, its arguments do not begin with the verb flag, and
# nothing reaches the editor.
shell_start "$folder\\VellixContextMenu.exe -ftype_merge \"%1\"" unquoted
check "an unquoted command under Program Files brings nothing to the editor" \
    test ! -e "$unix_folder/launches"
rm -rf "$unix_folder/launches"

selection 1
selection 5
selection 15
check "hand-off folder removed after a selection" test ! -e "$temp_unix/VellixContextMenu"
for round in 1 2 3 4 5; do
    selection 30 "storm round $round of 30"
done

# --- what Windows users meet -----------------------------------------------
# The file manager starts a verb's command in the folder of the selected
# files, where anyone may have put a tasklist.exe; the helper must start
# the system's own. This one leaves a mark (a "launches" folder) if run.
mkdir -p "$WINEPREFIX/drive_c/Docs"
cp "$run_build/bin/editor_double_win.exe" "$WINEPREFIX/drive_c/Docs/tasklist.exe"
(cd "$WINEPREFIX/drive_c/Docs" && start_selection 3 "planted")
check_selection 3 planted "3 beside a planted tasklist.exe"
check "a tasklist.exe in the selected files' folder is not run" test ! -e "$WINEPREFIX/drive_c/Docs/launches"
rm -f "$WINEPREFIX/drive_c/Docs/tasklist.exe"

# A name longer than the task list's table column.
cp "$unix_folder/VellixContextMenu.exe" "$unix_folder/VellixContextMenu - Copy (2).exe"
began=$(date +%s%N)
HELPER="$folder\\VellixContextMenu - Copy (2).exe" start_selection 5 "copy"
took_ms=$(( ($(date +%s%N) - began) / 1000000 ))
check_selection 5 copy "5 to a helper named VellixContextMenu - Copy (2).exe"
check "a helper whose name the table cuts finds itself at once (${took_ms} ms)" test "$took_ms" -lt 15000

# Names that begin with a dot hide nothing here: the work files of dead
# copies are the program's own. A draft was never handed on and is not
# delivered; what a dead primary claimed and did not deliver goes under its
# own verb, in a start of its own.
wine "$helper"
printf -- '-ftype_print 999996\nC:\\planted claim.pdf' > "$temp_unix/VellixContextMenu/.claimed-999996-77-999990-5.txt"
printf -- '-ftype_merge 999992\nC:\\planted draft.pdf' > "$temp_unix/VellixContextMenu/.999992-5.draft"
start_selection 3 "selection"
for _ in $(seq 100); do
    printed=$(grep -l -- '^-ftype_print;' "$unix_folder/launches/"*.launch 2>/dev/null)
    [ -n "$printed" ] && break
    sleep 0.1
done
sleep 0.5
check "a dead primary's claim goes under its verb, in a start of its own" \
    same '-ftype_print;C:\planted claim.pdf' "$(cat "$printed" 2>/dev/null)"
rm -f "$printed"
check_selection 3 "selection" "3 beside a dead copy's claim and draft"
check "the dead copies' work files are gone with the folder" test ! -e "$temp_unix/VellixContextMenu"

# Hand-off files that another program holds open without letting them be
# renamed or removed (a virus scanner, an indexer), for a moment or for
# seconds: the primary tries again and gathers them, every path once, in
# one start, and every copy ends with 0. No work file of ours ends in
# ".txt", so the holder takes none of them for a new hand-off file.
cp "$run_build/bin/hold_files.exe" "$WINEPREFIX/drive_c/hold_files.exe"
held_selection() { # hold ms, count, what
    wine "$helper"
    wine 'C:\hold_files.exe' "$temp_windows\\VellixContextMenu" "$1" 8 | tr -d '\r' > "$WINEPREFIX/hold.out" &
    local holder=$!
    sleep 1
    selection "$2" "$3"
    wait "$holder"
    check "$3: the files were held" grep -q '^held-name [1-9][0-9]*-[0-9]*\.txt$' "$WINEPREFIX/hold.out"
}
held_selection 300 5 "5 held open for a moment"
held_selection 1500 5 "5 held open for a second and a half"
held_selection 5000 5 "5 held open for seconds"
check "the holder took no work file for a hand-off file" same 0 \
    "$(grep -c '^held-name \.' "$WINEPREFIX/hold.out")"
selection 3 "3 after the held files were let go"
check "the files held for seconds are gone with the folder" test ! -e "$temp_unix/VellixContextMenu"

# A selection whose one argument would pass the command line's 32,767
# characters: several starts, each with the verb and whole paths.
PATH_PREFIX=$(printf 'deep folder %.0s' $(seq 1 80) | tr ' ' '_')'\' start_selection 40 "long"
check_selection 40 long "40 paths of 1,000 characters" several

# Files whose names hold ";", which the editor takes as the separator of
# its paths: each goes by its short name, which has none.
for i in 1 2 3; do : > "$WINEPREFIX/drive_c/Docs/Q3 $i;v2.pdf"; done
start_selection 3 "Q3"
sleep 0.5
short_names=$(cut -d';' -f2- "$unix_folder/launches/"*.launch 2>/dev/null | tr ';' '\n')
check "names with \";\" go by their short names: three, none with \";\"" \
    same "3:3" "$(grep -c . <<<"$short_names"):$(grep -c '~' <<<"$short_names")"
check "names with \";\": one editor start, under the verb" \
    same "1:-ftype_merge" "$(ls "$unix_folder/launches/"*.launch | wc -l):$(cut -d';' -f1 "$unix_folder/launches/"*.launch)"
rm -rf "$unix_folder/launches"

# --- the verbs as drop targets -----------------------------------------------
# A small program plays the file manager: it creates the verb's class out
# of process and hands it the selection in one data object.
cp "$run_build/bin/explorer_double.exe" "$WINEPREFIX/drive_c/explorer_double.exe"
wine "$helper" install 2>/dev/null
helper_gone() { # within ten seconds
    local _
    for _ in $(seq 50); do
        grep -q '^INFO:' <<<"$(tasklist /FI "IMAGENAME eq VellixContextMenu.exe" 2>/dev/null)" && return 0
        sleep 0.2
    done
    return 1
}
# (Never name a list "com1" or "prn": Windows opens a device by such a name,
# whatever its extension.)
dropped() { # verb key, count, name [, ms the object is held after the Drop]
    local i
    for i in $(seq 1 "$2"); do printf '%s\n' "C:\\Docs\\$3 $i;v2.pdf"; done > "$WINEPREFIX/drive_c/$3.paths"
    timeout 60 "$WINE" 'C:\explorer_double.exe' "$1" "@C:\\$3.paths" ${4:+"$4"} 2>/dev/null \
        | tr -d '\r' > "$WINEPREFIX/$3.out"
}
launched_under() { # flag: the paths of its starts, one a line, in order
    local launch
    for launch in "$unix_folder/launches/"*.launch; do
        [ "$(cut -d';' -f1 "$launch")" = "$1" ] && cut -d';' -f2- "$launch" | tr ';' '\n' | paste -d';' - -
    done
}
check "the server that install activated is gone within seconds" helper_gone
for count in 1 100 1000; do
    dropped Vellix03Merge "$count" "dropped$count"
    for _ in $(seq 50); do [ -n "$(ls "$unix_folder/launches/" 2>/dev/null)" ] && break; sleep 0.2; done
    sleep 0.5
    check "$count dropped on the merge verb: one editor start" same 1 "$(ls "$unix_folder/launches/"*.launch | wc -l)"
    check "$count dropped on the merge verb: every path once, in the data object's order, under the verb" \
        same "$(cat "$WINEPREFIX/drive_c/dropped$count.paths")" "$(launched_under -ftype_merge)"
    check "$count dropped: the server is gone within seconds" helper_gone
    rm -rf "$unix_folder/launches"
done
check "a drop where copy and link are allowed: the target takes it as a copy" \
    same "enter 1:effect 1" "$(grep -E '^(enter|effect)' "$WINEPREFIX/dropped1.out" | cut -d' ' -f1,2 | paste -sd:)"
# A client that holds its object past the idle time between DragEnter and
# Drop: the server waits for it, delivers the drop, and then ends without
# a fault.
EXPLORER_DOUBLE_PAUSE_MS=12000 dropped Vellix03Merge 2 "slowclient"
for _ in $(seq 50); do [ -n "$(ls "$unix_folder/launches/" 2>/dev/null)" ] && break; sleep 0.2; done
check "a client that waits 12 s before its Drop: the drop is delivered" \
    same "effect 1:$(cat "$WINEPREFIX/drive_c/slowclient.paths")" \
    "$(grep '^effect' "$WINEPREFIX/slowclient.out" | cut -d' ' -f1,2):$(launched_under -ftype_merge)"
check "a client that waits 12 s before its Drop: the server then ends" helper_gone
check "a client that waits 12 s before its Drop: no fault" \
    absent winedbg "$(ps -eo args | grep -i 'winedbg' | grep -v grep)"
rm -rf "$unix_folder/launches"
# A caller that allows no copy (a link alone): the target takes nothing.
EXPLORER_DOUBLE_EFFECTS=4 dropped Vellix03Merge 2 "linkonly"
sleep 1
check "a drop that allows a link alone: no effect the caller did not allow, and no start" \
    same "enter 0:effect 0:" "$(grep -E '^(enter|effect)' "$WINEPREFIX/linkonly.out" | cut -d' ' -f1,2 | paste -sd:):$(ls "$unix_folder/launches/" 2>/dev/null)"
helper_gone
# Two actions at once, each with its own verb.
dropped Vellix03Merge 50 "merged" & dropped Vellix02Print 3 "printed"; wait
sleep 1.5
check "a merge of 50 and a print of 3 at once: each path under its own verb" \
    same "$(cat "$WINEPREFIX/drive_c/merged.paths"; echo; cat "$WINEPREFIX/drive_c/printed.paths")" \
    "$(launched_under -ftype_merge; echo; launched_under -ftype_print)"
rm -rf "$unix_folder/launches"
# A print dropped while the copies of a merge started through the command
# verb elect their primary: the server is one more copy to wait for, and
# each selection goes whole under its own verb.
helper_gone
dropped Vellix02Print 20 "printed" & start_selection 5 "fanned"; wait
sleep 0.5
check "a drop beside a command-verb selection: every copy ends with 0" \
    same 5 "$(grep -c '^exit 0$' "$WINEPREFIX/fanned.out")"
check "a drop beside a command-verb selection: each whole, under its own verb" \
    same "$(cat "$WINEPREFIX/drive_c/printed.paths"; echo; sort "$WINEPREFIX/drive_c/fanned.paths")" \
    "$(launched_under -ftype_print; echo; launched_under -ftype_merge | sort)"
check "a drop beside a command-verb selection: one start for each" \
    same 2 "$(ls "$unix_folder/launches/"*.launch | wc -l)"
rm -rf "$unix_folder/launches"
# A selection made right after a drop, while the server is still there
# (the file manager still holds its object), does not wait for it: the
# server gathers nothing. Timed against one made with no server, in the
# same run.
helper_gone
timed_selection() { # name: milliseconds until its copies have ended
    local began
    began=$(date +%s%N)
    start_selection 5 "$1"
    echo $(( ($(date +%s%N) - began) / 1000000 ))
}
alone_ms=$(timed_selection alone)
check_selection 5 alone "5 with no server"
rm -rf "$unix_folder/launches"
dropped Vellix02Print 2 "justdropped" 6000 &
holding=$!
for _ in $(seq 100); do [ -n "$(ls "$unix_folder/launches/" 2>/dev/null)" ] && break; sleep 0.05; done
rm -rf "$unix_folder/launches"
after_ms=$(timed_selection afterdrop)
wait "$holding"
check_selection 5 afterdrop "5 right after a drop"
check "5 right after a drop are not held up by the server (${after_ms} ms, ${alone_ms} ms alone)" \
    test "$after_ms" -lt $((alone_ms + 700))
rm -rf "$unix_folder/launches"
# A drop whose editor cannot start loses nothing: its paths wait in the
# hand-off folder and go with the next selection, under their verb, in
# their order, in a start of their own.
helper_gone
mv "$unix_folder/Vellix.exe" "$unix_folder/Vellix.away"
dropped Vellix03Merge 3 "noeditor"
helper_gone
mv "$unix_folder/Vellix.away" "$unix_folder/Vellix.exe"
check "a drop whose editor cannot start: its paths wait in the hand-off folder" \
    same 3 "$(ls "$temp_unix/VellixContextMenu/" | grep -c '\.txt$')"
start_selection 2 "afternoeditor"
sleep 0.5
check "a drop whose editor could not start: the next selection ends with 0" \
    same 2 "$(grep -c '^exit 0$' "$WINEPREFIX/afternoeditor.out")"
check "a drop whose editor could not start: its paths go with the next selection, in their order, in a start of their own" \
    grep -qFx -- "-ftype_merge;$(paste -sd';' "$WINEPREFIX/drive_c/noeditor.paths")" \
    <(for launch in "$unix_folder/launches/"*.launch; do cat "$launch"; echo; done)
check "a drop whose editor could not start: two starts, every path once" \
    same "2:5" "$(ls "$unix_folder/launches/"*.launch | wc -l):$(launched_under -ftype_merge | wc -l)"
rm -rf "$unix_folder/launches"
# Where the classes cannot be activated (here no COM service can start),
# install leaves the verbs command verbs, says so, and they still work.
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w
WINEDLLOVERRIDES="rpcss.exe=d" wine "$helper" install 2>"$WINEPREFIX/install.err"; code=$?
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w
"$WINESERVER" -p
start_com_service
check "classes that cannot be activated: install ends with 0 all the same" same 0 "$code"
check "classes that cannot be activated: install says the verbs stay command verbs" \
    grep -q '^The context-menu entries stay command verbs: the class {' "$WINEPREFIX/install.err"
check "classes that cannot be activated: no verb names a class" \
    absent DropTarget "$(query "$shell")"
check "classes that cannot be activated: none is registered" \
    absent 'HKEY' "$(wine reg query "HKCR\\CLSID\\$merge_class" 2>&1)"
shell_start "$merge_command" command
check_selection 3 command "3 through the command verb that stayed"
wine "$helper" uninstall

# --- copies waiting on a lock whose holder is ended ------------------------
# The holder takes the helper's own lock (the helper's key, by the
# helper's recipe, through the same layer) and waits. Copies started
# meanwhile wait on it; ended with taskkill /f, the holder leaves the lock
# abandoned, and the system hands it to one of them: the selection goes on
# at once, not after the minute.
running_copies() {
    tasklist /FO CSV /NH /FI "IMAGENAME eq VellixContextMenu.exe" | grep -c '^"VellixContextMenu.exe"'
}
wine "$helper" install 2>/dev/null
helper_gone
wine "$folder\\block_holder.exe" --helper "$helper" > "$WINEPREFIX/holder.out" 2>/dev/null &
holder=$!
for _ in $(seq 100); do grep -q locked "$WINEPREFIX/holder.out" 2>/dev/null && break; sleep 0.1; done
check "holder took the lock" grep -q locked "$WINEPREFIX/holder.out"
# The drop-target server takes no part in the election: a drop reaches the
# editor while the copies' lock is held, in the time of a cold activation.
began=$(date +%s%N)
dropped Vellix03Merge 3 "besidelock"
for _ in $(seq 50); do [ -n "$(ls "$unix_folder/launches/" 2>/dev/null)" ] && break; sleep 0.2; done
took_ms=$(( ($(date +%s%N) - began) / 1000000 ))
check "a drop while the copies' lock is held reaches the editor (${took_ms} ms)" \
    same "$(cat "$WINEPREFIX/drive_c/besidelock.paths")" "$(launched_under -ftype_merge)"
check "a drop while the copies' lock is held: the server did not wait for the lock" test "$took_ms" -lt 15000
rm -rf "$unix_folder/launches"
helper_gone
start_selection 5 waiting &
waiting=$!
sleep 1.5
check "copies started meanwhile wait on the holder's lock" same 5 "$(running_copies)"
killed_at=$(date +%s%N)
wine taskkill.exe /f /im block_holder.exe >/dev/null 2>&1
wait "$holder" 2>/dev/null
wait "$waiting"
took_ms=$(( ($(date +%s%N) - killed_at) / 1000000 ))
check "the waiting copies went on within seconds of the holder's end (${took_ms} ms)" test "$took_ms" -lt 15000
check_selection 5 waiting "5 waiting on an abandoned lock"
check "hand-off folder removed" test ! -e "$temp_unix/VellixContextMenu"

finish
