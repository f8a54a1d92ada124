#!/usr/bin/env bash
# Builds the libFuzzer targets (the cache index reader, the metafile renderer) with clang and
# runs each for the given time. (Leak checks are off for the renderer: fontconfig keeps its
# caches for the life of the process.)
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
build-fuzz/bin/fuzz_index_reader -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=1024 -artifact_prefix=build-fuzz/ \
    build-fuzz/corpus
echo "-- the metafile renderer"
mkdir -p build-fuzz/corpus-metafile
cp -n fuzz/seeds/* build-fuzz/corpus-metafile/ 2>/dev/null || true
ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen build-fuzz/bin/fuzz_metafile -max_total_time="$seconds" -max_len=65536 \
    -rss_limit_mb=2048 -timeout=10 -detect_leaks=0 -artifact_prefix=build-fuzz/ build-fuzz/corpus-metafile
