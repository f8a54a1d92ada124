#!/usr/bin/env bash
# Installs what is missing, builds Tamberlin and starts it. Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBERLIN_TESTS=OFF "$@" >/dev/null
cmake --build build --target tamberlin tamberlin-window
exec build/bin/tamberlin
