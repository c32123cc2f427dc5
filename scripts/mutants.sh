#!/usr/bin/env bash
# A small mutation check of our own, for whoever changes the tests: each
# one-line change of scripts/mutants.txt (or the list given) is applied in
# turn to a scratch copy of the tree, built, and run against the suite but
# its stress and Wine labels until one fails: first the suite (or
# suite::function) that the list names after the change, then all of them,
# fastest first. Prints
# for each change whether the suite caught it, and by which suite, then a
# summary; exits 1 when a change went unseen (or could not be applied or
# built). Not part of CI.
#
#   scripts/mutants.sh [LIST]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
list=$(cd "$(dirname "${1:-$top/scripts/mutants.txt}")" && pwd)/$(basename "${1:-$top/scripts/mutants.txt}")
source "$top/scripts/packages.sh"
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

run_one() { # suite or suite::function: true when it passes
    local suite=${1%%::*} function=${1#*::}
    [[ $1 == *::* ]] || function=""
    if [[ $suite == replay_* ]]; then
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
