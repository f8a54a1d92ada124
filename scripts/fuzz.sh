#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (preset "fuzz") and runs each for the given time, or
# for the given number of executions: the index reader alone, the whole road an index travels
# (enumeration into the simulated memory, then the scan), the metafile renderer, the two
# browser cache entry formats, whole blockfile caches, shards of the SQL cache, the body
# decoders, WebKit NetworkCache records with their blobs, the report --report writes with its
# escapers, the escaping of --list and --json, and the disk image reader's answers as the
# program reads them. The corpora are seeded at run time from the real indexes and caches in
# tests/data and the sample cache; leaks are checked, with the suppressions for what system
# libraries keep (scripts/lsan.supp). Each target prints its executions, executions per
# second, time, corpus size and peak memory.
# Usage: scripts/fuzz.sh [seconds per target] [target...]   (default 60 s, every target)
#        scripts/fuzz.sh --runs N [target...]                (N executions per target)
set -Eeuo pipefail
trap 'echo "$0: failed (line $LINENO: $BASH_COMMAND)" >&2' ERR
cd "$(dirname "$0")/.."
limit="-max_total_time=${1:-60}"
if [ "${1:-}" = "--runs" ]; then
    limit="-runs=$2"
    shift 2
elif [ $# -gt 0 ]; then
    shift
fi
only=("$@")
scripts/deps.sh ci
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_index_reader fuzz_index_scan fuzz_metafile \
    fuzz_firefox_entry fuzz_chromium_entry fuzz_blockfile blockfile_pack fuzz_sql sql_seed \
    fuzz_body_decoder fuzz_webkit_record fuzz_report fuzz_list_text fuzz_image_answers

out=build-fuzz
for corpus in index metafile firefox chromium blockfile sql decoder webkit report list answers; do
    mkdir -p "$out/corpus-$corpus"
done
seed() { [ -f "$1" ] && cp -n "$1" "$out/corpus-index/$2" || true; }
seed resources/sample-prefix/drive_c/users/sample/AppData/Local/Microsoft/Windows/INetCache/Content.IE5/index.dat sample-index.dat
seed tests/data/url-cache/ie-content/index.dat ie-content-index.dat
seed tests/data/url-cache/wine/prefix/drive_c/users/root/AppData/Local/Microsoft/Windows/INetCache/Content.IE5/index.dat wine-index.dat
cp -n fuzz/seeds/* "$out/corpus-metafile/" 2>/dev/null || true
# Real browser cache entries.
browsers=tests/data/browser-caches
if [ -d "$browsers" ]; then
    find "$browsers" -path '*/cache2/entries/*' -type f -exec cp -n {} "$out/corpus-firefox/" \;
    find "$browsers" -path '*/Cache_Data/*_[0s]' -type f -exec cp -n {} "$out/corpus-chromium/" \;
    # Each blockfile cache packed whole into one input, its table folded small.
    n=0
    while IFS= read -r -d '' index; do
        n=$((n + 1))
        "$out/bin/blockfile_pack" "$(dirname "$index")" "$out/corpus-blockfile/fixture-$n" || true
    done < <(find "$browsers" -path '*/Cache_Data/index' -type f -print0)
    # Each SQL shard made small: 512-byte pages, bodies cut short.
    n=0
    while IFS= read -r -d '' shard; do
        n=$((n + 1))
        "$out/bin/sql_seed" "$shard" "$out/corpus-sql/fixture-$n"
    done < <(find "$browsers" -path '*/Cache_Data/sqldb[0-9]*' ! -name '*-*' -type f -print0)
    # Each WebKit record as one input: its cache's salt, the record's length (u32,
    # little-endian), the record, then its blob, or for an inline body the record's header
    # (its stored response), found past the meta data's strings and fixed fields.
    python3 - "$browsers" "$out/corpus-webkit" <<'EOF'
import os, re, struct, sys
browsers, corpus = sys.argv[1:]
records = [os.path.join(folder, name) for folder, _, names in os.walk(browsers) for name in names
           if re.search(r"/Version [0-9]+/Records/[^/]+/[^/]+$", folder) and "-" not in name]
for n, path in enumerate(sorted(records), 1):
    record = open(path, "rb").read()
    salt = open(path.split("/Records/")[0] + "/salt", "rb").read()
    at = 4  # version, then the key's four strings
    for _ in range(4):
        length = struct.unpack_from("<I", record, at)[0]
        at += 4
        if length != 0xFFFFFFFF:
            at += 1 + (length if record[at] else 2 * length)
    header_size = struct.unpack_from("<Q", record, at + 68)[0]
    header = at + 105 + 20  # fixed fields, check sum
    rest = record[header:header + header_size]
    if os.path.exists(path + "-blob"):
        rest = open(path + "-blob", "rb").read()
    with open(f"{corpus}/fixture-{n}", "wb") as out:
        out.write(salt + struct.pack("<I", len(record)) + record + rest)
EOF
fi
printf '\xc1\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    >"$out/corpus-decoder/empty-gzip"

export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
run() {
    local target=$1 corpus=$2
    shift 2
    if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $target "* ]]; then
        return 0
    fi
    echo "-- $target"
    local log="$out/$target.log" start=$SECONDS
    if ! "$out/bin/$target" "$limit" -artifact_prefix="$out/" -print_final_stats=1 "$@" \
        "$out/$corpus" >"$log" 2>&1; then
        tail -n 60 "$log"
        return 1
    fi
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
    echo "time: $((SECONDS - start)) s, corpus: $(find "$out/$corpus" -type f | wc -l) inputs"
}
run fuzz_index_reader corpus-index -max_len=262144 -rss_limit_mb=1024
run fuzz_index_scan corpus-index -max_len=262144 -rss_limit_mb=1024
# Metafiles of up to 8 KiB: a larger one is only more records of the kinds a small one holds
# (the same 423 edges), and at 64 KiB the run slowed to about 1,250 a second as its inputs grew.
QT_QPA_PLATFORM=offscreen run fuzz_metafile corpus-metafile -max_len=8192 -rss_limit_mb=2048 -timeout=10
run fuzz_firefox_entry corpus-firefox -max_len=524288 -rss_limit_mb=1024 -timeout=10
run fuzz_chromium_entry corpus-chromium -max_len=524288 -rss_limit_mb=1024 -timeout=10
run fuzz_blockfile corpus-blockfile -max_len=262144 -rss_limit_mb=2048 -timeout=10
run fuzz_sql corpus-sql -max_len=65536 -rss_limit_mb=2048 -timeout=10
run fuzz_body_decoder corpus-decoder -max_len=65536 -rss_limit_mb=2048 -timeout=10
run fuzz_webkit_record corpus-webkit -max_len=65536 -rss_limit_mb=1024 -timeout=10
run fuzz_report corpus-report -max_len=1024 -rss_limit_mb=2048
run fuzz_list_text corpus-list -max_len=4096 -rss_limit_mb=1024
run fuzz_image_answers corpus-answers -max_len=65536 -rss_limit_mb=1024
