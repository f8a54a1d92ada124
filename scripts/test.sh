#!/usr/bin/env bash
# Installs what is missing, builds Tamberlin with its tests and runs every test.
#   scripts/test.sh              normal build in build-test/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-}"
scripts/deps.sh test

if [ "$mode" = "--sanitize" ]; then
    dir=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DTAMBERLIN_SANITIZE=ON -DTAMBERLIN_BENCH=OFF)
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    dir=build-test
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
cmake -S . -B "$dir" -G Ninja -DTAMBERLIN_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "$dir"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure
