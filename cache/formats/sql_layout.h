// Chromium's SQL cache back-end, as laid out on disk: an `index` text file naming the journal
// mode and the number of shards, and the SQLite databases sqldb0, sqldb1... (the shards), each
// with the tables below. docs/browser-caches.md describes how the reader uses each column.
#pragma once

#include <cstddef>
#include <string_view>

namespace formats::sql {

// The index file: "SQLCache", the journal mode, then the number of shards in decimal.
inline constexpr std::string_view kIndexFileName = "index";
inline constexpr std::string_view kIndexMagic = "SQLCache";
inline constexpr std::string_view kJournalTruncate = "Truncate";
inline constexpr std::string_view kJournalWal = "Wal";
inline constexpr std::size_t kMaxShardDigits = 2;
inline constexpr std::string_view kShardPrefix = "sqldb";

// The tables of a shard. `meta` holds key/value rows, the schema's version among them.
inline constexpr std::string_view kMetaTable = "meta";
inline constexpr std::string_view kResourcesTable = "resources";
inline constexpr std::string_view kBlobsTable = "blobs";
inline constexpr std::string_view kMetaVersionKey = "version";
// The only schema this reader knows.
inline constexpr std::string_view kSchemaVersion = "8";

// resources: one row per entry. res_id (integer key), cache_key (the key, as the other
// back-ends store it), cache_key_hash (its 32-bit hash), head (the response info),
// check_sum (of the head, see below), body_end (the body's length), doomed (non-zero: let go
// of), last_used (microseconds since 1601).
// blobs: the body in pieces. blob_id, res_id (its resource), start and end (the range of the
// body it holds), blob (the bytes), check_sum (of the bytes).
//
// A check sum is the CRC-32 of the bytes followed by the key hash's four bytes, big-endian.
inline constexpr std::size_t kCheckSumKeyHashBytes = 4;

} // namespace formats::sql
