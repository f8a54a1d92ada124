#include "cache/browser/sql_cache.h"

#include "cache/browser/media.h"
#include "cache/browser/source.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <system_error>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace browser::detail {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kIndexMagic = "SQLCache";
// Chromium keeps three shards; a few more are accepted, a number beyond any real cache is not.
constexpr unsigned kMaxShards = 64;
constexpr std::size_t kMaxIndexFile = 64;
// The only schema this reader knows; the version is the "version" row of each shard's meta.
constexpr std::string_view kSchemaVersion = "8";
// As for the Simple Cache: a response info of a few MiB is far beyond any real one.
constexpr int kMaxHead = 4 * 1024 * 1024;
constexpr int kMaxKey = 1024 * 1024;

struct Connection {
    sqlite3* db = nullptr;
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { close(); }
    void close() {
        sqlite3_close_v2(db); // (a null handle is a harmless no-op)
        db = nullptr;
    }
};

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt); }
    bool prepare(sqlite3* db, const char* sql) {
        return sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK;
    }
};

// Opens a shard for reading only. `immutable=1` tells SQLite the file cannot change: it then
// takes no lock, never looks at a -journal or -wal (so nothing is replayed) and creates no
// -shm; `mode=ro` and SQLITE_OPEN_READONLY make every write fail. Links and anything but a
// regular file are refused before SQLite opens it (a FIFO would block the open).
bool OpenImmutable(const std::string& path, Connection& c) {
    c.close();
    if (!IsRegularFile(path))
        return false;
    // One connection is only ever used by one thread: SQLite's own locking is not needed.
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW |
                      SQLITE_OPEN_PRIVATECACHE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(ImmutableUri(path).c_str(), &c.db, flags, nullptr) != SQLITE_OK) {
        c.close();
        return false;
    }
    // The shard is untrusted: no functions named by its schema run, and SQLite's own
    // defences against a corrupt file are on.
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_exec(c.db, "PRAGMA query_only=1", nullptr, nullptr, nullptr);
    return true;
}

std::string_view ColumnBytes(sqlite3_stmt* s, int column) {
    const void* p = sqlite3_column_blob(s, column);
    const int n = sqlite3_column_bytes(s, column);
    if (p == nullptr || n <= 0)
        return {};
    return {static_cast<const char*>(p), static_cast<std::size_t>(n)};
}

// The three tables must be tables: a view in a hostile file could make a query run forever.
ShardResult CheckSchema(sqlite3* db) {
    Statement types;
    if (!types.prepare(db, "SELECT name, type FROM sqlite_master WHERE name IN "
                           "('meta', 'resources', 'blobs')"))
        return ShardResult::Damaged; // not a database, or its first page is damaged
    int tables = 0;
    int rc;
    while ((rc = sqlite3_step(types.stmt)) == SQLITE_ROW)
        if (ColumnBytes(types.stmt, 1) == "table")
            ++tables;
    if (rc != SQLITE_DONE)
        return ShardResult::Damaged;
    Statement version;
    if (!version.prepare(db, "SELECT value FROM meta WHERE key = 'version'"))
        return ShardResult::Damaged;
    rc = sqlite3_step(version.stmt);
    if (rc != SQLITE_ROW)
        return ShardResult::Damaged;
    if (ColumnBytes(version.stmt, 0) != kSchemaVersion)
        return ShardResult::UnknownSchema;
    return tables == 3 ? ShardResult::Read : ShardResult::Damaged;
}

// Chromium's row check: CRC-32 of the head followed by the big-endian key hash.
bool HeadChecksumMatches(std::string_view head, std::int64_t keyHash, std::int64_t checkSum) {
    const auto hash = static_cast<std::uint32_t>(keyHash);
    const unsigned char be[4] = {
        static_cast<unsigned char>(hash >> 24), static_cast<unsigned char>(hash >> 16),
        static_cast<unsigned char>(hash >> 8), static_cast<unsigned char>(hash)};
    uLong crc = crc32(0, nullptr, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(head.data()), static_cast<uInt>(head.size()));
    crc = crc32(crc, be, 4);
    return static_cast<std::uint32_t>(crc) == static_cast<std::uint32_t>(checkSum);
}

