// Makes a small input of fuzz_sql from a real shard of Chromium's SQL cache, for seeding the
// corpus at run time: the same schema and rows in 512-byte pages, each body cut to its first
// 256 bytes per blob (the blobs' ranges and body_end made to agree again), so that the whole
// database is a few KiB a mutation can still reach every part of.
// Usage: sql_seed <shard> <output file>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

bool Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "sql_seed: %s\n", error ? error : "failed");
    sqlite3_free(error);
    return false;
}

// A SQL string literal.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const std::string shard = std::filesystem::absolute(argv[1]).string();
    const std::string output = argv[2];
    std::filesystem::remove(output);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr) !=
        SQLITE_OK)
        return 1;
    // The shard read-only and immutable, as the program reads it: nothing in the cache changes.
    constexpr int kBlob = 256;
    const std::string cut = "min(length(blob), " + std::to_string(kBlob) + ")";
    bool ok =
        Exec(db, "PRAGMA page_size=512") &&
        Exec(db, "ATTACH " + Quoted("file:" + shard + "?mode=ro&immutable=1") + " AS s") &&
        Exec(db, "CREATE TEMP TABLE schema AS SELECT type, sql FROM s.sqlite_master WHERE sql "
                 "NOT NULL AND name NOT LIKE 'sqlite_%' ORDER BY type = 'index', rowid");
    sqlite3_stmt* schema = nullptr;
    if (ok &&
        sqlite3_prepare_v2(db, "SELECT sql FROM temp.schema", -1, &schema, nullptr) == SQLITE_OK) {
        while (ok && sqlite3_step(schema) == SQLITE_ROW)
            ok = Exec(db, reinterpret_cast<const char*>(sqlite3_column_text(schema, 0)));
    }
    sqlite3_finalize(schema);
    ok = ok && Exec(db, "INSERT INTO main.meta SELECT * FROM s.meta") &&
         Exec(db, "INSERT INTO main.resources SELECT * FROM s.resources") &&
         Exec(db, "INSERT INTO main.blobs SELECT blob_id, res_id, sum(" + cut + ") OVER w - " +
                      cut + ", sum(" + cut + ") OVER w, check_sum, substr(blob, 1, " +
                      std::to_string(kBlob) + ") FROM s.blobs WINDOW w AS (PARTITION BY " +
                      "res_id ORDER BY start)") &&
         Exec(db, "UPDATE main.resources SET body_end = coalesce((SELECT max(end) FROM "
                  "main.blobs b WHERE b.res_id = resources.res_id), 0)") &&
         Exec(db, "DETACH s") && Exec(db, "VACUUM INTO " + Quoted(output));
    sqlite3_close(db);
    return ok ? 0 : 1;
}
