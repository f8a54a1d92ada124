#include "cache/browser/sql_cache.h"

#include "cache/browser/media.h"
#include "cache/browser/source.h"
#include "cache/formats/sql.h"
#include "cache/formats/sql_layout.h"
#include "platform/base/unix_time.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <initializer_list>
#include <sqlite3.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace browser::detail {

namespace {

namespace fs = std::filesystem;
using namespace formats::sql;

constexpr std::size_t kMaxIndexFile = 64;
// A shard or log copied to read its write-ahead log must be within what a cache holds: a file
// the size of a disk is not a cache's, whatever its header says.
constexpr std::uint64_t kMaxCopiedShard = 8ull * 1024 * 1024 * 1024;
// A shard read while the browser writes it may be caught in the middle of a transaction, its
// B-tree pages half written: SQLite then finds it malformed, or misses a row for a moment.
// Such a look at a row is tried again, each time on a new connection (an immutable one keeps
// what it has read), after a pause in which a transaction of the browser's ends.
constexpr int kLooks = 5;
constexpr std::chrono::milliseconds kLookPause{20};

// The values of a resource's row and of one of its blob rows that a body read from the blob
// depends on, as one string to compare (the record check of the blob's segment): the
// resource's id, body end, doomed flag, head check sum, key hash and key (by its CRC-32 and
// length), and the blob's id, range, length and check sum. Read by the scan and again before
// and after a save reads the blob, from columns in the order the two queries give them.
void AppendFields(std::string& out, std::initializer_list<std::int64_t> values) {
    for (const std::int64_t v : values)
        for (int i = 0; i < 8; ++i)
            out.push_back(static_cast<char>(static_cast<std::uint64_t>(v) >> (8 * i)));
}
// Columns first..first+5: res_id, body_end, doomed, check_sum, cache_key_hash, the key.
std::string ResourceFields(sqlite3_stmt* s, int first) {
    const std::string_view key = ColumnBytes(s, first + 5);
    const uLong keyCrc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(key.data()),
                               static_cast<uInt>(key.size()));
    std::string fields;
    AppendFields(fields, {sqlite3_column_int64(s, first), sqlite3_column_int64(s, first + 1),
                          sqlite3_column_int64(s, first + 2), sqlite3_column_int64(s, first + 3),
                          sqlite3_column_int64(s, first + 4), static_cast<std::int64_t>(keyCrc),
                          static_cast<std::int64_t>(key.size())});
    return fields;
}
// Columns first..first+4: blob_id, start, end, length(blob), check_sum.
void AppendBlobFields(std::string& fields, sqlite3_stmt* s, int first) {
    AppendFields(fields, {sqlite3_column_int64(s, first), sqlite3_column_int64(s, first + 1),
                          sqlite3_column_int64(s, first + 2), sqlite3_column_int64(s, first + 3),
                          sqlite3_column_int64(s, first + 4)});
}

std::string KeyColumn(const char* column) {
    return std::string("CASE WHEN length(CAST(") + column +
           " AS BLOB)) <= " + std::to_string(kMaxKey) + " THEN CAST(" + column + " AS BLOB) END";
}

// What the rows of blob `blobId` hold now, as RowFields; the blob's key hash and check sum
// too. False when there is no such blob, or it cannot be read.
bool CurrentRowFields(Connection& c, std::int64_t blobId, std::string& fields,
                      std::int64_t& keyHash, std::int64_t& checkSum) {
    sqlite3* db = c.db;
    Statement row;
    const std::string sql =
        "SELECT r.res_id, r.body_end, r.doomed, r.check_sum, r.cache_key_hash, " +
        KeyColumn("r.cache_key") +
        ", b.blob_id, b.start, b.end, length(b.blob), b.check_sum FROM blobs AS b "
        "JOIN resources AS r ON r.res_id = b.res_id WHERE b.blob_id = ?1";
    if (!row.prepare(db, sql.c_str()) || sqlite3_bind_int64(row.stmt, 1, blobId) != SQLITE_OK ||
        Step(c, row.stmt) != SQLITE_ROW)
        return false;
    fields = ResourceFields(row.stmt, 0);
    AppendBlobFields(fields, row.stmt, 6);
    keyHash = sqlite3_column_int64(row.stmt, 4);
    checkSum = sqlite3_column_int64(row.stmt, 10);
    return true;
}

