#!/usr/bin/env bash
# Builds the libFuzzer targets (the cache index reader, the metafile renderer) with clang and
# runs each for the given time.
# Usage: scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/deps.sh ci
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTAMBERLIN_FUZZ=ON -DTAMBERLIN_GUI=OFF -DTAMBERLIN_TESTS=OFF -DTAMBERLIN_WERROR=ON >/dev/null
cmake --build build-fuzz --target fuzz_index_reader fuzz_metafile
mkdir -p build-fuzz/corpus
# Seed with the sample cache shipped for new users.
cp -n resources/sample-prefix/drive_c/users/sample/AppData/Local/Microsoft/Windows/INetCache/Content.IE5/index.dat \
    build-fuzz/corpus/sample-index.dat 2>/dev/null || true
echo "-- the cache index reader"
build-fuzz/fuzz/fuzz_index_reader -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=1024 \
    build-fuzz/corpus
echo "-- the metafile renderer"
mkdir -p build-fuzz/corpus-metafile
QT_QPA_PLATFORM=offscreen build-fuzz/fuzz/fuzz_metafile -max_total_time="$seconds" -max_len=65536 \
    -rss_limit_mb=2048 -timeout=10 build-fuzz/corpus-metafile
