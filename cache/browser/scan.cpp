#include "cache/browser/browser.h"
#include "cache/browser/decode.h"
#include "cache/browser/entry.h"
#include "cache/browser/media.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <zlib.h>

namespace browser {

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

// The names in a folder, sorted; empty when it cannot be listed.
std::vector<std::string> ListNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
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

// Reads the first stored bytes through the file still open after parsing, which saves
// opening it again: as many as sniffing needs, more only for what may be text.
void Prefetch(const Source& file, const std::string& path, ParsedEntry& e) {
    if (e.body.empty() || e.body.front().file != path)
        return;
    const BodySegment& s = e.body.front();
    for (std::size_t want : {kSniffBytes, kSniffTextBytes}) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(s.length, want));
        if (e.firstBytes.size() >= n)
            continue;
        if (!e.firstBytes.empty() && !MayBeText(e.firstBytes))
            return;
        std::string bytes(n, '\0');
        if (!file.readAt(s.offset, bytes.data(), n))
            return;
        e.firstBytes = std::move(bytes);
    }
}

// The first stored bytes of the body, as many as sniffing needs.
bool FirstBytes(const ParsedEntry& e, std::string& first) {
    const std::size_t all =
        static_cast<std::size_t>(std::min<std::uint64_t>(e.storedSize, kSniffTextBytes));
    first = e.firstBytes.substr(0, all);
    if (first.size() >= all || (first.size() >= kSniffBytes && !MayBeText(first)))
        return true;
    first.resize(all);
    auto stream = OpenStoredBody(e.body);
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
        Truncate(e.body, *range->total);
        e.storedSize = *range->total;
    } else if (e.truncated) {
        return Verdict::Partial;
    }
    if (e.storedSize == 0)
        return Verdict::NotListed;

    BodyLocation body;
    body.segments = e.body;
    body.encodings = ParseContentEncoding(head.get("Content-Encoding").value_or(""));
    for (const std::string& coding : body.encodings)
        if (!IsKnownCoding(coding))
            return Verdict::Unreadable; // dictionary codings and the like
    std::string first;
    if (!FirstBytes(e, first))
        return Verdict::Unreadable;
    // Chromium may zstd-compress a body for its own storage and leave the headers as sent;
    // a zstd frame that no declared coding accounts for is that. Content-Length then counts
    // the bytes as they were before the cache compressed them.
    const bool compressedByCache = kind == CacheKind::Chromium &&
                                   first.starts_with("\x28\xB5\x2F\xFD") &&
                                   (body.encodings.empty() || body.encodings.back() == "gzip" ||
                                    body.encodings.back() == "x-gzip");
    if (compressedByCache)
        body.encodings.emplace_back("zstd");

    // Encoded bodies are decoded whole only once their first bytes show a picture or video:
    // scripts and pages, most of what is encoded, cost a few kilobytes of decoding.
    const std::string contentType(head.get("Content-Type").value_or(""));
    std::unique_ptr<BodyStream> decoded;
    if (body.encodings.empty()) {
        body.decodedSize = e.storedSize;
    } else {
        decoded = DecodeStream(OpenStoredBody(body.segments), body.encodings, kMaxDecodedBody);
        first.clear();
        if (!ReadDecoded(*decoded, first, body.decodedSize, true))
            return Verdict::Unreadable;
    }
    const std::string extension = Sniff(first, contentType);
    if (extension.empty())
        return Verdict::NotListed;
    if (decoded &&
        (!ReadDecoded(*decoded, first, body.decodedSize, false) || body.decodedSize == 0))
        return Verdict::Unreadable;
    if (head.status != 206) {
        // Content-Length counts the bytes as sent, before any decoding of ours.
        const auto length = ParseDecimal(head.get("Content-Length").value_or(""));
        std::uint64_t asSent = e.storedSize;
        if (compressedByCache && length) {
            BodyLocation inner = body;
            inner.encodings.pop_back();
            if (inner.encodings.empty())
                asSent = body.decodedSize;
            else if (!Measure(inner, asSent))
                return Verdict::Unreadable;
        }
        if (length && asSent < *length)
            return Verdict::Partial;
    }
    row.url = e.url;
    row.extension = extension;
    row.fileName = MakeFileName(e.url, extension, fallbackName);
    row.size = body.decodedSize;
    row.contentType = contentType;
    row.fetched = e.fetched;
    row.body = std::move(body);
    return Verdict::Listed;
}

