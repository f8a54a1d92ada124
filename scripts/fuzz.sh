#!/usr/bin/env bash
# Builds the libFuzzer target for the cache index reader with clang and runs it.
# Usage: scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/deps.sh ci
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTAMBERLIN_FUZZ=ON -DTAMBERLIN_GUI=OFF -DTAMBERLIN_TESTS=OFF -DTAMBERLIN_WERROR=ON >/dev/null
cmake --build build-fuzz --target fuzz_index_reader
mkdir -p build-fuzz/corpus
# Seed with the sample cache shipped for new users.
cp -n resources/sample-prefix/drive_c/users/sample/AppData/Local/Microsoft/Windows/INetCache/Content.IE5/index.dat \
    build-fuzz/corpus/sample-index.dat 2>/dev/null || true
build-fuzz/fuzz/fuzz_index_reader -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=1024 \
    build-fuzz/corpus
