#!/usr/bin/env bash
# The suites that prove the helper under hostile conditions, beyond test.sh:
#  - the whole Linux test suite built with AddressSanitizer and
#    UndefinedBehaviorSanitizer (build-asan/);
#  - each libFuzzer target (clang, build-fuzz/) run for FUZZ_SECONDS (default
#    45) from its seeds and kept findings; a crash fails the run and leaves
#    its input in build-fuzz/findings/ to be kept under fuzz/regressions/.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$top/scripts/packages.sh"
need_packages g++ clang libclang-rt-14-dev cmake ninja-build qtbase5-dev qtbase5-dev-tools

echo "== The test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$top" -B "$top/build-asan" -G Ninja -DVELLIX_SANITIZE=ON -DVELLIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-asan"
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 VELLIX_STRESS_ROUNDS=10 \
    ctest --test-dir "$top/build-asan" --output-on-failure -j2

echo "== Fuzzing, ${FUZZ_SECONDS:-45} s a target"
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DVELLIX_FUZZ=ON \
    -DVELLIX_BUILD_TESTS=OFF -DVELLIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-fuzz" --target fuzz_handshake fuzz_registry_hive fuzz_settings
findings="$top/build-fuzz/findings"
mkdir -p "$findings"
for target in handshake registry_hive settings; do
    corpus="$top/build-fuzz/corpus/$target"
    mkdir -p "$corpus"
    cp -n "$top/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
    "$top/build-fuzz/bin/fuzz_$target" -max_total_time="${FUZZ_SECONDS:-45}" -print_final_stats=1 \
        -artifact_prefix="$findings/$target-" "$corpus" "$top/fuzz/regressions/$target" 2>&1 \
        | grep -E "^(Done|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)" || true
    if ls "$findings/$target-"* >/dev/null 2>&1; then
        echo "fuzz_$target found a crash: $(ls "$findings/$target-"*)"
        exit 1
    fi
done
echo "0 findings"
