// Writes shards of Chromium's SQL cache back-end with SQLite: well-formed or deliberately
// broken rows, in the schema (version 8) Chromium 156 writes.
#pragma once

#include "cache_builder.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace browser_test {

struct SqlResource {
    ChromiumEntry entry; // key, status line and headers (its body is ignored)
    // The stored body: [start, bytes) pieces, written as rows of `blobs` in this order.
    std::vector<std::pair<std::int64_t, std::string>> blobs;
    std::int64_t bodyEnd = -1; // -1: where the last piece ends
    bool doomed = false;
    bool badCheckSum = false; // the head's check sum does not match it
};

// A shard at `path` holding `resources`; `version` goes into its meta table. `wal`: the
// shard is left in Wal mode with the rows still in its -wal (the writer never checkpoints).
void WriteSqlShard(const std::filesystem::path& path, const std::vector<SqlResource>& resources,
                   int version = 8, bool wal = false);
// The `index` file: "SQLCache" + mode + shard count.
void WriteSqlIndex(const std::filesystem::path& folder, const std::string& mode = "Truncate",
                   unsigned shards = 3);
// A resource whose body is `body`, stored as one blob (or pieces of `piece` bytes).
SqlResource SqlBody(const std::string& url, const std::string& body, std::size_t piece = 0);

} // namespace browser_test
