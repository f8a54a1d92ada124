// Chromium's SQL cache (sql_layout.h): its index file, and a shard opened so that SQLite can
// neither write, lock nor replay a journal, bounded in what any statement may cost, its schema
// checked before anything is read from it. docs/browser-caches.md says why each defence is
// there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace formats {

// What the `index` file says: "SQLCache" + the journal mode + the number of shards.
struct SqlIndex {
    bool wal = false;
    unsigned shards = 0;
};
std::optional<SqlIndex> ParseSqlIndex(std::string_view text);
std::string SqlShardName(unsigned shard); // "sqldb<shard>"

// The SQLite URI that opens `path` read-only and immutable. Every byte outside the unreserved
// set is percent-encoded, so names holding '?', '#', '%' or bytes that are not UTF-8 still
// name the file they name; a relative path is made absolute first.
std::string ImmutableUri(const std::string& path);

enum class ShardResult { Read, Missing, Damaged, UnknownSchema };

namespace sql {

// As for the Simple Cache: a response info of a few MiB is far beyond any real one.
inline constexpr int kMaxHead = 4 * 1024 * 1024;
inline constexpr int kMaxKey = 1024 * 1024;
// What one step of a statement may cost, in ticks at the least (see Harden).
inline constexpr std::uint64_t kMinTicksPerStep = 100'000;

// A connection to one shard, bounded in the steps a statement may take (see Harden).
struct Connection {
    sqlite3* db = nullptr;
    std::uint64_t ticks = 0, maxTicks = kMinTicksPerStep;
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { close(); }
    void close();
};

// sqlite3_step within the connection's budget for one step.
int Step(Connection& c, sqlite3_stmt* statement);

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();
    bool prepare(sqlite3* db, const char* sql);
};

// What every connection to an untrusted shard of `bytes` bytes gets: no functions named by its
// schema run, SQLite's own defences against a corrupt file are on, nothing can be written, and
// every statement is bounded in the length of its values and the steps it takes.
void Harden(Connection& c, std::uint64_t bytes);

// `path` with the links in its folders resolved, its last name kept as it is. SQLite's
// no-follow open refuses a link anywhere in the path it is given, while the folders above a
// shard are the user's to name however they like (a home reached through a link, /home
// itself a link): only the shard itself must not be one.
std::string WithFoldersResolved(const std::string& path);

// Opens a shard for reading only, hardened. `immutable=1` tells SQLite the file cannot change:
// it then takes no lock, never looks at a -journal or -wal (so nothing is replayed) and
// creates no -shm; `mode=ro` and SQLITE_OPEN_READONLY make every write fail. Links and
// anything but a regular file are refused before SQLite opens it (a FIFO would block the open).
bool OpenImmutable(const std::string& path, Connection& c);

// The three tables must be plain tables of plain columns: a view, a virtual table or a
// generated column in a hostile file would run code of its choosing at every read.
ShardResult CheckSchema(Connection& c);

// A column's bytes; empty for NULL.
std::string_view ColumnBytes(sqlite3_stmt* s, int column);

// Chromium's row check (sql_layout.h): `crc` is the CRC-32 of the bytes.
bool CheckSumMatches(unsigned long crc, std::int64_t keyHash, std::int64_t checkSum);
bool HeadChecksumMatches(std::string_view head, std::int64_t keyHash, std::int64_t checkSum);

} // namespace sql

} // namespace formats