// The shard's blobs in (res_id, start) order, stepped alongside the resources (in res_id
// order) instead of looked up one resource at a time.
class BlobRows {
  public:
    explicit BlobRows(sqlite3_stmt* statement) : s_(statement) {}
    void start() { rc_ = sqlite3_step(s_); }
    bool failed() const { return rc_ != SQLITE_ROW && rc_ != SQLITE_DONE; }
    // Joins the blobs of `resId` from byte 0 up to body_end or the first gap, passing over
    // blobs of resources that are not there. False when one of them is damaged.
    bool join(std::int64_t resId, std::uint64_t bodyEnd, const std::string& rowPath,
              ParsedEntry& e) {
        while (rc_ == SQLITE_ROW && sqlite3_column_int64(s_, 0) < resId)
            rc_ = sqlite3_step(s_);
        std::uint64_t reach = 0;
        bool good = true, stopped = false;
        for (; rc_ == SQLITE_ROW && sqlite3_column_int64(s_, 0) == resId; rc_ = sqlite3_step(s_)) {
            if (!good || stopped)
                continue;
            const std::int64_t blobId = sqlite3_column_int64(s_, 1);
            const std::int64_t start = sqlite3_column_int64(s_, 2);
            const std::int64_t end = sqlite3_column_int64(s_, 3);
            const std::int64_t bytes = sqlite3_column_int64(s_, 4);
            if (start < 0 || end < start || end - start != bytes) {
                good = false;
                continue;
            }
            const auto from = static_cast<std::uint64_t>(start);
            const auto to = std::min(static_cast<std::uint64_t>(end), bodyEnd);
            if (reach >= bodyEnd || from > reach) {
                stopped = true; // complete, or a gap: the body is known only up to here
                continue;
            }
            if (to <= reach)
                continue;
            BodySegment segment = Segment(rowPath, reach - from, to - reach);
            segment.blobRowId = blobId;
            e.body.push_back(std::move(segment));
            reach = to;
        }
        e.storedSize = reach;
        return good && !failed();
    }

  private:
    sqlite3_stmt* s_;
    int rc_ = SQLITE_DONE;
};

// Points `handle` at the blob of row `rowId`, which must hold [offset, offset + length).
bool OpenBlob(sqlite3* db, sqlite3_blob*& handle, std::int64_t rowId, std::uint64_t offset,
              std::uint64_t length) {
    const int rc = handle ? sqlite3_blob_reopen(handle, rowId)
                          : sqlite3_blob_open(db, "main", "blobs", "blob", rowId, 0, &handle);
    if (rc != SQLITE_OK) {
        sqlite3_blob_close(handle);
        handle = nullptr;
        return false;
    }
    const auto bytes = static_cast<std::uint64_t>(sqlite3_blob_bytes(handle));
    return offset <= bytes && length <= bytes - offset;
}

// The stored bytes a scan wants of the body (see ReadFirstBytes): from its first blob, and
// from its last for an encoded body.
void ReadSniffedBytes(sqlite3* db, sqlite3_blob*& handle, ParsedEntry& e) {
    if (e.body.empty())
        return;
    const BodySegment& s = e.body.front();
    const auto readIn = [&](const BodySegment& blob) {
        return [&](std::uint64_t at, char* out, std::size_t n) {
            return sqlite3_blob_read(handle, out, static_cast<int>(n),
                                     static_cast<int>(blob.offset + at)) == SQLITE_OK;
        };
    };
    if (!OpenBlob(db, handle, s.blobRowId, s.offset, s.length))
        return;
    ReadFirstBytes(e, s.length, readIn(s));
    const BodySegment& last = e.body.back();
    ReadLastBytes(e, last.length, [&](std::uint64_t at, char* out, std::size_t n) {
        return (&last == &s || OpenBlob(db, handle, last.blobRowId, last.offset, last.length)) &&
               readIn(last)(at, out, n);
    });
}

std::string TempFolder() {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "tamberlin-sqlcache-XXXXXX").string();
    if (ec || ::mkdtemp(pattern.data()) == nullptr)
        return "";
    return pattern;
}

// Copies `from` (a regular file, read through the cache's read-only opening) to a new `to`.
bool CopyFile(const std::string& from, const std::string& to) {
    ReadOnlyFile in;
    if (!in.open(from))
        return false;
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    std::vector<char> buffer(std::size_t{256} * 1024);
    for (std::uint64_t at = 0;;) {
        const std::ptrdiff_t got = in.readSome(at, buffer.data(), buffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            break;
        out.write(buffer.data(), got);
        at += static_cast<std::uint64_t>(got);
    }
    out.close();
    return static_cast<bool>(out);
}

} // namespace

std::optional<SqlIndex> ParseSqlIndex(std::string_view text) {
    if (!text.starts_with(kIndexMagic))
        return std::nullopt;
    text.remove_prefix(kIndexMagic.size());
    SqlIndex index;
    if (text.starts_with("Truncate")) {
        text.remove_prefix(8);
    } else if (text.starts_with("Wal")) {
        index.wal = true;
        text.remove_prefix(3);
    } else {
        return std::nullopt;
    }
    if (text.empty() || text.size() > 2)
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

std::optional<SqlIndex> ReadSqlIndex(const std::string& folder) {
    ReadOnlyFile file;
    if (!file.open((fs::path(folder) / "index").string()) || file.size() > kMaxIndexFile)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(file.size()), '\0');
    if (!file.readAt(0, text.data(), text.size()))
        return std::nullopt;
    return ParseSqlIndex(text);
}

