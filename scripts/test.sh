#!/usr/bin/env bash
# Installs what is missing, builds Tamberlin with its tests and runs every test.
#   scripts/test.sh              normal build in build/ (preset "default")
#   scripts/test.sh --core       the core alone, without Qt, in build-core/ (preset "core")
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer with the leak
#                                checker on, in build-asan/ (preset "asan")
set -Eeuo pipefail
trap 'echo "$0: failed (line $LINENO: $BASH_COMMAND)" >&2' ERR
cd "$(dirname "$0")/.."
case "${1:-}" in
    --sanitize) preset=asan ;;
    --core) preset=core ;;
    "") preset=default ;;
    *) echo "usage: $0 [--core|--sanitize]" >&2; exit 2 ;;
esac
scripts/deps.sh test
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