// The shard's blobs in (res_id, start) order, stepped alongside the resources (in res_id
// order) instead of looked up one resource at a time.
class BlobRows {
  public:
    BlobRows(Connection& c, sqlite3_stmt* statement) : c_(c), s_(statement) {}
    void start() { rc_ = Step(c_, s_); }
    bool failed() const { return rc_ != SQLITE_ROW && rc_ != SQLITE_DONE; }
    // Joins the blobs of `resId` from byte 0 up to body_end or the first gap, passing over
    // blobs of resources that are not there. False when one of them is damaged.
    bool join(std::int64_t resId, std::uint64_t bodyEnd, const std::string& rowPath,
              const std::string& resourceFields, ParsedEntry& e) {
        while (rc_ == SQLITE_ROW && sqlite3_column_int64(s_, 0) < resId)
            rc_ = Step(c_, s_);
        std::uint64_t reach = 0;
        bool good = true, stopped = false;
        for (; rc_ == SQLITE_ROW && sqlite3_column_int64(s_, 0) == resId; rc_ = Step(c_, s_)) {
            // A res_id that is not an integer (1000.5) names no resource Chromium wrote.
            if (sqlite3_column_type(s_, 0) != SQLITE_INTEGER)
                good = false;
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
            segment.record.kind = RecordCheck::Kind::Sql;
            segment.record.fields = resourceFields;
            AppendBlobFields(segment.record.fields, s_, 1);
            e.body.push_back(std::move(segment));
            reach = to;
        }
        e.storedSize = reach;
        return good && !failed();
    }

  private:
    Connection& c_;
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

// Copies `from` (a regular file, read through the cache's read-only opening) to a new `to`,
// keeping its holes: a shard stretched to gigabytes with nothing in them costs no disk.
enum class Copied { Yes, Failed, TooLarge };
Copied CopyFile(const platform::FileAccess& files, const std::string& from, const std::string& to) {
    ReadOnlyFile in(files);
    if (!in.open(from))
        return Copied::Failed;
    if (in.size() > kMaxCopiedShard)
        return Copied::TooLarge;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0)
        return Copied::Failed;
    std::vector<char> buffer(std::size_t{256} * 1024);
    bool good = true;
    std::uint64_t start = 0, end = 0;
    for (std::uint64_t at = 0; good && in.dataRun(at, start, end); at = end) {
        for (std::uint64_t pos = start; good && pos < end;) {
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - pos));
            const std::ptrdiff_t got = in.readSome(pos, buffer.data(), want);
            good = got > 0 && ::pwrite(out, buffer.data(), static_cast<std::size_t>(got),
                                       static_cast<off_t>(pos)) == got;
            pos += good ? static_cast<std::uint64_t>(got) : 0;
        }
    }
    good = good && ::ftruncate(out, static_cast<off_t>(in.size())) == 0;
    good = ::close(out) == 0 && good;
    return good ? Copied::Yes : Copied::Failed;
}

} // namespace

std::optional<SqlIndex> ReadSqlIndex(const std::string& folder, const platform::FileAccess& files) {
    ReadOnlyFile file(files);
    if (!file.open((fs::path(folder) / kIndexFileName).string()) || file.size() > kMaxIndexFile)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(file.size()), '\0');
    if (!file.readAt(0, text.data(), text.size()))
        return std::nullopt;
    return ParseSqlIndex(text);
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
    const ShardResult schema = CheckSchema(state_->c);
    if (schema != ShardResult::Read)
        state_->c.close();
    return schema;
}

std::optional<std::pair<std::int64_t, std::int64_t>> SqlShard::resourceIds() const {
    Statement range;
    if (state_->c.db == nullptr ||
        !range.prepare(state_->c.db, "SELECT min(res_id), max(res_id) FROM resources") ||
        Step(state_->c, range.stmt) != SQLITE_ROW ||
        sqlite3_column_type(range.stmt, 0) == SQLITE_NULL)
        return std::nullopt;
    return std::pair(sqlite3_column_int64(range.stmt, 0), sqlite3_column_int64(range.stmt, 1));
}

