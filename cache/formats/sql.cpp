#include "cache/formats/sql.h"
#include "cache/formats/sql_layout.h"
#include "platform/base/ascii.h"
#include "platform/base/endian.h"

#include <algorithm>
#include <filesystem>
#include <sqlite3.h>
#include <sys/stat.h>
#include <system_error>
#include <zlib.h>

namespace formats {

namespace fs = std::filesystem;
using namespace sql;

namespace {

// Chromium keeps three shards; a few more are accepted, a number beyond any real cache is not.
constexpr unsigned kMaxShards = 64;
// No value the reader takes whole (a head, a key, a meta value) comes near this, while a value
// a hostile schema computes (a zeroblob of gigabytes) fails at once. Blobs are read in pieces
// through incremental I/O, which the limit does not touch.
constexpr int kMaxValueBytes = 2 * kMaxHead;
// SQLite calls the progress handler every this many virtual machine instructions.
constexpr int kTickInstructions = 1000;
// What one step of a statement may cost, in ticks: kMinTicksPerStep, or more for a large
// shard; enough to sort every row of the shard several times over, far too little for a
// crafted file to keep a scan busy for long.
constexpr std::uint64_t kShardBytesPerTick = 64;

// Called by SQLite as a statement runs: a non-zero answer interrupts it.
int SpendTick(void* connection) {
    auto& c = *static_cast<Connection*>(connection);
    return ++c.ticks > c.maxTicks ? 1 : 0;
}

// A regular file, not a link to one.
bool IsRegularFileNoLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::optional<SqlIndex> ParseSqlIndex(std::string_view text) {
    if (!text.starts_with(kIndexMagic))
        return std::nullopt;
    text.remove_prefix(kIndexMagic.size());
    SqlIndex index;
    if (text.starts_with(kJournalTruncate)) {
        text.remove_prefix(kJournalTruncate.size());
    } else if (text.starts_with(kJournalWal)) {
        index.wal = true;
        text.remove_prefix(kJournalWal.size());
    } else {
        return std::nullopt;
    }
    if (text.empty() || text.size() > kMaxShardDigits)
        return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        index.shards = index.shards * 10 + static_cast<unsigned>(c - '0');
    }
    if (index.shards == 0 || index.shards > kMaxShards)
        return std::nullopt;
    return index;
}

std::string SqlShardName(unsigned shard) {
    return std::string(kShardPrefix) + std::to_string(shard);
}

std::string ImmutableUri(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(path), ec);
    const std::string p = ec ? path : absolute.string();
    std::string uri = "file://";
    for (const char ch : p) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            uri.push_back(ch);
        } else {
            uri.push_back('%');
            platform::AppendHexByte(uri, c, platform::HexCase::Upper);
        }
    }
    return uri + "?mode=ro&immutable=1";
}

namespace sql {

std::string WithFoldersResolved(const std::string& path) {
    const fs::path p(path);
    std::error_code ec;
    const fs::path folder =
        fs::canonical(p.parent_path().empty() ? fs::path(".") : p.parent_path(), ec);
    return ec ? path : (folder / p.filename()).string();
}

void Connection::close() {
    sqlite3_close_v2(db); // (a null handle is a harmless no-op)
    db = nullptr;
}

int Step(Connection& c, sqlite3_stmt* statement) {
    c.ticks = 0;
    return sqlite3_step(statement);
}

Statement::~Statement() {
    sqlite3_finalize(stmt);
}

bool Statement::prepare(sqlite3* db, const char* sql) {
    return sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK;
}

void Harden(Connection& c, std::uint64_t bytes) {
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_exec(c.db, "PRAGMA query_only=1", nullptr, nullptr, nullptr);
    c.maxTicks = std::max(kMinTicksPerStep, bytes / kShardBytesPerTick);
    sqlite3_progress_handler(c.db, kTickInstructions, SpendTick, &c);
    sqlite3_limit(c.db, SQLITE_LIMIT_LENGTH, kMaxValueBytes);
}

bool OpenImmutable(const std::string& path, Connection& c) {
    c.close();
    if (!IsRegularFileNoLink(path))
        return false;
    // One connection is only ever used by one thread: SQLite's own locking is not needed.
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW |
                      SQLITE_OPEN_PRIVATECACHE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(ImmutableUri(WithFoldersResolved(path)).c_str(), &c.db, flags, nullptr) !=
        SQLITE_OK) {
        c.close();
        return false;
    }
    struct stat st {};
    Harden(c, ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0);
    return true;
}

std::string_view ColumnBytes(sqlite3_stmt* s, int column) {
    const void* p = sqlite3_column_blob(s, column);
    const int n = sqlite3_column_bytes(s, column);
    if (p == nullptr || n <= 0)
        return {};
    return {static_cast<const char*>(p), static_cast<std::size_t>(n)};
}

ShardResult CheckSchema(Connection& c) {
    sqlite3* db = c.db;
    Statement types;
    if (!types.prepare(db, "SELECT name, type, sql FROM sqlite_master WHERE name IN "
                           "('meta', 'resources', 'blobs')"))
        return ShardResult::Damaged; // not a database, or its first page is damaged
    int tables = 0;
    int rc;
    while ((rc = Step(c, types.stmt)) == SQLITE_ROW)
        if (ColumnBytes(types.stmt, 1) == "table" &&
            !ColumnBytes(types.stmt, 2).starts_with("CREATE VIRTUAL"))
            ++tables;
    if (rc != SQLITE_DONE || tables != 3)
        return ShardResult::Damaged;
    for (const char* table : {"meta", "resources", "blobs"}) {
        Statement columns;
        if (!columns.prepare(db, (std::string("PRAGMA table_xinfo(") + table + ")").c_str()))
            return ShardResult::Damaged;
        // The last column says whether a column is hidden (1) or generated (2, 3).
        while ((rc = Step(c, columns.stmt)) == SQLITE_ROW)
            if (sqlite3_column_int64(columns.stmt, sqlite3_column_count(columns.stmt) - 1) != 0)
                return ShardResult::Damaged;
        if (rc != SQLITE_DONE)
            return ShardResult::Damaged;
    }
    Statement version;
    if (!version.prepare(db, "SELECT value FROM meta WHERE key = 'version'"))
        return ShardResult::Damaged;
    rc = Step(c, version.stmt);
    if (rc != SQLITE_ROW)
        return ShardResult::Damaged;
    return ColumnBytes(version.stmt, 0) == kSchemaVersion ? ShardResult::Read
                                                          : ShardResult::UnknownSchema;
}

bool CheckSumMatches(unsigned long crc, std::int64_t keyHash, std::int64_t checkSum) {
    const auto hash = static_cast<std::uint32_t>(keyHash);
    unsigned char be[kCheckSumKeyHashBytes];
    platform::StoreBE32(be, hash);
    return static_cast<std::uint32_t>(crc32(crc, be, kCheckSumKeyHashBytes)) ==
           static_cast<std::uint32_t>(checkSum);
}

bool HeadChecksumMatches(std::string_view head, std::int64_t keyHash, std::int64_t checkSum) {
    const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(head.data()),
                            static_cast<uInt>(head.size()));
    return CheckSumMatches(crc, keyHash, checkSum);
}

} // namespace sql

} // namespace formats