std::string SqlShardName(unsigned shard) {
    return "sqldb" + std::to_string(shard);
}

std::string ImmutableUri(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(path), ec);
    const std::string p = ec ? path : absolute.string();
    static constexpr char kHex[] = "0123456789ABCDEF";
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
            uri.push_back(kHex[c >> 4]);
            uri.push_back(kHex[c & 15]);
        }
    }
    return uri + "?mode=ro&immutable=1";
}

struct SqlShard::State {
    Connection c;
};

SqlShard::SqlShard() : state_(std::make_unique<State>()) {}

SqlShard::~SqlShard() = default;

ShardResult SqlShard::open(const std::string& path) {
    path_ = path;
    if (!OpenImmutable(path, state_->c))
        return ShardResult::Missing;
    const ShardResult schema = CheckSchema(state_->c.db);
    if (schema != ShardResult::Read)
        state_->c.close();
    return schema;
}

std::optional<std::pair<std::int64_t, std::int64_t>> SqlShard::resourceIds() const {
    Statement range;
    if (state_->c.db == nullptr ||
        !range.prepare(state_->c.db, "SELECT min(res_id), max(res_id) FROM resources") ||
        sqlite3_step(range.stmt) != SQLITE_ROW || sqlite3_column_type(range.stmt, 0) == SQLITE_NULL)
        return std::nullopt;
    return std::pair(sqlite3_column_int64(range.stmt, 0), sqlite3_column_int64(range.stmt, 1));
}

ShardResult SqlShard::read(const std::function<void(ParsedEntry&, ParseError, std::int64_t)>& each,
                           std::int64_t first, std::int64_t last) {
    if (state_->c.db == nullptr)
        return ShardResult::Missing;
    Connection& c = state_->c;
    const std::string& path = path_;
    Statement resources, blobs;
    const std::string resourcesSql =
        "SELECT res_id, body_end, doomed, check_sum, cache_key_hash, "
        "CASE WHEN length(CAST(cache_key AS BLOB)) <= " +
        std::to_string(kMaxKey) +
        " THEN CAST(cache_key AS BLOB) END, "
        "CASE WHEN length(head) <= " +
        std::to_string(kMaxHead) +
        " THEN head END, last_used FROM resources WHERE res_id BETWEEN ?1 AND ?2 "
        "ORDER BY res_id";
    if (!resources.prepare(c.db, resourcesSql.c_str()) ||
        !blobs.prepare(c.db, "SELECT res_id, blob_id, start, end, length(blob) FROM blobs "
                             "WHERE res_id BETWEEN ?1 AND ?2 ORDER BY res_id, start"))
        return ShardResult::Damaged;
    sqlite3_bind_int64(blobs.stmt, 1, first);
    sqlite3_bind_int64(blobs.stmt, 2, last);
    BlobRows blobRows(blobs.stmt);
    blobRows.start();
    sqlite3_bind_int64(resources.stmt, 1, first);
    sqlite3_bind_int64(resources.stmt, 2, last);
    sqlite3_blob* handle = nullptr;
    int rc;
    while ((rc = sqlite3_step(resources.stmt)) == SQLITE_ROW) {
        sqlite3_stmt* r = resources.stmt;
        if (sqlite3_column_int64(r, 2) != 0)
            continue; // doomed: the browser has let go of it
        ParsedEntry e;
        const std::int64_t bodyEnd = sqlite3_column_int64(r, 1);
        const std::string_view head = ColumnBytes(r, 6);
        e.key = std::string(ColumnBytes(r, 5));
        e.url = ChromiumKeyUrl(e.key);
        bool good = sqlite3_column_type(r, 5) != SQLITE_NULL && bodyEnd >= 0;
        if (good && sqlite3_column_type(r, 6) != SQLITE_NULL) {
            good =
                HeadChecksumMatches(head, sqlite3_column_int64(r, 4), sqlite3_column_int64(r, 3));
            if (good)
                ParseChromiumResponseInfo(head, e);
        }
        // Microseconds since 1601, as Chromium keeps every time; the head gives `cached`.
        if (sqlite3_column_type(r, 7) == SQLITE_INTEGER)
            e.lastUsed = UnixSeconds(sqlite3_column_int64(r, 7));
        const std::int64_t resId = sqlite3_column_int64(r, 0);
        good = good && blobRows.join(resId, static_cast<std::uint64_t>(bodyEnd), path, e);
        if (good && e.storedSize < static_cast<std::uint64_t>(bodyEnd))
            e.truncated = true; // a gap between blobs: the stored body is incomplete
        if (good)
            ReadSniffedBytes(c.db, handle, e);
        each(e, good ? ParseError::None : ParseError::Damaged, resId);
    }
    sqlite3_blob_close(handle);
    return rc == SQLITE_DONE ? ShardResult::Read : ShardResult::Damaged;
}