ShardResult SqlShard::read(const std::function<void(ParsedEntry&, ParseError, std::int64_t)>& each,
                           std::optional<std::int64_t> from, std::optional<std::int64_t> below) {
    if (state_->c.db == nullptr)
        return ShardResult::Missing;
    Connection& c = state_->c;
    const std::string& path = path_;
    // The parts of a shard meet without a gap whatever type a hostile file gives res_id: a
    // REAL between two integers, TEXT and BLOB (above every number) fall in the part that
    // has no upper bound, NULL in the one that has no lower bound.
    const std::string range = from && below ? " WHERE res_id >= ?1 AND res_id < ?2"
                              : from        ? " WHERE res_id >= ?1"
                              : below       ? " WHERE res_id IS NULL OR res_id < ?2"
                                            : "";
    Statement resources, blobs;
    const std::string resourcesSql =
        "SELECT res_id, body_end, doomed, check_sum, cache_key_hash, " + KeyColumn("cache_key") +
        ", CASE WHEN length(head) <= " + std::to_string(kMaxHead) +
        " THEN head END, last_used FROM resources" + range + " ORDER BY res_id";
    const std::string blobsSql =
        "SELECT res_id, blob_id, start, end, length(blob), check_sum FROM blobs" + range +
        " ORDER BY res_id, start";
    if (!resources.prepare(c.db, resourcesSql.c_str()) || !blobs.prepare(c.db, blobsSql.c_str()))
        return ShardResult::Damaged;
    for (sqlite3_stmt* statement : {resources.stmt, blobs.stmt}) {
        if (from)
            sqlite3_bind_int64(statement, 1, *from);
        if (below)
            sqlite3_bind_int64(statement, 2, *below);
    }
    BlobRows blobRows(c, blobs.stmt);
    blobRows.start();
    sqlite3_blob* handle = nullptr;
    int rc;
    while ((rc = Step(c, resources.stmt)) == SQLITE_ROW) {
        sqlite3_stmt* r = resources.stmt;
        if (sqlite3_column_int64(r, 2) != 0)
            continue; // doomed: the browser has let go of it
        ParsedEntry e;
        const std::int64_t bodyEnd = sqlite3_column_int64(r, 1);
        const std::string_view head = ColumnBytes(r, 6);
        e.key = std::string(ColumnBytes(r, 5));
        e.url = ChromiumKeyUrl(e.key);
        bool good = sqlite3_column_type(r, 0) == SQLITE_INTEGER &&
                    sqlite3_column_type(r, 5) != SQLITE_NULL && bodyEnd >= 0;
        if (good && sqlite3_column_type(r, 6) != SQLITE_NULL) {
            good =
                HeadChecksumMatches(head, sqlite3_column_int64(r, 4), sqlite3_column_int64(r, 3));
            if (good)
                ParseChromiumResponseInfo(head, e);
        }
        // Microseconds since 1601, as Chromium keeps every time; the head gives `cached`.
        if (sqlite3_column_type(r, 7) == SQLITE_INTEGER)
            e.lastUsed = platform::UnixSecondsFromMicrosSince1601(sqlite3_column_int64(r, 7));
        const std::int64_t resId = sqlite3_column_int64(r, 0);
        good = good && blobRows.join(resId, static_cast<std::uint64_t>(bodyEnd), path,
                                     ResourceFields(r, 0), e);
        if (good && e.storedSize < static_cast<std::uint64_t>(bodyEnd))
            e.truncated = true; // a gap between blobs: the stored body is incomplete
        if (good)
            ReadSniffedBytes(c.db, handle, e);
        each(e, good ? ParseError::None : ParseError::Damaged, resId);
    }
    sqlite3_blob_close(handle);
    return rc == SQLITE_DONE ? ShardResult::Read : ShardResult::Damaged;
}

bool HasWriteAheadLog(const std::string& shard, const platform::FileAccess& files) {
    ReadOnlyFile wal(files);
    return wal.open(shard + "-wal") && wal.size() > 0;
}

