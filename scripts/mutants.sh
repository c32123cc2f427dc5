#!/usr/bin/env bash
# A small mutation check of our own, for whoever changes the tests: each
# one-line change of scripts/mutants.txt (or the list given) is applied in
# turn to a scratch copy of the tree, built, and run against the suite but
# its stress and Wine labels until one fails: first the suite (or
# suite::function) that the list names after the change, then all of them,
# fastest first. Prints
# for each change whether the suite caught it, and by which suite, then a
# summary; exits 1 when a change went unseen (or could not be applied or
# built). A change of the Windows layers names wine_suite: the scratch copy
# is then cross-built too (once, and the 64-bit build where this machine
# cannot start 32-bit programs) and the Wine suite runs on it. Not part of CI.
#
#   scripts/mutants.sh [LIST]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
list=$(cd "$(dirname "${1:-$top/scripts/mutants.txt}")" && pwd)/$(basename "${1:-$top/scripts/mutants.txt}")
source "$top/scripts/packages.sh"
source "$top/tests/wine/wine_choice.sh"
need_packages g++ cmake ninja-build qtbase5-dev qtbase5-dev-tools python3

scratch=$(mktemp -d /tmp/vellix-mutants.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
(cd "$top" && git ls-files -z | xargs -0 cp --parents -t "$scratch")
echo "== building a scratch copy in $scratch"
cmake -S "$scratch" -B "$scratch/build" -G Ninja -DVELLIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$scratch/build" >/dev/null

# Quick suites first, and each Qt Test suite one test function at a time,
# the ones that wait on purpose (a minute's bound, a damaged block's 5 s)
# last: most changes are caught within seconds. The storms of the
# single-instance suite are cut to a few rounds.
suites=(tst_launcher_units tst_instance_block tst_registry_hive tst_captions tst_instance_channel
        tst_entry_point tst_install replay_handshake replay_registry_hive replay_settings
        tst_single_instance tst_selection tst_faults tst_hostile)
slow="inconsistentBlockIsResetAfterFiveSeconds damagedBlockIsWaitedOnAndReset waitIsBounded
      stoppedLockHolderHoldsNobodyPastTheBound everyPathOfTheDecisionSaysItsMessage"
export VELLIX_STORM_ROUNDS=3

functions_of() { # suite: its test functions, those that wait last
    local all
    all=$("$scratch/build/bin/$1" -functions | sed 's/()$//')
    grep -vxF -f <(tr -s ' \n' '\n' <<<"$slow") <<<"$all" || true
    grep -xF -f <(tr -s ' \n' '\n' <<<"$slow") <<<"$all" || true
}

windows_built=""
wine_suite() { # the Wine suite on the scratch copy's Windows build: true when it passes
    local shared=$top/../shared/toolchains win64=()
    if [ -z "$windows_built" ]; then
        need_packages g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine64 icoutils xz-utils
        /lib/ld-linux.so.2 --version >/dev/null 2>&1 && { want_packages wine32:i386 || true; }
        cmake -S "$scratch" -B "$scratch/build-win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$scratch/cmake/mingw-w64-i686.cmake" \
            -DVELLIX_QT_WIN_ARCHIVE="$shared/qt5-win32/qt5-win32-i686.tar.xz" >/dev/null
        if [ -n "$(why_win64)" ]; then
            need_packages g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
            cmake -S "$scratch" -B "$scratch/build-win64" -G Ninja \
                -DCMAKE_TOOLCHAIN_FILE="$scratch/cmake/mingw-w64-x86_64.cmake" \
                -DVELLIX_QT_WIN_ARCHIVE="$shared/qt5-win64/qt5-win64-x86_64.tar.xz" >/dev/null
        fi
        windows_built=1
    fi
    [ -d "$scratch/build-win64" ] && win64=("$scratch/build-win64")
    cmake --build "$scratch/build-win" >/dev/null 2>&1 || return 0 # unseen, never caught, if it does not build
    [ ${#win64[@]} -eq 0 ] || cmake --build "${win64[0]}" >/dev/null 2>&1 || return 0
    VELLIX_WIN64_BUILD="${win64[0]:-}" timeout 900 bash "$scratch/tests/wine/run_wine_tests.sh" "$scratch/build-win" \
        >/dev/null 2>&1
}

run_one() { # suite or suite::function: true when it passes
    local suite=${1%%::*} function=${1#*::}
    [[ $1 == *::* ]] || function=""
    if [[ $suite == wine_suite ]]; then
        wine_suite
    elif [[ $suite == replay_* ]]; then
        ctest --test-dir "$scratch/build" -R "^$suite\$" --timeout 300 -Q >/dev/null 2>&1
    else
        (cd "$scratch/build" && timeout 300 "bin/$suite" $function >/dev/null 2>&1)
    fi
}

# Runs the suites until one fails, the one the list names for the change
# first; prints the one that failed ("suite" or "suite::function"),
# nothing when all passed.
first_failure() {
    local suite function
    if [ -n "${1:-}" ] && ! run_one "$1"; then
        echo "$1"
        return
    fi
    for suite in "${suites[@]}"; do
        if [[ $suite == replay_* ]]; then
            ctest --test-dir "$scratch/build" -R "^$suite\$" --timeout 300 -Q >/dev/null 2>&1 || { echo "$suite"; return; }
            continue
        fi
        for function in $(functions_of "$suite"); do
            (cd "$scratch/build" && timeout 300 "bin/$suite" "$function" >/dev/null 2>&1) || { echo "$suite::$function"; return; }
        done
    done
}

started=$(date +%s)
total=0 caught=0 unseen=0 broken=0
while IFS=$'\t' read -r file text replacement expected; do
    [[ -z "$file" || "$file" == \#* ]] && continue
    total=$((total + 1))
    label="$file: $text -> $replacement"
    cp "$top/$file" "$scratch/$file"
    if ! python3 - "$scratch/$file" "$text" "$replacement" <<'EOF'
import sys
path, text, replacement = sys.argv[1:4]
source = open(path, encoding="utf-8").read()
if source.count(text) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(source.replace(text, replacement))
EOF
    then
        echo "NOT APPLIED  $label"
        broken=$((broken + 1))
        continue
    fi
    if ! cmake --build "$scratch/build" >"$scratch/build.log" 2>&1; then
        echo "NOT BUILT    $label"
        broken=$((broken + 1))
        cp "$top/$file" "$scratch/$file"
        continue
    fi
    by=$(first_failure "${expected:-}")
    if [ -n "$by" ]; then
        echo "caught       $label   (by $by)"
        caught=$((caught + 1))
    else
        echo "UNSEEN       $label"
        unseen=$((unseen + 1))
    fi
    cp "$top/$file" "$scratch/$file"
done < "$list"
# The tree as it was, so that a last build leaves nothing changed behind.
cmake --build "$scratch/build" >/dev/null 2>&1 || true

echo "$caught of $total changes caught, $unseen unseen, $broken not applied or not built, in $(( $(date +%s) - started )) s"
[ "$unseen" -eq 0 ] && [ "$broken" -eq 0 ]