bool HasWriteAheadLog(const std::string& shard) {
    ReadOnlyFile wal;
    return wal.open(shard + "-wal") && wal.size() > 0;
}

PrivateShardCopy::~PrivateShardCopy() {
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

bool PrivateShardCopy::make(const std::string& shard) {
    folder_ = TempFolder();
    if (folder_.empty())
        return false;
    const std::string copy = (fs::path(folder_) / "sqldb").string();
    if (!CopyFile(shard, copy) || !CopyFile(shard + "-wal", copy + "-wal"))
        return false;
    // The copy is ours: SQLite may read its log and fold it in. Afterwards the copy is a
    // plain database read like any shard, without a log beside it.
    Connection c;
    if (sqlite3_open_v2(copy.c_str(), &c.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK)
        return false;
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    if (sqlite3_exec(c.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    c.close();
    // A log beside a database not in Wal mode is not SQLite's to read: it goes too.
    std::error_code ec;
    fs::remove(copy + "-wal", ec);
    fs::remove(copy + "-shm", ec);
    path_ = copy;
    return true;
}

struct SqlBlobReader::State {
    Connection connection;
    std::string shard;
    std::unique_ptr<PrivateShardCopy> copy;
    sqlite3_blob* blob = nullptr;
    std::uint64_t at = 0, remaining = 0;
};

SqlBlobReader::SqlBlobReader() : state_(std::make_unique<State>()) {}

SqlBlobReader::~SqlBlobReader() {
    sqlite3_blob_close(state_->blob);
}

bool SqlBlobReader::open(const std::string& shard, std::int64_t rowId, std::uint64_t offset,
                         std::uint64_t length) {
    State& s = *state_;
    if (s.connection.db == nullptr || s.shard != shard) {
        sqlite3_blob_close(s.blob);
        s.blob = nullptr;
        s.copy.reset();
        s.shard = shard;
        std::string path = shard;
        if (HasWriteAheadLog(shard)) {
            s.copy = std::make_unique<PrivateShardCopy>();
            if (!s.copy->make(shard))
                return false;
            path = s.copy->path();
        }
        if (!OpenImmutable(path, s.connection))
            return false;
    }
    const int rc =
        s.blob ? sqlite3_blob_reopen(s.blob, rowId)
               : sqlite3_blob_open(s.connection.db, "main", "blobs", "blob", rowId, 0, &s.blob);
    if (rc != SQLITE_OK) {
        sqlite3_blob_close(s.blob);
        s.blob = nullptr;
        return false;
    }
    const auto bytes = static_cast<std::uint64_t>(sqlite3_blob_bytes(s.blob));
    if (offset > bytes || length > bytes - offset)
        return false;
    s.at = offset;
    s.remaining = length;
    return true;
}

std::ptrdiff_t SqlBlobReader::read(void* buffer, std::size_t n) {
    State& s = *state_;
    if (s.blob == nullptr)
        return -1;
    const auto want = static_cast<int>(std::min<std::uint64_t>({n, s.remaining, INT_MAX}));
    if (want == 0)
        return 0;
    if (sqlite3_blob_read(s.blob, buffer, want, static_cast<int>(s.at)) != SQLITE_OK)
        return -1;
    s.at += static_cast<std::uint64_t>(want);
    s.remaining -= static_cast<std::uint64_t>(want);
    return want;
}

ShardResult SqlShard::openImage(std::string_view image, const std::string& path) {
    path_ = path;
    Connection& c = state_->c;
    c.close();
    if (sqlite3_open_v2(":memory:", &c.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        c.close();
        return ShardResult::Missing;
    }
    // SQLite owns the copy and frees it with the connection (or at once, when it fails).
    const auto size = static_cast<sqlite3_int64>(image.size());
    auto* copy =
        static_cast<unsigned char*>(sqlite3_malloc64(std::max<std::size_t>(image.size(), 1)));
    if (copy == nullptr) {
        c.close();
        return ShardResult::Missing;
    }
    image.copy(reinterpret_cast<char*>(copy), image.size());
    if (sqlite3_deserialize(c.db, "main", copy, size, size,
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) !=
        SQLITE_OK) {
        c.close();
        return ShardResult::Damaged;
    }
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_exec(c.db, "PRAGMA query_only=1", nullptr, nullptr, nullptr);
    const ShardResult schema = CheckSchema(c.db);
    if (schema != ShardResult::Read)
        c.close();
    return schema;
}

} // namespace browser::detail