PrivateShardCopy::~PrivateShardCopy() {
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

bool PrivateShardCopy::make(const std::string& shard, std::string* why,
                            const platform::FileAccess& files) {
    const auto failed = [&](const char* reason) {
        if (why)
            *why = reason;
        return false;
    };
    const char* const cannot = "could not be copied to read its write-ahead log";
    folder_ = TempFolder();
    if (folder_.empty())
        return failed(cannot);
    // The temporary folder may itself lie below a link (TMPDIR is the user's to set).
    const std::string copy = WithFoldersResolved((fs::path(folder_) / "sqldb").string());
    for (const std::string suffix : {"", "-wal"}) {
        // A shard copied out of a tree SQLite cannot reach may have no log at all.
        if (!suffix.empty() && !HasWriteAheadLog(shard, files))
            continue;
        const Copied copied = CopyFile(files, shard + suffix, copy + suffix);
        if (copied == Copied::TooLarge)
            return failed("is larger than any cache keeps (more than 8 GiB with its log)");
        if (copied != Copied::Yes)
            return failed(cannot);
    }
    // The copy is ours: SQLite may read its log and fold it in. Afterwards the copy is a
    // plain database read like any shard, without a log beside it.
    Connection c;
    if (sqlite3_open_v2(copy.c_str(), &c.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK)
        return failed(cannot);
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(c.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    if (sqlite3_exec(c.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failed(cannot);
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
    std::int64_t rowId = 0;
    std::uint64_t at = 0, remaining = 0, bytes = 0;
    // The check of the range open: what the rows must hold, the key hash and check sum they
    // state, and the CRC-32 of the blob's bytes [0, crcAt).
    std::string fields;
    std::int64_t keyHash = 0, checkSum = 0;
    uLong crc = 0;
    std::uint64_t crcAt = 0;
    // The shard as it was just before the connection was opened (when not a copy).
    ReadOnlyFile watched;
};

namespace {

// Reads the blob on from crcAt to `to` into its CRC-32.
bool AddToCrc(sqlite3_blob* blob, uLong& crc, std::uint64_t& crcAt, std::uint64_t to) {
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(to - crcAt, 65536)));
    while (crcAt < to) {
        const auto n = static_cast<int>(std::min<std::uint64_t>(to - crcAt, buffer.size()));
        if (sqlite3_blob_read(blob, buffer.data(), n, static_cast<int>(crcAt)) != SQLITE_OK)
            return false;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(n));
        crcAt += static_cast<std::uint64_t>(n);
    }
    return true;
}

// Whether the file is open and has not been written (nor grown or shrunk) since it was opened.
bool Unwritten(const ReadOnlyFile& file) {
    FileIdentity now;
    return file.isOpen() && file.currentIdentity(now) && now == file.identity();
}

} // namespace

SqlBlobReader::SqlBlobReader() : state_(std::make_unique<State>()) {}

SqlBlobReader::~SqlBlobReader() {
    sqlite3_blob_close(state_->blob);
}

bool SqlBlobReader::open(const std::string& shard, std::int64_t rowId, std::uint64_t offset,
                         std::uint64_t length, const std::string& fields) {
    State& s = *state_;
    s.fields.clear();
    std::string now;
    for (int look = 1;; ++look) {
        // An immutable connection answers from what it has read: once the shard has been
        // written since it was opened, a new one is opened.
        if (s.connection.db == nullptr || s.shard != shard || look > 1 ||
            (!s.copy && !Unwritten(s.watched))) {
            sqlite3_blob_close(s.blob);
            s.blob = nullptr;
            s.connection.close();
            s.copy.reset();
            s.shard = shard;
            if (!s.watched.open(shard)) // before the connection reads anything
                s.watched.close();
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
        if (fields.empty() || CurrentRowFields(s.connection, rowId, now, s.keyHash, s.checkSum))
            break;
        if (look == kLooks)
            return false;
        std::this_thread::sleep_for(kLookPause);
    }
    if (now != fields)
        return false;
    const int rc =
        s.blob ? sqlite3_blob_reopen(s.blob, rowId)
               : sqlite3_blob_open(s.connection.db, "main", "blobs", "blob", rowId, 0, &s.blob);
    if (rc != SQLITE_OK) {
        sqlite3_blob_close(s.blob);
        s.blob = nullptr;
        return false;
    }
    s.bytes = static_cast<std::uint64_t>(sqlite3_blob_bytes(s.blob));
    if (offset > s.bytes || length > s.bytes - offset)
        return false;
    s.rowId = rowId;
    s.at = offset;
    s.remaining = length;
    if (!fields.empty()) {
        // The blob's bytes before the range count towards its check sum too.
        s.crc = crc32(0, nullptr, 0);
        s.crcAt = 0;
        if (!AddToCrc(s.blob, s.crc, s.crcAt, offset))
            return false;
        s.fields = fields;
    }
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
    if (!s.fields.empty() && s.crcAt == s.at) {
        s.crc = crc32(s.crc, static_cast<const Bytef*>(buffer), static_cast<uInt>(want));
        s.crcAt += static_cast<std::uint64_t>(want);
    }
    s.at += static_cast<std::uint64_t>(want);
    s.remaining -= static_cast<std::uint64_t>(want);
    return want;
}

bool SqlBlobReader::finish() {
    State& s = *state_;
    if (s.fields.empty())
        return true;
    if (s.blob == nullptr || !AddToCrc(s.blob, s.crc, s.crcAt, s.bytes) ||
        !CheckSumMatches(s.crc, s.keyHash, s.checkSum))
        return false;
    // A private copy is the shard at one moment, whose rows were checked at opening; so is a
    // shard nobody has written since before the connection read it. Otherwise the shard
    // itself is asked again, on a connection of its own, which has read nothing yet. (Should
    // a write hide within a step of the file time's clock, the check sum has vouched for the
    // bytes read all the same.)
    if (s.copy || Unwritten(s.watched))
        return true;
    std::string now;
    std::int64_t keyHash = 0, checkSum = 0;
    for (int look = 1;; ++look) {
        Connection fresh;
        if (!OpenImmutable(s.shard, fresh))
            return false;
        if (CurrentRowFields(fresh, s.rowId, now, keyHash, checkSum))
            return now == s.fields;
        if (look == kLooks)
            return false;
        std::this_thread::sleep_for(kLookPause);
    }
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
    Harden(c, image.size());
    const ShardResult schema = CheckSchema(c);
    if (schema != ShardResult::Read)
        c.close();
    return schema;
}

} // namespace browser::detail
