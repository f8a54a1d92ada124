#!/usr/bin/env bash
# Installs what is missing, builds Tamberlin with its tests and runs every test, then says why
# each skipped test was skipped (ctest itself only names them).
#   scripts/test.sh              normal build in build/ (preset "default")
#   scripts/test.sh --core       the core alone, without Qt, in build-core/ (preset "core")
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer with the leak
#                                checker on, in build-asan/ (preset "asan")
set -Eeuo pipefail
trap 'echo "$0: failed (line $LINENO: $BASH_COMMAND)" >&2' ERR
cd "$(dirname "$0")/.."
case "${1:-}" in
    --sanitize) preset=asan build=build-asan ;;
    --core) preset=core build=build-core ;;
    "") preset=default build=build ;;
    *) echo "usage: $0 [--core|--sanitize]" >&2; exit 2 ;;
esac
scripts/deps.sh test
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"

out=$(mktemp "${TMPDIR:-/tmp}/tamberlin-ctest-XXXXXX")
trap 'rm -f "$out"' EXIT
status=0
ctest --preset "$preset" | tee "$out" || status=$?

# The skipped tests, named in ctest's closing list, each with what it printed: a GoogleTest
# case its GTEST_SKIP message, a script its "skipped: ..." line.
skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$out")
if [ -n "$skipped" ]; then
    echo
    echo "Why they were skipped:"
    awk -v names="$skipped" '
        BEGIN { n = split(names, list, "\n"); for (i = 1; i <= n; i++) wanted[list[i]] = 1 }
        /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); next }
        /^Output:$/ { inside = (name in wanted); why = ""; next }
        /^<end of output>$/ {
            if (inside) printf "  %s:%s\n", name, why == "" ? " (it printed no reason)" : why
            inside = 0; next
        }
        inside && !/^-+$/ && !/^\[/ && !/^Running main\(\)/ && !/^Note: Google Test filter/ &&
            !/: Skipped$/ && NF { why = why " " $0 }
    ' "$build/Testing/Temporary/LastTest.log"
fi
exit "$status"