void Count(Verdict v, ParseError error, ScanStats& stats) {
    if (error != ParseError::None || v == Verdict::Unreadable)
        ++stats.unreadable;
    else if (v == Verdict::Partial)
        ++stats.partial;
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

// Drops rows whose URL and body an earlier row already has (one per partition).
std::vector<BrowserFile> RemoveDuplicates(std::vector<BrowserFile> rows, ScanStats& stats) {
    std::unordered_map<std::string, std::vector<std::size_t>> byUrl;
    std::vector<std::optional<std::uint64_t>> prints(rows.size());
    std::vector<bool> computed(rows.size(), false);
    auto print = [&](std::size_t i) {
        if (!computed[i]) {
            prints[i] = Fingerprint(rows[i].body);
            computed[i] = true;
        }
        return prints[i];
    };
    std::vector<BrowserFile> kept;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto& same = byUrl[rows[i].url];
        bool duplicate = false;
        for (std::size_t j : same) {
            if (rows[j].size != rows[i].size || rows[j].body.encodings != rows[i].body.encodings)
                continue;
            const auto a = print(i), b = print(j);
            if (a && b && *a == *b) {
                duplicate = true;
                break;
            }
        }
        if (duplicate) {
            ++stats.duplicates;
            continue;
        }
        same.push_back(i);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& same = byUrl[rows[i].url];
        if (std::find(same.begin(), same.end(), i) != same.end())
            kept.push_back(std::move(rows[i]));
    }
    return kept;
}

void ScanFirefox(const fs::path& cache2, std::vector<BrowserFile>& rows, ScanStats& stats) {
    const fs::path entries = cache2 / "entries";
    ReadOnlyFile file;
    for (const std::string& name : ListNames(entries)) {
        if (name.size() != 40 || !IsHex(name, true))
            continue;
        ++stats.entries;
        const std::string path = (entries / name).string();
        ParsedEntry e;
        ParseError error = ParseError::Damaged;
        if (file.open(path))
            error = ParseFirefoxEntry(file, path, e);
        if (error == ParseError::None)
            Prefetch(file, path, e);
        file.close();
        BrowserFile row;
        const Verdict v = error == ParseError::None ? Evaluate(e, CacheKind::Firefox, name, row)
                                                    : Verdict::Unreadable;
        Count(v, error, stats);
        if (v == Verdict::Listed) {
            row.entryPath = path;
            rows.push_back(std::move(row));
        }
    }
}

bool LooksLikeBlockfile(const std::vector<std::string>& names) {
    const auto has = [&](std::string_view n) {
        return std::binary_search(names.begin(), names.end(), std::string(n));
    };
    return has("index") && has("data_0") && has("data_1");
}

void ScanChromium(fs::path folder, std::vector<BrowserFile>& rows, ScanStats& stats) {
    std::vector<std::string> names = ListNames(folder);
    if (LooksLikeBlockfile(names)) {
        stats.unsupported = true; // the Windows backend: another format altogether
        return;
    }
    if (std::binary_search(names.begin(), names.end(), std::string("Cache_Data"))) {
        folder /= "Cache_Data";
        names = ListNames(folder);
    }
    ReadOnlyFile file, sparse;
    for (const std::string& name : names) {
        if (name.size() != 18 || !name.ends_with("_0") || !IsHex(name.substr(0, 16), false))
            continue;
        ++stats.entries;
        const std::string path = (folder / name).string();
        ParsedEntry e;
        ParseError error = ParseError::Damaged;
        if (file.open(path))
            error = ParseChromiumEntry(file, path, e);
        if (error == ParseError::None)
            Prefetch(file, path, e);
        file.close();
        const std::string hash = name.substr(0, 16);
        const std::string sparseName = hash + "_s";
        if (error == ParseError::None && e.storedSize == 0 &&
            std::binary_search(names.begin(), names.end(), sparseName)) {
            // A range response keeps its bytes in the sparse file.
            const std::string sparsePath = (folder / sparseName).string();
            std::uint64_t reach = 0;
            error = ParseError::Damaged;
            if (sparse.open(sparsePath))
                error = ParseChromiumSparse(sparse, sparsePath, e.key, e.body, reach);
            e.storedSize = reach;
            e.firstBytes.clear();
            if (error == ParseError::None)
                Prefetch(sparse, sparsePath, e);
            sparse.close();
        }
        BrowserFile row;
        const Verdict v = error == ParseError::None ? Evaluate(e, CacheKind::Chromium, hash, row)
                                                    : Verdict::Unreadable;
        Count(v, error, stats);
        if (v == Verdict::Listed) {
            row.entryPath = path;
            rows.push_back(std::move(row));
        }
    }
}

} // namespace

std::vector<BrowserFile> ScanCacheFolder(const CacheFolder& folder, ScanStats* stats) {
    ScanStats local;
    ScanStats& s = stats ? *stats : local;
    s = ScanStats{};
    std::vector<BrowserFile> rows;
    if (folder.kind == CacheKind::Firefox)
        ScanFirefox(folder.path, rows, s);
    else if (folder.kind == CacheKind::Chromium)
        ScanChromium(folder.path, rows, s);
    else
        s.unsupported = true;
    rows = RemoveDuplicates(std::move(rows), s);
    for (BrowserFile& row : rows)
        row.source = folder.source;
    s.listed = rows.size();
    return rows;
}

} // namespace browser
