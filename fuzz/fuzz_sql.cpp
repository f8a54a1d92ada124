// libFuzzer target: any bytes as one shard of Chromium's SQL cache, the database image held
// in memory (SqlShard::openImage). The reader may not crash or hang on a hostile file; the
// pieces of every body it returns must name the shard, none empty, and add up to the size it
// says it stored, and its sniffed bytes be no more than that. A shard that SQLite finds
// intact, read in two ranges of res_id, each on a shard of its own, must give what one read
// gives.
#include "cache/browser/sql_cache.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using browser::detail::ParsedEntry;
using browser::detail::ParseError;
using browser::detail::ShardResult;
using browser::detail::SqlShard;

const std::string kPath = "sqldb0";

std::string Describe(const ParsedEntry& e, ParseError error, std::int64_t resId) {
    std::string d = std::to_string(resId) + " " + std::to_string(static_cast<int>(error)) + " " +
                    e.key + " " + std::to_string(e.storedSize) + " " + std::to_string(e.truncated) +
                    " " + std::to_string(e.firstBytes.size());
    for (const auto& s : e.body)
        d += " " + std::to_string(s.blobRowId) + "@" + std::to_string(s.offset) + "+" +
             std::to_string(s.length);
    return d;
}

void Check(const ParsedEntry& e, ParseError error) {
    if (error != ParseError::None)
        return;
    std::uint64_t total = 0;
    for (const auto& s : e.body) {
        if (s.file != kPath || s.length == 0)
            std::abort();
        total += s.length;
    }
    if (total != e.storedSize || e.firstBytes.size() > e.storedSize ||
        e.lastBytes.size() > e.storedSize)
        std::abort();
}

// Whether SQLite's own check finds the image whole. In a damaged b-tree a seek to the middle
// of the range may meet other rows than a scan from its start, which is no fault of the reader.
bool Intact(std::string_view image) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return false;
    }
    // SQLite frees the copy with the connection, or at once when it fails.
    auto* copy =
        static_cast<unsigned char*>(sqlite3_malloc64(std::max<std::size_t>(image.size(), 1)));
    if (copy)
        image.copy(reinterpret_cast<char*>(copy), image.size());
    const auto size = static_cast<sqlite3_int64>(image.size());
    sqlite3_stmt* check = nullptr;
    bool ok =
        copy &&
        sqlite3_deserialize(db, "main", copy, size, size,
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(db, "PRAGMA integrity_check(1)", -1, &check, nullptr) == SQLITE_OK &&
        sqlite3_step(check) == SQLITE_ROW;
    const unsigned char* text = ok ? sqlite3_column_text(check, 0) : nullptr;
    ok = text && std::string_view(reinterpret_cast<const char*>(text)) == "ok";
    sqlite3_finalize(check);
    sqlite3_close_v2(db);
    return ok;
}

} // namespace

// The fuzzer runs one thread: SQLite need not lock nor count its memory.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view image(reinterpret_cast<const char*>(data), size);
    SqlShard shard;
    if (shard.openImage(image, kPath) != ShardResult::Read)
        return 0;
    std::vector<std::string> whole;
    const ShardResult result = shard.read([&](ParsedEntry& e, ParseError error, std::int64_t id) {
        Check(e, error);
        whole.push_back(Describe(e, error, id));
    });
    const auto ids = shard.resourceIds();
    if (result != ShardResult::Read || !ids || ids->first >= ids->second || !Intact(image))
        return 0;
    // The two halves of the res_id range, as a scan shares a large shard out: bounds that
    // meet, the first part open below and the second above.
    const std::optional<std::int64_t> middle = ids->first + (ids->second - ids->first) / 2 + 1;
    std::vector<std::string> parts;
    for (const auto& [from, below] : {std::pair{std::optional<std::int64_t>{}, middle},
                                      {middle, std::optional<std::int64_t>{}}}) {
        SqlShard part;
        if (part.openImage(image, kPath) != ShardResult::Read ||
            part.read([&](ParsedEntry& e, ParseError error,
                          std::int64_t id) { parts.push_back(Describe(e, error, id)); },
                      from, below) != ShardResult::Read)
            std::abort();
    }
    if (parts != whole)
        std::abort();
    return 0;
}
