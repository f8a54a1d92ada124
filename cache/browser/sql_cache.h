// Chromium's SQL cache back-end: an `index` text file and SQLite shards sqldb0, sqldb1...
// Every shard is opened as cache/formats/sql.h opens it, so that SQLite can neither write,
// lock nor replay a journal; see docs/browser-caches.md for how.
#pragma once

#include "cache/browser/entry.h"
#include "cache/formats/sql.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace browser::detail {

// The index of the SQL cache in `folder`, or nothing when the folder holds none.
std::optional<SqlIndex> ReadSqlIndex(const std::string& folder,
                                     const platform::FileAccess& files = platform::HostFiles());

// One shard, open on a connection of its own. A shard can be read in parts at once, each part
// (a range of res_id) on its own SqlShard.
class SqlShard {
  public:
    SqlShard();
    ~SqlShard();
    SqlShard(const SqlShard&) = delete;
    SqlShard& operator=(const SqlShard&) = delete;
    // Opens the shard at `path` and checks its schema: Read when it can be read.
    ShardResult open(const std::string& path);
    // The lowest and highest res_id of its resources; nothing when it has none.
    std::optional<std::pair<std::int64_t, std::int64_t>> resourceIds() const;
    // Reads every live (not doomed) resource whose res_id is in [from, below), handing each
    // to `each` with its res_id, key, URL, parsed head and the blob segments joined from byte
    // 0 up to body_end or the first gap (a gap marks the entry truncated). A row that cannot
    // be read (its head's check sum is wrong, its blobs disagree with their ranges) comes
    // with ParseError::Damaged, and so does one whose res_id is not an integer. A bound left
    // out is open: the parts of a shard read with bounds that meet read each row once,
    // whatever its type. The first stored bytes are read for sniffing.
    ShardResult read(const std::function<void(ParsedEntry&, ParseError, std::int64_t)>& each,
                     std::optional<std::int64_t> from = {}, std::optional<std::int64_t> below = {});

    // Fuzzing's way in: opens a copy of a shard's whole database image held in memory, as
    // open() opens a file (read-only, with the same defences, the schema checked), so that
    // an input need not be written to a file. `path` names the shard in the body segments.
    ShardResult openImage(std::string_view image, const std::string& path);

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::string path_;
};

// A private copy of a shard and its -wal in a temporary folder, with the log merged into the
// copy, so that a Wal-mode cache's committed rows can be read without touching the cache.
// Holes in the shard stay holes in the copy. The folder is removed with the object.
class PrivateShardCopy {
  public:
    PrivateShardCopy() = default;
    ~PrivateShardCopy();
    PrivateShardCopy(const PrivateShardCopy&) = delete;
    PrivateShardCopy& operator=(const PrivateShardCopy&) = delete;
    // False when the shard cannot be copied (`why` then says why, in words for the user: a
    // shard or log larger than any cache keeps is not copied at all) or the copy cannot be
    // opened.
    // `files` is the tree the shard is in (SQLite itself only opens the host's files).
    bool make(const std::string& shard, std::string* why = nullptr,
              const platform::FileAccess& files = platform::HostFiles());
    const std::string& path() const { return path_; }

  private:
    std::string folder_, path_;
};
// True when `shard` has a non-empty -wal beside it: rows may live only in the log.
bool HasWriteAheadLog(const std::string& shard,
                      const platform::FileAccess& files = platform::HostFiles());

// The bytes [offset, offset + length) of one row's blob in a shard, read in pieces through
// SQLite's incremental blob I/O on an immutable read-only connection. A shard with a
// write-ahead log is read from a private copy, which holds what was committed when it was
// made. The blob must still hold the whole range.
//
// A shard is written for many entries at once, and read here while the browser may be
// writing it: with `fields` (a segment's RecordCheck::Kind::Sql fields) the blob's row and
// its resource's row must still hold what the scan read, before the range is read, and at
// finish(), when the blob's bytes must also have the check sum its row states.
class SqlBlobReader {
  public:
    SqlBlobReader();
    ~SqlBlobReader();
    SqlBlobReader(const SqlBlobReader&) = delete;
    SqlBlobReader& operator=(const SqlBlobReader&) = delete;
    bool open(const std::string& shard, std::int64_t rowId, std::uint64_t offset,
              std::uint64_t length, const std::string& fields = {});
    // Up to n bytes of what remains of the range: the count read (0 at its end), -1 on failure.
    std::ptrdiff_t read(void* buffer, std::size_t n);
    // Once the range has been read (or as much of it as is wanted): true when nothing was to
    // be checked, or the blob's bytes match its check sum and its rows, asked again on a
    // connection of their own unless read from a copy, still hold the fields.
    bool finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace browser::detail
