#include "cache/browser/blockfile.h"
#include "cache/browser/browser.h"
#include "cache/browser/decode.h"
#include "cache/browser/entry.h"
#include "cache/browser/media.h"
#include "cache/browser/sql_cache.h"
#include "cache/formats/blockfile_layout.h"
#include "platform/base/ascii.h"
#include "platform/base/endian.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <zlib.h>
#include <zstd.h>

namespace browser {

namespace detail {
namespace {
std::atomic<unsigned> g_scanShares{0};
} // namespace

void SetScanShares(unsigned shares) {
    g_scanShares = shares;
}
} // namespace detail

namespace {

using namespace detail;
namespace fs = std::filesystem;

enum class Verdict { Listed, NotListed, Partial, Unreadable };

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
// `stats` is told of as a problem naming the folder.
std::vector<std::string> ListNames(const fs::path& folder, ScanStats* stats = nullptr) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    if (ec && stats)
        stats->problems.push_back({folder.string(), "cannot be read (" + ec.message() + ")"});
    std::sort(names.begin(), names.end());
    return names;
}

// Opens an entry file; when it cannot be opened, the reason is kept for the user.
bool OpenEntry(ReadOnlyFile& file, const std::string& path, std::string& reason) {
    errno = 0;
    if (file.open(path))
        return true;
    reason = errno != 0 ? "cannot be opened (" + std::string(std::strerror(errno)) + ")"
                        : "is not a regular file";
    return false;
}

// Why a file that holds entries (a shard, a block file) could not be opened for reading.
std::string WhyNotOpened(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "cannot be read (" + std::string(std::strerror(errno)) + ")";
    if (S_ISLNK(st.st_mode))
        return "is a link, which Tamberlin does not follow inside a cache";
    if (!S_ISREG(st.st_mode))
        return "is not a regular file";
    return "cannot be read";
}

// A file holding entries that could not be read: its entries are lost, and it is named.
void LoseFile(const std::string& path, std::string reason, ScanStats& stats) {
    ++stats.unreadable;
    ++stats.unreadableFiles;
    stats.problems.push_back({path, std::move(reason)});
}

// Takes `size` bytes from the front of the segments.
void Truncate(std::vector<BodySegment>& segments, std::uint64_t size) {
    std::uint64_t kept = 0;
    std::size_t i = 0;
    for (; i < segments.size() && kept < size; ++i) {
        segments[i].length = std::min(segments[i].length, size - kept);
        kept += segments[i].length;
    }
    segments.resize(i);
}

// Reads a decoded body on from where `size` bytes were taken, keeping the first bytes in
// `first`: up to kSniffTextBytes of it when `firstOnly`, else to its end, which gives its
// size. Used only for encoded bodies, whose decoded size nothing else tells.
bool ReadDecoded(BodyStream& stream, std::string& first, std::uint64_t& size, bool firstOnly) {
    std::vector<char> buffer(firstOnly ? kSniffTextBytes : std::size_t{64} * 1024);
    for (;;) {
        if (firstOnly && first.size() >= kSniffTextBytes)
            return true;
        const std::ptrdiff_t got = stream.read(buffer.data(), buffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (first.size() < kSniffTextBytes)
            first.append(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(got),
                                                              kSniffTextBytes - first.size()));
        size += static_cast<std::uint64_t>(got);
    }
}

bool Measure(const BodyLocation& body, std::uint64_t& size) {
    auto stream = DecodeStream(OpenStoredBody(body.segments), body.encodings, kMaxDecodedBody);
    std::string first;
    size = 0;
    return ReadDecoded(*stream, first, size, false);
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

// The first decoded bytes, as many as sniffing needs, from the stored bytes already read when
// they are enough; from the files otherwise. `wholeSize` is set when the decoded body ended
// within those first bytes, so that its decoded size is known as well.
bool DecodeFirst(const ParsedEntry& e, const BodyLocation& body, std::string& first,
                 std::optional<std::uint64_t>& wholeSize) {
    if (!e.firstBytes.empty()) {
        const bool all = e.firstBytes.size() >= e.storedSize;
        auto stream = DecodeStream(
            MemoryStream(std::string_view(e.firstBytes)
                             .substr(0, static_cast<std::size_t>(
                                            std::min<std::uint64_t>(e.storedSize, SIZE_MAX)))),
            body.encodings, kMaxDecodedBody, e.firstBytes.size());
        std::string got;
        std::uint64_t size = 0;
        const bool decoded = ReadDecoded(*stream, got, size, true);
        if (all) {
            if (decoded && size < kSniffTextBytes)
                wholeSize = size; // it ended before sniffing had enough
            first = std::move(got);
            return decoded;
        }
        // Stopped by the end of the bytes read, or by having enough.
        if (got.size() >= kSniffTextBytes || (got.size() >= kSniffBytes && !MayBeText(got))) {
            first = std::move(got);
            return true;
        }
    }
    auto stream = DecodeStream(OpenStoredBody(body.segments), body.encodings, kMaxDecodedBody);
    std::uint64_t size = 0;
    first.clear();
    return ReadDecoded(*stream, first, size, true);
}

// The decoded size a gzip body states in its trailer, when it can be taken for the body's:
// ISIZE counts only the last member, modulo 2^32. A single member decodes to at least about
// its stored size (deflate grows incompressible data by a few bytes per block), so a stated
// size well below the stored one means several members, or a wrap, and the body is decoded
// instead. Whatever is listed, a save checks the decoded length is exactly this.
std::optional<std::uint64_t> StatedGzipSize(const ParsedEntry& e, const BodyLocation& body) {
    if (body.encodings.size() != 1 ||
        (body.encodings[0] != "gzip" && body.encodings[0] != "x-gzip") ||
        e.lastBytes.size() != kGzipTrailerBytes || !e.firstBytes.starts_with("\x1F\x8B\x08"))
        return std::nullopt;
    const std::uint64_t stated = platform::ByteReader(e.lastBytes).u32(4);
    if (stated == 0 || stated > kMaxDecodedBody || e.storedSize > stated + stated / 64 + 1024)
        return std::nullopt;
    return stated;
}

// The decoded size a zstd body states in its frame header, when it can be taken for the
// body's: the header counts only the first frame, so, as for gzip, a stated size well below the
// stored one means more frames and the body is decoded instead. Whatever is listed, a save
// checks the decoded length is exactly this.
std::optional<std::uint64_t> StatedZstdSize(const ParsedEntry& e) {
    if (!e.firstBytes.starts_with(kZstdMagic))
        return std::nullopt;
    const unsigned long long stated =
        ZSTD_getFrameContentSize(e.firstBytes.data(), e.firstBytes.size());
    if (stated == ZSTD_CONTENTSIZE_UNKNOWN || stated == ZSTD_CONTENTSIZE_ERROR || stated == 0 ||
        stated > kMaxDecodedBody || e.storedSize > stated + stated / 64 + 1024)
        return std::nullopt;
    return stated;
}

// The first stored bytes of the body, as many as sniffing needs.
bool FirstBytes(const ParsedEntry& e, const std::vector<BodySegment>& stored, std::string& first) {
    const std::size_t all =
        static_cast<std::size_t>(std::min<std::uint64_t>(e.storedSize, kSniffTextBytes));
    first = e.firstBytes.substr(0, all);
    if (first.size() >= all || (first.size() >= kSniffBytes && !MayBeText(first)))
        return true;
    first.resize(all);
    auto stream = OpenStoredBody(stored);
    for (std::size_t have = 0; have < all;) {
        const std::ptrdiff_t got = stream->read(first.data() + have, all - have);
        if (got <= 0)
            return false;
        have += static_cast<std::size_t>(got);
    }
    return true;
}

Verdict Evaluate(ParsedEntry& e, CacheKind kind, const std::string& fallbackName,
                 BrowserFile& row) {
    if (!IsWebUrl(e.url) || !e.head)
        return Verdict::NotListed;
    const ResponseHead& head = *e.head;
    if (head.status != 200 && head.status != 203 && head.status != 206)
        return Verdict::NotListed;
    if (head.status == 206) {
        // Complete only when the stored ranges cover the whole resource.
        const auto range = ParseContentRange(head.get("Content-Range").value_or(""));
        if (!range || !range->total || e.storedSize < *range->total)
            return Verdict::Partial;
        if (e.storedSize != *range->total)
            e.lastBytes.clear(); // no longer the end of the body
        Truncate(e.body, *range->total);
        e.storedSize = *range->total;
    } else if (e.truncated) {
        return Verdict::Partial;
    }
    if (e.storedSize == 0)
        return Verdict::NotListed;

    BodyLocation body;
    body.segments = std::move(e.body);
    body.encodings = ParseContentEncoding(head.get("Content-Encoding").value_or(""));
    for (const std::string& coding : body.encodings)
        if (!IsKnownCoding(coding))
            return Verdict::Unreadable; // dictionary codings and the like
    std::string first;
    if (!FirstBytes(e, body.segments, first))
        return Verdict::Unreadable;
    // Chromium may zstd-compress a body for its own storage and leave the headers as sent;
    // a zstd frame that no declared coding accounts for is that. Content-Length then counts
    // the bytes as they were before the cache compressed them.
    const bool compressedByCache = kind != CacheKind::Firefox && first.starts_with(kZstdMagic) &&
                                   (body.encodings.empty() || body.encodings.back() == "gzip" ||
                                    body.encodings.back() == "x-gzip");
    if (compressedByCache)
        body.encodings.emplace_back("zstd");

    // Encoded bodies are decoded whole only once their first bytes show a picture or video:
    // scripts and pages, most of what is encoded, cost a few kilobytes of decoding.
    const std::string contentType(head.get("Content-Type").value_or(""));
    std::optional<std::uint64_t> wholeSize;
    if (body.encodings.empty())
        body.decodedSize = e.storedSize;
    else if (!DecodeFirst(e, body, first, wholeSize))
        return Verdict::Unreadable;
    const std::string extension = Sniff(first, contentType);
    if (extension.empty())
        return Verdict::NotListed;
    if (!body.encodings.empty()) {
        // The decoded size: known already, stated by the body, or else decoded to the end.
        if (!wholeSize)
            wholeSize = StatedGzipSize(e, body);
        if (!wholeSize && body.encodings.size() == 1 && body.encodings[0] == "zstd")
            wholeSize = StatedZstdSize(e);
        if (!wholeSize && !Measure(body, body.decodedSize))
            return Verdict::Unreadable;
        if (wholeSize)
            body.decodedSize = *wholeSize;
        if (body.decodedSize == 0)
            return Verdict::Unreadable;
    }
    if (head.status != 206) {
        // Content-Length counts the bytes as sent, before any decoding of ours.
        const auto length = ParseDecimal(head.get("Content-Length").value_or(""));
        std::uint64_t asSent = e.storedSize;
        if (compressedByCache && length) {
            BodyLocation inner = body;
            inner.encodings.pop_back();
            const auto stated = StatedZstdSize(e); // what the cache's frame holds
            if (inner.encodings.empty())
                asSent = body.decodedSize;
            else if (stated)
                asSent = *stated;
            else if (!Measure(inner, asSent))
                return Verdict::Unreadable;
        }
        if (length && asSent < *length)
            return Verdict::Partial;
    }
    row.fileName = MakeFileName(e.url, extension, fallbackName);
    row.url = std::move(e.url);
    row.extension = extension;
    row.size = body.decodedSize;
    row.contentType = contentType;
    row.cached = e.cached;
    row.lastUsed = e.lastUsed;
    row.body = std::move(body);
    return Verdict::Listed;
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

// A 64-bit fingerprint of the stored body, for telling two entries of one URL apart.
std::optional<std::uint64_t> Fingerprint(const BodyLocation& body) {
    auto stream = OpenStoredBody(body.segments);
    std::vector<char> buffer(std::size_t{64} * 1024);
    uLong crc = crc32(0, nullptr, 0), adler = adler32(0, nullptr, 0);
    for (;;) {
        const std::ptrdiff_t got = stream->read(buffer.data(), buffer.size());
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        const auto* p = reinterpret_cast<const Bytef*>(buffer.data());
        crc = crc32(crc, p, static_cast<uInt>(got));
        adler = adler32(adler, p, static_cast<uInt>(got));
    }
    return static_cast<std::uint64_t>(crc) << 32 | (adler & 0xFFFFFFFFu);
}

bool SameResource(const BrowserFile& a, const BrowserFile& b) {
    return a.size == b.size && a.url == b.url && a.body.encodings == b.body.encodings;
}

std::uint64_t ResourceHash(const BrowserFile& row) {
    std::uint64_t h = std::hash<std::string_view>{}(row.url) ^ (row.size * 0x9E3779B97F4A7C15u);
    for (const std::string& coding : row.body.encodings)
        h = h * 31 + std::hash<std::string_view>{}(coding);
    return h;
}

// Drops rows whose URL and body an earlier row already has (one per partition). Rows are
// sorted once by a hash of URL, size and codings; only rows sharing all three need their
// bodies fingerprinted, each once, so the work stays near linear however many share a URL.
std::vector<BrowserFile> RemoveDuplicates(std::vector<BrowserFile> rows, ScanStats& stats) {
    std::vector<std::pair<std::uint64_t, std::size_t>> keyed(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        keyed[i] = {ResourceHash(rows[i]), i};
    std::sort(keyed.begin(), keyed.end());
    std::vector<bool> dropped(rows.size(), false);
    std::size_t drops = 0;
    for (std::size_t from = 0; from < keyed.size();) {
        std::size_t to = from + 1;
        while (to < keyed.size() && keyed[to].first == keyed[from].first)
            ++to;
        // The run is in row order; rows of one resource keep the first of each body.
        std::vector<std::pair<std::size_t, std::unordered_set<std::uint64_t>>> groups;
        for (std::size_t k = from; to - from > 1 && k < to; ++k) {
            const std::size_t i = keyed[k].second;
            auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) {
                return SameResource(rows[g.first], rows[i]);
            });
            if (group == groups.end()) {
                groups.emplace_back(i, std::unordered_set<std::uint64_t>{});
                group = groups.end() - 1;
            }
            const auto print = Fingerprint(rows[i].body);
            if (print && !group->second.insert(*print).second) {
                dropped[i] = true;
                ++drops;
            }
        }
        from = to;
    }
    stats.duplicates += drops;
    if (drops == 0)
        return rows;
    std::vector<BrowserFile> kept;
    kept.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!dropped[i])
            kept.push_back(std::move(rows[i]));
    return kept;
}

// What one share of a cache's entries gave, read on a thread of its own.
struct Share {
    std::vector<BrowserFile> rows;
    ScanStats stats;
};

// A cache is read in shares, one per core (at most kMaxShares): opening entries and sniffing
// their bodies is per-entry work that nothing else waits on. A small cache is one share.
constexpr unsigned kMaxShares = 4;
constexpr std::size_t kEntriesPerShare = 512;

unsigned SharesFor(std::size_t entries) {
    const unsigned forced = g_scanShares;
    const unsigned cores = forced != 0 ? forced : std::thread::hardware_concurrency();
    const std::size_t worth = forced != 0 ? entries : entries / kEntriesPerShare;
    return static_cast<unsigned>(
        std::clamp<std::size_t>(std::min<std::size_t>(worth, cores), 1, kMaxShares));
}

// The range of `count` items that share `i` of `n` reads.
std::pair<std::size_t, std::size_t> ShareRange(std::size_t count, unsigned i, unsigned n) {
    return {count * i / n, count * (i + 1) / n};
}

// Opens an entry file, parses it with parse(file, path, e), and while it is open reads the
// first and last bytes of the body it holds; the reason it could not be opened goes to
// `openFailure`.
template <typename Parse>
ParseError ReadEntryFile(const std::string& path, Parse parse, ParsedEntry& e,
                         std::string& openFailure) {
    ReadOnlyFile file;
    ParseError error = ParseError::Damaged;
    if (OpenEntry(file, path, openFailure))
        error = parse(file, path, e);
    Stamp(e.body, file, path);
    if (error == ParseError::None)
        Prefetch(file, path, e);
    return error;
}

// Counts an entry's verdict (naming `problemPath` if it could not be read) and keeps its row
// when listed, with `entryPath` as the file it is in.
void Keep(Verdict v, ParseError error, BrowserFile&& row, const std::string& problemPath,
          const std::string& openFailure, const std::string& entryPath, Share& share) {
    Count(v, error, problemPath, openFailure, share.stats);
    if (v == Verdict::Listed) {
        row.entryPath = entryPath;
        share.rows.push_back(std::move(row));
    }
}

// Adds a share's rows and counts after those of the shares before it.
void Append(Share&& share, std::vector<BrowserFile>& rows, ScanStats& stats) {
    if (rows.empty())
        rows = std::move(share.rows);
    else
        std::move(share.rows.begin(), share.rows.end(), std::back_inserter(rows));
    stats.entries += share.stats.entries;
    stats.unreadable += share.stats.unreadable;
    stats.partial += share.stats.partial;
    stats.unreadableFiles += share.stats.unreadableFiles;
    stats.unsupported = stats.unsupported || share.stats.unsupported;
    std::move(share.stats.problems.begin(), share.stats.problems.end(),
              std::back_inserter(stats.problems));
}

// Runs read(share, i) for the shares 0..n-1, share 0 on this thread and the others on
// threads of their own, then appends each share's rows and counts in order: the result is
// the one a single pass would give. A share that throws is thrown again here once all ended.
void InShares(unsigned n, const std::function<void(Share&, unsigned)>& read,
              std::vector<BrowserFile>& rows, ScanStats& stats) {
    std::vector<Share> shares(n);
    std::vector<std::exception_ptr> failures(n);
    const auto run = [&](unsigned i) {
        try {
            read(shares[i], i);
        } catch (...) {
            failures[i] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(n);            // so that adding one never fails while others run
    std::vector<unsigned> here{0}; // and any share no thread could be started for
    here.reserve(n);
    for (unsigned i = 1; i < n; ++i) {
        try {
            threads.emplace_back(run, i);
        } catch (const std::system_error&) {
            here.push_back(i);
        }
    }
    for (const unsigned i : here)
        run(i);
    for (std::thread& t : threads)
        t.join();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
    for (Share& share : shares)
        Append(std::move(share), rows, stats);
}

void ReadFirefoxEntry(const fs::path& entries, const std::string& name, Share& share) {
    ++share.stats.entries;
    const std::string path = (entries / name).string();
    ParsedEntry e;
    std::string openFailure;
    const ParseError error = ReadEntryFile(path, ParseFirefoxEntry, e, openFailure);
    BrowserFile row;
    const Verdict v = error == ParseError::None ? Evaluate(e, CacheKind::Firefox, name, row)
                                                : Verdict::Unreadable;
    Keep(v, error, std::move(row), path, openFailure, path, share);
}

void ScanFirefox(const fs::path& cache2, std::vector<BrowserFile>& rows, ScanStats& stats) {
    const fs::path entries = cache2 / "entries";
    std::vector<std::string> names = ListNames(entries, &stats);
    std::erase_if(names,
                  [](const std::string& name) { return name.size() != 40 || !IsHex(name, true); });
    const unsigned n = SharesFor(names.size());
    InShares(
        n,
        [&](Share& share, unsigned i) {
            const auto [from, to] = ShareRange(names.size(), i, n);
            for (std::size_t k = from; k < to; ++k)
                ReadFirefoxEntry(entries, names[k], share);
        },
        rows, stats);
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

void ScanSql(const fs::path& folder, const SqlIndex& index, std::vector<BrowserFile>& rows,
             ScanStats& stats, ShardCopies& copies) {
    for (unsigned shard = 0; shard < index.shards; ++shard) {
        const std::string path = (folder / SqlShardName(shard)).string();
        std::string openPath = path;
        std::shared_ptr<PrivateShardCopy> copy;
        if (HasWriteAheadLog(path)) {
            // Committed rows may still be in the log, which an immutable open ignores.
            copy = std::make_shared<PrivateShardCopy>();
            std::string why;
            if (!copy->make(path, &why)) {
                LoseFile(path, why, stats);
                continue;
            }
            openPath = copy->path();
        }
        // Rows remember the file their bodies are read from (the shard, or its copy); reading
        // a body checks it is still the same file.
        ReadOnlyFile openFile;
        if (!openFile.open(openPath)) {
            LoseFile(path, WhyNotOpened(openPath), stats);
            continue;
        }
        const FileIdentity identity = openFile.identity();
        if (copy)
            copies.copies.push_back({std::move(copy), path});
        const auto each = [&](Share& share) {
            return [&](ParsedEntry& e, ParseError error, std::int64_t resId) {
                for (BodySegment& s : e.body)
                    s.identity = identity;
                ++share.stats.entries;
                BrowserFile row;
                const std::string fallback = SqlShardName(shard) + "_" + std::to_string(resId);
                const Verdict v = error == ParseError::None
                                      ? Evaluate(e, CacheKind::Sql, fallback, row)
                                      : Verdict::Unreadable;
                Keep(v, error, std::move(row), path + " (resource " + std::to_string(resId) + ")",
                     "", path, share);
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

void ScanBlockfile(const fs::path& folder, std::vector<BrowserFile>& rows, ScanStats& stats) {
    const std::string index = (folder / "index").string();
    const auto evaluate = [&](BlockfileEntry& entry, Share& share) {
        if (!IsResourceEntry(entry))
            return; // evicted, doomed, or a piece of another entry
        ++share.stats.entries;
        BrowserFile row;
        const std::string fallback = platform::LowerHex(entry.address, 8);
        const Verdict v = entry.readable
                              ? Evaluate(entry.parsed, CacheKind::Blockfile, fallback, row)
                              : Verdict::Unreadable;
        Keep(v, ParseError::None, std::move(row), index + " (entry " + fallback + ")", "",
             entry.bodyFile, share);
    };
    // Every entry takes a record and a response info of 256 bytes or more in data_1.
    std::error_code ec;
    const std::uintmax_t records = fs::file_size(folder / "data_1", ec);
    const unsigned n = SharesFor(ec ? 0 : records / 512);
    BlockfileReading reading(n);
    InShares(
        n,
        [&](Share& share, unsigned i) {
            BlockfileFolder files(folder.string());
            reading.read(i, files, [&](BlockfileEntry& entry) { evaluate(entry, share); });
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
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 && !(number == 1 && namesEntries))
            continue; // a cache may lack data_3, say
        ReadOnlyFile file;
        std::uint8_t magic[4] = {};
        if (!file.open(path))
            LoseFile(path, WhyNotOpened(path), stats);
        else if (file.size() < blockfile::kBlockHeaderSize ||
                 !file.readAt(blockfile::kBlockMagicAt, magic, sizeof magic) ||
                 platform::LoadLE32(magic) != blockfile::kBlockMagic)
            LoseFile(path, file.size() == 0 ? "is empty" : "is damaged", stats);
    }
}

void ReadChromiumEntry(const fs::path& folder, const std::vector<std::string>& names,
                       const std::unordered_map<std::uint64_t, std::int64_t>& lastUsed,
                       const std::string& name, Share& share);

void ScanChromium(fs::path folder, std::vector<BrowserFile>& rows, ScanStats& stats) {
    std::vector<std::string> names = ListNames(folder, &stats);
    if (LooksLikeBlockfile(names)) {
        ScanBlockfile(folder, rows, stats); // the Windows back-end, found at a Linux place
        return;
    }
    if (std::binary_search(names.begin(), names.end(), std::string("Cache_Data"))) {
        folder /= "Cache_Data";
        names = ListNames(folder, &stats);
    }
    std::unordered_map<std::uint64_t, std::int64_t> lastUsed;
    if (ReadOnlyFile index; index.open((folder / "index-dir" / "the-real-index").string()))
        lastUsed = ReadSimpleIndexLastUsed(index);
    std::vector<std::string> entries;
    for (const std::string& name : names)
        if (name.size() == 18 && name.ends_with("_0") && IsHex(name.substr(0, 16), false))
            entries.push_back(name);
    const unsigned n = SharesFor(entries.size());
    InShares(
        n,
        [&](Share& share, unsigned i) {
            const auto [from, to] = ShareRange(entries.size(), i, n);
            for (std::size_t k = from; k < to; ++k)
                ReadChromiumEntry(folder, names, lastUsed, entries[k], share);
        },
        rows, stats);
}

// One Simple Cache entry, `name` being its _0 file among the folder's `names`.
void ReadChromiumEntry(const fs::path& folder, const std::vector<std::string>& names,
                       const std::unordered_map<std::uint64_t, std::int64_t>& lastUsed,
                       const std::string& name, Share& share) {
    ++share.stats.entries;
    const std::string path = (folder / name).string();
    ParsedEntry e;
    std::string openFailure;
    ParseError error = ReadEntryFile(path, ParseChromiumEntry, e, openFailure);
    const std::string hash = name.substr(0, 16);
    if (const auto t = lastUsed.find(std::stoull(hash, nullptr, 16)); t != lastUsed.end())
        e.lastUsed = t->second;
    const std::string sparseName = hash + "_s";
    if (error == ParseError::None && e.storedSize == 0 &&
        std::binary_search(names.begin(), names.end(), sparseName)) {
        // A range response keeps its bytes in the sparse file.
        const auto parse = [](const Source& sparse, const std::string& sparsePath,
                              ParsedEntry& entry) {
            std::uint64_t reach = 0;
            const ParseError got =
                ParseChromiumSparse(sparse, sparsePath, entry.key, entry.body, reach);
            entry.storedSize = reach;
            entry.firstBytes.clear();
            return got;
        };
        error = ReadEntryFile((folder / sparseName).string(), parse, e, openFailure);
    }
    BrowserFile row;
    const Verdict v = error == ParseError::None ? Evaluate(e, CacheKind::Chromium, hash, row)
                                                : Verdict::Unreadable;
    Keep(v, error, std::move(row), path, openFailure, path, share);
}

} // namespace

std::vector<BrowserFile> ScanCacheFolder(const CacheFolder& folder, ScanStats* stats) {
    ScanStats local;
    ScanStats& s = stats ? *stats : local;
    s = ScanStats{};
    std::vector<BrowserFile> rows;
    ShardCopies copies;
    if (folder.kind == CacheKind::Firefox) {
        ScanFirefox(folder.path, rows, s);
    } else if (folder.kind == CacheKind::Blockfile) {
        ScanBlockfile(folder.path, rows, s);
    } else {
        // An SQL cache sits where a Simple Cache would, with or without the Cache_Data level.
        fs::path at = folder.path;
        if (!ReadSqlIndex(at.string()) && IsDirectory((at / "Cache_Data").string()))
            at /= "Cache_Data";
        if (const auto index = ReadSqlIndex(at.string()))
            ScanSql(at, *index, rows, s, copies);
        else
            ScanChromium(folder.path, rows, s);
    }
    rows = RemoveDuplicates(std::move(rows), s);
    copies.pointRowsAtShards(rows);
    for (BrowserFile& row : rows)
        row.source = folder.source;
    s.listed = rows.size();
    return rows;
}

} // namespace browser
