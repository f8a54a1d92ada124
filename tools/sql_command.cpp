// The `sql` command: a Chromium SQL cache folder as the reader opens it: its index file, then
// each shard (opened read-only and immutable, hardened, its schema checked) with its
// resources: key, body length, state and last use.
//
// Usage: tamberlin-cacheinfo sql <cache folder>   (the one holding index, sqldb0, sqldb1...)
// Exit status: 0 read (a shard may still be missing or damaged), 1 no SQL cache index,
// 2 the index cannot be opened.
#include "cacheinfo.h"

#include "cache/formats/sql.h"
#include "cache/formats/sql_layout.h"
#include "platform/base/unix_time.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <string>

namespace cacheinfo {

namespace {

using namespace formats::sql;

// Far longer than any index ("SQLCache" + journal mode + two digits).
constexpr std::streamsize kMaxIndexBytes = 64;

const char* ResultText(formats::ShardResult r) {
    switch (r) {
    case formats::ShardResult::Read:
        return "read";
    case formats::ShardResult::Missing:
        return "missing";
    case formats::ShardResult::Damaged:
        return "damaged";
    case formats::ShardResult::UnknownSchema:
        return "a schema the reader does not know";
    }
    return "(unknown)";
}

// Prints each resource of an open shard whose schema was checked; false when a statement fails.
bool PrintResources(Connection& c) {
    const std::string sql = "SELECT res_id, body_end, doomed, last_used, CASE WHEN "
                            "length(CAST(cache_key AS BLOB)) <= " +
                            std::to_string(kMaxKey) +
                            " THEN CAST(cache_key AS BLOB) END FROM resources ORDER BY res_id";
    Statement resources;
    if (!resources.prepare(c.db, sql.c_str()))
        return false;
    int rc = SQLITE_ROW;
    while ((rc = Step(c, resources.stmt)) == SQLITE_ROW) {
        sqlite3_stmt* s = resources.stmt;
        std::printf(
            "  resource  %lld  %lld bytes%s, used %s\n",
            static_cast<long long>(sqlite3_column_int64(s, 0)),
            static_cast<long long>(sqlite3_column_int64(s, 1)),
            sqlite3_column_int64(s, 2) != 0 ? ", doomed" : "",
            UtcText(platform::UnixSecondsFromMicrosSince1601(sqlite3_column_int64(s, 3))).c_str());
        std::printf("    key     %s\n", Shown(ColumnBytes(s, 4)).c_str());
    }
    return rc == SQLITE_DONE;
}

} // namespace

int SqlCommand(const Call& call) {
    if (call.args.size() != 1)
        return Usage(call, "<SQL cache folder>");
    const std::filesystem::path folder = call.args[0];
    std::ifstream in(folder / kIndexFileName, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open the index of %s\n", call.name.c_str(), call.args[0]);
        return 2;
    }
    std::string text(static_cast<std::size_t>(kMaxIndexBytes), '\0');
    in.read(text.data(), kMaxIndexBytes);
    text.resize(static_cast<std::size_t>(in.gcount()));
    const std::optional<formats::SqlIndex> index = formats::ParseSqlIndex(text);
    std::printf("folder      %s\n", call.args[0]);
    if (!index) {
        std::printf("index       not an SQL cache index\n");
        return 1;
    }
    std::printf("journal     %s\n", index->wal ? "WAL" : "truncate");
    std::printf("shards      %u\n", index->shards);
    for (unsigned i = 0; i < index->shards; ++i) {
        const std::string name = formats::SqlShardName(i);
        Connection c;
        formats::ShardResult result = formats::ShardResult::Missing;
        if (OpenImmutable((folder / name).string(), c))
            result = CheckSchema(c);
        std::printf("%-11s %s\n", name.c_str(), ResultText(result));
        if (result == formats::ShardResult::Read && !PrintResources(c))
            std::printf("  (the resources could not all be read: damaged)\n");
    }
    return 0;
}

} // namespace cacheinfo
