#include "sql_builder.h"

#include <filesystem>
#include <sqlite3.h>
#include <stdexcept>
#include <zlib.h>

namespace browser_test {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
    "CREATE TABLE resources(res_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,"
    "last_used INTEGER NOT NULL,hints INTEGER NOT NULL,body_end INTEGER NOT NULL,"
    "bytes_usage INTEGER NOT NULL,doomed INTEGER NOT NULL,check_sum INTEGER NOT NULL,"
    "cache_key_hash INTEGER NOT NULL,cache_key TEXT NOT NULL,head BLOB);"
    "CREATE TABLE blobs(blob_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,"
    "res_id INTEGER NOT NULL,start INTEGER NOT NULL,end INTEGER NOT NULL,"
    "check_sum INTEGER NOT NULL,blob BLOB NOT NULL);"
    "CREATE INDEX index_resources_cache_key_hash_doomed ON resources(cache_key_hash, doomed);"
    "CREATE UNIQUE INDEX index_blobs_res_id_start ON blobs(res_id, start);";

void Check(sqlite3* db, int rc, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

// CRC-32 of the bytes followed by the big-endian key hash, as a signed 32-bit number.
std::int64_t CheckSum(const std::string& bytes, std::uint32_t keyHash) {
    uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    const unsigned char be[4] = {
        static_cast<unsigned char>(keyHash >> 24), static_cast<unsigned char>(keyHash >> 16),
        static_cast<unsigned char>(keyHash >> 8), static_cast<unsigned char>(keyHash)};
    crc = crc32(crc, be, 4);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(crc));
}

} // namespace

void WriteSqlShard(const std::filesystem::path& path, const std::vector<SqlResource>& resources,
                   int version, bool wal) {
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot create " + path.string());
    Check(db, sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr), "schema");
    const std::string meta = "INSERT INTO meta VALUES('version','" + std::to_string(version) +
                             "'),('last_compatible_version','" + std::to_string(version) + "')";
    Check(db, sqlite3_exec(db, meta.c_str(), nullptr, nullptr, nullptr), "meta");
    if (wal) {
        Check(db,
              sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0", nullptr,
                           nullptr, nullptr),
              "wal");
        int off = 0;
        sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &off);
    }
    Check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin");
    sqlite3_stmt* res = nullptr;
    sqlite3_stmt* blob = nullptr;
    Check(db,
          sqlite3_prepare_v2(db, "INSERT INTO resources VALUES(NULL,0,0,?,?,?,?,?,?,?)", -1, &res,
                             nullptr),
          "prepare");
    Check(db,
          sqlite3_prepare_v2(db, "INSERT INTO blobs VALUES(NULL,?,?,?,?,?)", -1, &blob, nullptr),
          "prepare");
    std::uint32_t keyHash = 0x9E3779B9u;
    for (const SqlResource& r : resources) {
        keyHash = keyHash * 2654435761u + 12345u;
        const std::string head = BuildChromiumResponseInfo(r.entry);
        std::int64_t end = 0;
        for (const auto& [start, bytes] : r.blobs)
            end = std::max<std::int64_t>(end, start + static_cast<std::int64_t>(bytes.size()));
        sqlite3_reset(res);
        sqlite3_bind_int64(res, 1, r.bodyEnd >= 0 ? r.bodyEnd : end);
        sqlite3_bind_int64(res, 2, end + static_cast<std::int64_t>(head.size()));
        sqlite3_bind_int(res, 3, r.doomed ? 1 : 0);
        sqlite3_bind_int64(res, 4, CheckSum(head, keyHash) ^ (r.badCheckSum ? 1 : 0));
        sqlite3_bind_int64(res, 5, static_cast<std::int32_t>(keyHash));
        sqlite3_bind_text(res, 6, r.entry.key.data(), static_cast<int>(r.entry.key.size()),
                          SQLITE_STATIC);
        sqlite3_bind_blob(res, 7, head.data(), static_cast<int>(head.size()), SQLITE_STATIC);
        Check(db, sqlite3_step(res), "resource");
        const std::int64_t resId = sqlite3_last_insert_rowid(db);
        for (const auto& [start, bytes] : r.blobs) {
            sqlite3_reset(blob);
            sqlite3_bind_int64(blob, 1, resId);
            sqlite3_bind_int64(blob, 2, start);
            sqlite3_bind_int64(blob, 3, start + static_cast<std::int64_t>(bytes.size()));
            sqlite3_bind_int64(blob, 4, CheckSum(bytes, keyHash));
            sqlite3_bind_blob(blob, 5, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
            Check(db, sqlite3_step(blob), "blob");
        }
    }
    sqlite3_finalize(res);
    sqlite3_finalize(blob);
    Check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
    if (wal) {
        // Keep the rows in the log: copy the files aside while the writer still holds them,
        // as a browser that has not checkpointed would leave them.
        const std::filesystem::path aside = path.string() + ".aside";
        std::filesystem::copy_file(path, aside);
        std::filesystem::copy_file(path.string() + "-wal", aside.string() + "-wal");
        sqlite3_close(db);
        std::filesystem::rename(aside, path);
        std::filesystem::rename(aside.string() + "-wal", path.string() + "-wal");
        std::filesystem::remove(path.string() + "-shm");
        return;
    }
    sqlite3_close(db);
}

void WriteSqlIndex(const std::filesystem::path& folder, const std::string& mode, unsigned shards) {
    WriteFile(folder / "index", "SQLCache" + mode + std::to_string(shards));
}

SqlResource SqlBody(const std::string& url, const std::string& body, std::size_t piece) {
    SqlResource r;
    r.entry.key = "1/0/_dk_https://site.example https://site.example " + url;
    if (piece == 0)
        piece = std::max<std::size_t>(body.size(), 1);
    for (std::size_t at = 0; at < body.size(); at += piece)
        r.blobs.emplace_back(static_cast<std::int64_t>(at), body.substr(at, piece));
    return r;
}

} // namespace browser_test
