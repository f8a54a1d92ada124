// The scan of one cache folder: each format's entries read in shares, each entry judged by
// the listing rules, the rows of all shares appended in order and their duplicates dropped.
#include "cache/browser/blockfile.h"
#include "cache/browser/browser.h"
#include "cache/browser/duplicates.h"
#include "cache/browser/entry.h"
#include "cache/browser/listing_rules.h"
#include "cache/browser/shares.h"
#include "cache/browser/sql_cache.h"
#include "cache/browser/webkit_scan.h"
#include "cache/formats/blockfile.h"
#include "cache/formats/blockfile_layout.h"
#include "platform/base/ascii.h"
#include "platform/base/endian.h"
#include "platform/base/files.h"
#include "platform/base/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <sys/stat.h>
#include <system_error>
#include <thread>

namespace browser {

namespace {

using namespace detail;
namespace fs = std::filesystem;

// The number sixteen hex digits (checked by IsHex) write.
std::uint64_t HexValue(std::string_view digits) {
    std::uint64_t v = 0;
    for (char c : digits)
        v = v << 4 | static_cast<std::uint64_t>(platform::HexDigitValue(c));
    return v;
}

bool IsHex(std::string_view s, bool upper) {
    for (char c : s) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = upper ? (c >= 'A' && c <= 'F') : (c >= 'a' && c <= 'f');
        if (!digit && !letter)
            return false;
    }
    return true;
}

// The names in a folder, sorted; empty when it cannot be listed, which a caller that passes
// `stats` is told of as a problem naming the folder. The deleted files a disk image still
// names go to `deleted` for a caller that proves what it reads of them, else nowhere.
std::vector<std::string> ListNames(const platform::FileAccess& files, const fs::path& folder,
                                   ScanStats* stats = nullptr,
                                   std::vector<std::string>* deleted = nullptr) {
    std::vector<std::string> names;
    int error = 0;
    std::vector<platform::FolderEntry> entries;
    if (const auto held = files.openFolder(folder.string(), error))
        error = held->list(entries);
    names.reserve(entries.size());
    for (platform::FolderEntry& e : entries)
        if (!e.deleted)
            names.push_back(std::move(e.name));
        else if (deleted)
            deleted->push_back(std::move(e.name));
    if (error != 0 && stats)
        stats->problems.push_back(
            {folder.string(), "cannot be read (" + std::string(std::strerror(error)) + ")"});
    std::sort(names.begin(), names.end());
    return names;
}

// Opens an entry file of the folder held open; when it cannot be opened, the reason is kept
// for the user.
bool OpenEntry(ReadOnlyFile& file, const OpenFolder& folder, const std::string& name,
               std::string& reason) {
    errno = 0;
    if (folder.open(file, name))
        return true;
    reason = errno != 0 ? "cannot be opened (" + std::string(std::strerror(errno)) + ")"
                        : "is not a regular file";
    return false;
}

// Why a file that holds entries (a shard, a block file) could not be opened for reading,
// from the errno its open left (0: there, but not a regular file).
std::string WhyNotOpened(int error) {
    if (error == ELOOP)
        return "is a link, which Tamberlin does not follow inside a cache";
    if (error == 0)
        return "is not a regular file";
    return "cannot be read (" + std::string(std::strerror(error)) + ")";
}

// A file holding entries that could not be read: its entries are lost, and it is named.
void LoseFile(const std::string& path, std::string reason, ScanStats& stats) {
    ++stats.unreadable;
    ++stats.unreadableFiles;
    stats.problems.push_back({path, std::move(reason)});
}

// Records which file each segment of `path` was read from, from the descriptor the parse
// read, so that a save can tell a file swapped or rewritten since.
void Stamp(std::vector<BodySegment>& segments, const ReadOnlyFile& file, const std::string& path) {
    for (BodySegment& s : segments)
        if (s.file == path)
            s.identity = file.identity();
}

// Reads the first stored bytes through the file still open after parsing, which saves
// opening it again: as many as sniffing needs, more only for what may be text or is encoded
// (its decoded first bytes come from them), and the last bytes, where a gzip body says its
// decoded size.
void Prefetch(const Source& file, const std::string& path, ParsedEntry& e) {
    if (e.body.empty())
        return;
    const BodySegment& last = e.body.back();
    if (last.file == path)
        ReadLastBytes(e, last.length, [&](std::uint64_t at, char* out, std::size_t n) {
            return file.readAt(last.offset + at, out, n);
        });
    const BodySegment& s = e.body.front();
    if (s.file == path)
        ReadFirstBytes(e, s.length, [&](std::uint64_t at, char* out, std::size_t n) {
            return file.readAt(s.offset + at, out, n);
        });
}

// Counts the verdict; an entry that could not be read is also named, with why.
void Count(Verdict v, ParseError error, const std::string& path, const std::string& openFailure,
           ScanStats& stats) {
    if (error != ParseError::None || v == Verdict::Unreadable) {
        ++stats.unreadable;
        std::string reason = openFailure;
        if (reason.empty()) {
            switch (error) {
            case ParseError::UnknownVersion:
                reason = "is in an entry format version Tamberlin does not read";
                break;
            case ParseError::Encrypted:
                reason = "is encrypted";
                break;
            case ParseError::Damaged:
                reason = "is damaged";
                break;
            case ParseError::None:
                reason = "holds a body that could not be read or decoded";
                break;
            }
        }
        stats.problems.push_back({path, std::move(reason)});
    } else if (v == Verdict::Partial) {
        ++stats.partial;
    }
}

// Opens an entry file, parses it with parse(file, path, e), and while it is open reads the
// first and last bytes of the body it holds; the reason it could not be opened goes to
// `openFailure`. A deleted file is read only with `prove`, and only when prove(file) finds
// its bytes are still the entry's (e.deleted is then set); `unproven` says when it did not.
struct NoProof {
    bool operator()(const Source&) const { return false; }
};
template <typename Parse, typename Prove = NoProof>
ParseError ReadEntryFile(const platform::FileAccess& files, const OpenFolder& folder,
                         const std::string& name, const std::string& path, Parse parse,
                         ParsedEntry& e, std::string& openFailure, bool* unproven = nullptr,
                         Prove prove = {}) {
    ReadOnlyFile file(files);
    if (unproven != nullptr)
        file.acceptDeleted();
    ParseError error = ParseError::Damaged;
    if (OpenEntry(file, folder, name, openFailure)) {
        error = parse(file, path, e);
        if (file.deleted()) {
            e.deleted = true;
            *unproven = error != ParseError::None || !prove(static_cast<const Source&>(file));
            if (*unproven)
                return ParseError::Damaged;
        }
    }
    Stamp(e.body, file, path);
    for (BodySegment& s : e.body)
        s.files = platform::KeptTree(files);
    if (error == ParseError::None)
        Prefetch(file, path, e);
    return error;
}

// Counts an entry's verdict (naming `problemPath` if it could not be read) and keeps its row
// when listed, with `entryPath` as the file it is in. `entryPath` is moved from only after
// `problemPath` was used, so the two may be one string.
void Keep(Verdict v, ParseError error, BrowserFile&& row, const std::string& problemPath,
          const std::string& openFailure, std::string&& entryPath, Share& share) {
    Count(v, error, problemPath, openFailure, share.stats);
    if (v == Verdict::Listed) {
        row.entryPath = std::move(entryPath);
        share.rows.push_back(std::move(row));
    }
}

void ReadFirefoxEntry(const platform::FileAccess& files, const OpenFolder& entries,
                      const std::string& name, Share& share) {
    ++share.stats.entries;
    std::string path = platform::JoinPath(entries.path(), name);
    ParsedEntry e;
    std::string openFailure;
    bool unproven = false;
    const ParseError error =
        ReadEntryFile(files, entries, name, path, ParseFirefoxEntry, e, openFailure, &unproven,
                      [](const Source& file) {
                          FirefoxEntry entry;
                          return ParseFirefoxFile(file, entry) == ParseError::None &&
                                 FirefoxHashesHold(file, entry);
                      });
    if (unproven) {
        --share.stats.entries;
        ++share.stats.deletedUnproven;
        return;
    }
    BrowserFile row;
    row.deleted = e.deleted;
    const Verdict v = error == ParseError::None ? Evaluate(e, CacheKind::Firefox, name, row)
                                                : Verdict::Unreadable;
    Keep(v, error, std::move(row), path, openFailure, std::move(path), share);
}

void ScanFirefox(const platform::FileAccess& files, const fs::path& cache2,
                 std::vector<BrowserFile>& rows, ScanStats& stats) {
    const fs::path entries = cache2 / "entries";
    std::vector<std::string> deleted; // read too, their own checks proving them
    std::vector<std::string> names = ListNames(files, entries, &stats, &deleted);
    if (!deleted.empty()) { // (the live names come sorted)
        names.insert(names.end(), deleted.begin(), deleted.end());
        std::sort(names.begin(), names.end());
    }
    std::erase_if(names,
                  [](const std::string& name) { return name.size() != 40 || !IsHex(name, true); });
    const OpenFolder held(entries.string(), files); // entries are opened by name in it
    InChunks(
        SharesFor(names.size()), names.size(),
        [&](Share& share, std::size_t k) { ReadFirefoxEntry(files, held, names[k], share); }, rows,
        stats);
}

// A blockfile cache, even one whose index is too damaged to be recognised as one: its block
// files are there, and the reader then names it as unreadable instead of finding it empty.
bool LooksLikeBlockfile(const std::vector<std::string>& names) {
    const auto has = [&](std::string_view n) {
        return std::binary_search(names.begin(), names.end(), std::string(n));
    };
    return has("index") && has("data_0") && has("data_1");
}

// Private copies of the shards of a cache in Wal mode. Once the scan is over, rows name the
// shard itself and keep the copy as the snapshot their bodies are read from (its identity is
// the one they carry), so that saving them copies nothing again; the copy goes with the last
// row that holds it.
struct ShardCopies {
    struct Copy {
        std::shared_ptr<PrivateShardCopy> copy;
        std::string shard;
    };
    std::vector<Copy> copies;
    void pointRowsAtShards(std::vector<BrowserFile>& rows) const {
        for (BrowserFile& row : rows)
            for (BodySegment& s : row.body.segments)
                for (const Copy& c : copies)
                    if (s.file == c.copy->path()) {
                        s.file = c.shard;
                        s.snapshot = c.copy;
                    }
    }
};

// A shard is read ahead up to this far: a cache's shards are some tens or hundreds of
// megabytes, and a file far larger is no cache worth filling memory with.
constexpr std::uint64_t kMostReadAhead = std::uint64_t{512} << 20;

// `host`: the cache is in the host's files, where SQLite opens a shard by its path; any other
// tree's shards are read from private copies.
void ScanSql(const platform::FileAccess& files, bool host, const fs::path& folder,
             const SqlIndex& index, std::vector<BrowserFile>& rows, ScanStats& stats,
             ShardCopies& copies) {
    // SQLite reads a shard through its tables' pages, here and there: read cold, that is
    // many small waits on the disk. The shards are read ahead of it, in order, on a thread
    // of their own, for as long as the scan runs.
    std::optional<std::jthread> ahead;
    if (host) {
        try {
            ahead.emplace([&folder, shards = index.shards](const std::stop_token& stop) {
                try {
                    for (unsigned shard = 0; shard < shards && !stop.stop_requested(); ++shard)
                        platform::ReadAhead((folder / SqlShardName(shard)).string(), kMostReadAhead,
                                            stop);
                } catch (const std::exception&) {
                    // (out of memory for a path: the scan reads without it)
                }
            });
        } catch (const std::system_error&) {
            // no thread to spare: the scan reads without it
        }
    }
    for (unsigned shard = 0; shard < index.shards; ++shard) {
        const std::string path = (folder / SqlShardName(shard)).string();
        std::string openPath = path;
        std::shared_ptr<PrivateShardCopy> copy;
        if (!host || HasWriteAheadLog(path)) {
            // Committed rows may still be in the log, which an immutable open ignores.
            copy = std::make_shared<PrivateShardCopy>();
            std::string why;
            if (!copy->make(path, &why, files)) {
                LoseFile(path, why, stats);
                continue;
            }
            openPath = copy->path();
        }
        // Rows remember the file their bodies are read from (the shard, or its copy); reading
        // a body checks it is still the same file.
        ReadOnlyFile openFile;
        errno = 0;
        if (!openFile.open(openPath)) {
            LoseFile(path, WhyNotOpened(errno), stats);
            continue;
        }
        const FileIdentity identity = openFile.identity();
        if (copy)
            copies.copies.push_back({std::move(copy), path});
        const auto each = [&](Share& share) {
            return [&](ParsedEntry& e, ParseError error, std::int64_t resId) {
                for (BodySegment& s : e.body)
                    s.identity = identity; // (a copy, so the host's)
                ++share.stats.entries;
                BrowserFile row;
                const std::string fallback = SqlShardName(shard) + "_" + std::to_string(resId);
                const Verdict v = error == ParseError::None
                                      ? Evaluate(e, CacheKind::Sql, fallback, row)
                                      : Verdict::Unreadable;
                Keep(v, error, std::move(row), path + " (resource " + std::to_string(resId) + ")",
                     "", std::string(path), share);
            };
        };
        // A large shard is read in parts of its res_id range, each on a connection of its own
        // (a range no real cache comes near is read in one); the first part reads on the
        // connection that found the range.
        SqlShard whole;
        const ShardResult opened = whole.open(openPath);
        const auto ids = opened == ShardResult::Read ? whole.resourceIds() : std::nullopt;
        const std::uint64_t span = ids ? static_cast<std::uint64_t>(ids->second) -
                                             static_cast<std::uint64_t>(ids->first) + 1
                                       : 0;
        const unsigned n = span > 0 && span < (std::uint64_t{1} << 40) ? SharesFor(span) : 1;
        std::vector<ShardResult> results(n, opened);
        if (opened == ShardResult::Read) {
            InShares(
                n,
                [&](Share& share, unsigned i) {
                    // Bounds that meet: the first part has no lower one, the last no upper.
                    const auto bound = [&](unsigned k) -> std::optional<std::int64_t> {
                        if (k == 0 || k == n)
                            return std::nullopt;
                        return ids->first + static_cast<std::int64_t>(span * k / n);
                    };
                    SqlShard own;
                    SqlShard& shardReader = i == 0 ? whole : own;
                    results[i] = i == 0 ? ShardResult::Read : own.open(openPath);
                    if (results[i] == ShardResult::Read)
                        results[i] = shardReader.read(each(share), bound(i), bound(i + 1));
                },
                rows, stats);
        }
        ShardResult result = ShardResult::Read;
        for (const ShardResult r : results)
            if (r != ShardResult::Read && result != ShardResult::UnknownSchema)
                result = r;
        if (result == ShardResult::UnknownSchema) {
            stats.unsupported = true;
            stats.problems.push_back({path, "is in an SQL cache schema Tamberlin does not read"});
        } else if (result != ShardResult::Read) {
            LoseFile(path, "is damaged", stats); // a missing or damaged shard
        }
    }
}

void ScanBlockfile(const platform::FileAccess& files, const fs::path& folder,
                   std::vector<BrowserFile>& rows, ScanStats& stats) {
    const std::string index = (folder / "index").string();
    const auto evaluate = [&](BlockfileEntry& entry, Share& share) {
        if (!IsResourceEntry(entry))
            return; // evicted, doomed, or a piece of another entry
        for (BodySegment& s : entry.parsed.body)
            s.files = platform::KeptTree(files);
        ++share.stats.entries;
        BrowserFile row;
        const std::string fallback = platform::LowerHex(entry.address, 8);
        const Verdict v = entry.readable
                              ? Evaluate(entry.parsed, CacheKind::Blockfile, fallback, row)
                              : Verdict::Unreadable;
        Keep(v, ParseError::None, std::move(row), index + " (entry " + fallback + ")", "",
             std::string(entry.bodyFile), share);
    };
    // Every entry takes a record and a response info of 256 bytes or more in data_1.
    ReadOnlyFile recordFile(files);
    const std::uint64_t records =
        recordFile.open((folder / "data_1").string()) ? recordFile.size() : 0;
    recordFile.close();
    // Room for the rows, made once: as many as the index counts entries, and no more than
    // data_1 holds records (a 256-byte block each, of the 65,536 an address can name). A
    // count gone stale, or crafted, costs only the moves that make more room.
    std::uint64_t counted = 0;
    if (ReadOnlyFile indexFile(files); indexFile.open(index)) {
        std::string head(blockfile::kIndexHeaderSize, '\0');
        if (indexFile.readAt(0, head.data(), head.size()))
            counted = static_cast<std::uint64_t>(
                std::max(0, formats::ParseBlockfileIndexHeader(head).entryCount));
    }
    const auto most = static_cast<std::size_t>(
        std::min({counted, records / 256, std::uint64_t{blockfile::kAddrStartBlockMask} + 1}));
    const unsigned n = SharesFor(records / 512);
    BlockfileReading reading(n);
    InShares(
        n,
        [&](Share& share, unsigned i) {
            const auto [from, to] = ShareRange(most, i, n);
            ReserveRows(share, i, from, to, most);
            BlockfileFolder held(folder.string(), files);
            reading.read(i, held, [&](BlockfileEntry& entry) { evaluate(entry, share); });
        },
        rows, stats);
    Share parents;
    const BlockfileContents contents =
        reading.finish([&](BlockfileEntry& entry) { evaluate(entry, parents); });
    Append(std::move(parents), rows, stats);
    if (!contents.readable) {
        stats.unsupported = true; // recognised, but the index cannot be read
        stats.problems.push_back(
            {index,
             "is a blockfile cache index Tamberlin cannot read (an unknown version or damaged)"});
        return;
    }
    // The block files hold the entries' records (data_1) and streams: one that is there but
    // cannot be read as a block file loses whatever it holds, and so does a missing data_1
    // when the index names entries, which the reader then never reaches to count.
    const bool namesEntries = contents.header.entryCount != 0 ||
                              std::any_of(contents.warnings.begin(), contents.warnings.end(),
                                          [](const BlockfileWarning& w) { return w.address != 0; });
    for (std::uint32_t number = 0; number < blockfile::kFirstBlockFiles; ++number) {
        const std::string path = (folder / ("data_" + std::to_string(number))).string();
        ReadOnlyFile file(files);
        std::uint8_t magic[4] = {};
        errno = 0;
        const bool opened = file.open(path);
        const int error = errno;
        if (!opened && error == ENOENT && !(number == 1 && namesEntries))
            continue; // a cache may lack data_3, say
        if (!opened)
            LoseFile(path, WhyNotOpened(error), stats);
        else if (file.size() < blockfile::kBlockHeaderSize ||
                 !file.readAt(blockfile::kBlockMagicAt, magic, sizeof magic) ||
                 platform::LoadLE32(magic) != blockfile::kBlockMagic)
            LoseFile(path, file.size() == 0 ? "is empty" : "is damaged", stats);
    }
}

void ReadChromiumEntry(const platform::FileAccess& files, const OpenFolder& folder,
                       const std::vector<std::string>& names, const LastUsedTimes& lastUsed,
                       const std::string& name, Share& share);

void ScanChromium(const platform::FileAccess& files, fs::path folder,
                  std::vector<BrowserFile>& rows, ScanStats& stats) {
    std::vector<std::string> deleted;
    std::vector<std::string> names = ListNames(files, folder, &stats, &deleted);
    if (LooksLikeBlockfile(names)) {
        ScanBlockfile(files, folder, rows, stats); // the Windows back-end, found at a Linux place
        return;
    }
    if (std::binary_search(names.begin(), names.end(), std::string("Cache_Data"))) {
        folder /= "Cache_Data";
        deleted.clear();
        names = ListNames(files, folder, &stats, &deleted);
    }
    LastUsedTimes lastUsed;
    if (ReadOnlyFile index(files); index.open((folder / "index-dir" / "the-real-index").string()))
        lastUsed = ReadSimpleIndexLastUsed(index);
    // Deleted entry files are read too, their own checks proving them (`names` stays the
    // live files, where a live entry's sparse file is looked for).
    std::vector<const std::string*> entries; // (names of `names` and `deleted`)
    for (const auto* list : {&names, &deleted})
        for (const std::string& name : *list)
            if (name.size() == 18 && name.ends_with("_0") &&
                IsHex(std::string_view(name).substr(0, 16), false))
                entries.push_back(&name);
    if (!deleted.empty()) // (the live names come sorted)
        std::sort(entries.begin(), entries.end(),
                  [](const std::string* a, const std::string* b) { return *a < *b; });
    const OpenFolder held(folder.string(), files); // entries are opened by name in it
    InChunks(
        SharesFor(entries.size()), entries.size(),
        [&](Share& share, std::size_t k) {
            ReadChromiumEntry(files, held, names, lastUsed, *entries[k], share);
        },
        rows, stats);
}

// One Simple Cache entry, `name` being its _0 file; `names` are the folder's live files.
void ReadChromiumEntry(const platform::FileAccess& files, const OpenFolder& folder,
                       const std::vector<std::string>& names, const LastUsedTimes& lastUsed,
                       const std::string& name, Share& share) {
    ++share.stats.entries;
    std::string path = platform::JoinPath(folder.path(), name);
    ParsedEntry e;
    std::string openFailure;
    const std::string_view hash = std::string_view(name).substr(0, 16);
    const std::uint64_t nameHash = HexValue(hash);
    bool unproven = false;
    ParseError error =
        ReadEntryFile(files, folder, name, path, ParseChromiumEntry, e, openFailure, &unproven,
                      [&](const Source& file) {
                          SimpleEntry entry;
                          return ParseSimpleEntryFile(file, entry) == ParseError::None &&
                                 SimpleChecksHold(file, entry, nameHash);
                      });
    if (unproven) {
        --share.stats.entries;
        ++share.stats.deletedUnproven;
        return;
    }
    if (const auto t = lastUsed.find(nameHash))
        e.lastUsed = t;
    if (error == ParseError::None && e.storedSize == 0 && e.deleted) {
        // No body to prove: a range response's bytes would be in a sparse file, whose
        // ranges nothing proves.
        --share.stats.entries;
        ++share.stats.deletedUnproven;
        return;
    }
    if (error == ParseError::None && e.storedSize == 0) {
        // A range response keeps its bytes in the sparse file.
        const std::string sparseName = std::string(hash) + "_s";
        const auto parse = [](const Source& sparse, const std::string& sparsePath,
                              ParsedEntry& entry) {
            std::uint64_t reach = 0;
            const ParseError got =
                ParseChromiumSparse(sparse, sparsePath, entry.key, entry.body, reach);
            entry.storedSize = reach;
            entry.firstBytes.clear();
            return got;
        };
        if (std::binary_search(names.begin(), names.end(), sparseName))
            error =
                ReadEntryFile(files, folder, sparseName,
                              platform::JoinPath(folder.path(), sparseName), parse, e, openFailure);
    }
    BrowserFile row;
    row.deleted = e.deleted;
    const Verdict v = error == ParseError::None ? Evaluate(e, CacheKind::Chromium, hash, row)
                                                : Verdict::Unreadable;
    Keep(v, error, std::move(row), path, openFailure, std::move(path), share);
}

} // namespace

