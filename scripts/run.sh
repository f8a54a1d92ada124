#!/usr/bin/env bash
# Installs what is missing, builds Tamberlin (preset "release", in build-release/) and starts
# it. Extra arguments go to CMake.
set -Eeuo pipefail
trap 'echo "$0: failed (line $LINENO: $BASH_COMMAND)" >&2' ERR
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake --preset release "$@" >/dev/null
cmake --build --preset release --target tamberlin
exec build-release/bin/tamberlin