std::vector<BrowserFile> ScanCacheFolder(const CacheFolder& folder, ScanStats* stats) {
    ScanStats local;
    ScanStats& s = stats ? *stats : local;
    s = ScanStats{};
    std::vector<BrowserFile> rows;
    ShardCopies copies;
    const platform::FileAccess& files = FilesOf(folder.files);
    if (folder.kind == CacheKind::Firefox) {
        ScanFirefox(files, folder.path, rows, s);
    } else if (folder.kind == CacheKind::Blockfile) {
        ScanBlockfile(files, folder.path, rows, s);
    } else if (folder.kind == CacheKind::WebKit) {
        ScanWebKit(files, folder.path, rows, s);
    } else {
        // An SQL cache sits where a Simple Cache would, with or without the Cache_Data level.
        fs::path at = folder.path;
        if (!ReadSqlIndex(at.string(), files) && IsDirectory((at / "Cache_Data").string(), files))
            at /= "Cache_Data";
        if (const auto index = ReadSqlIndex(at.string(), files))
            ScanSql(files, folder.files == nullptr, at, *index, rows, s, copies);
        else
            ScanChromium(files, folder.path, rows, s);
    }
    rows = RemoveDuplicates(std::move(rows), s);
    copies.pointRowsAtShards(rows);
    for (BrowserFile& row : rows)
        row.source = folder.source;
    s.listed = rows.size();
    return rows;
}

} // namespace browser
