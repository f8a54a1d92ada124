// What an entry file says about its response, as the scan uses it: the formats' records
// (cache/formats) turned into one shape whatever the format.
#pragma once

#include "cache/browser/browser.h"
#include "cache/browser/media.h"
#include "cache/browser/source.h"
#include "cache/formats/firefox.h"
#include "cache/formats/http.h"
#include "cache/formats/simple.h"
#include "cache/formats/source.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace browser::detail {

// The parsers' names (the records, ParseError, the HTTP pieces, the layouts' namespaces), as
// every reader here uses them.
using namespace ::formats;

// A zstd frame's magic number, which also marks a body Chromium compressed for its own storage.
inline constexpr std::string_view kZstdMagic("\x28\xB5\x2F\xFD", 4);

// What an entry file says about its response, before any decision to list it.
struct ParsedEntry {
    std::string key; // as stored
    std::string url; // the key with its prefixes removed
    std::optional<ResponseHead> head;
    std::vector<BodySegment> body; // the stored (still encoded) body; empty when none
    std::uint64_t storedSize = 0;  // sum of the segments' lengths
    std::string firstBytes;        // the first stored bytes, when the parse read them anyway
    std::string lastBytes;         // the last kGzipTrailerBytes stored, when read anyway
    bool truncated = false;        // the browser marked the body incomplete
    // Seconds since 1970 UTC, as in BrowserFile; nothing when the entry does not say.
    std::optional<std::int64_t> cached, lastUsed;
    bool deleted = false; // read from a deleted file, and proven by the format's own checks
};

// Whether a reader that has read `first`, the first kSniffBytes stored bytes of `e`'s body,
// should read on to kSniffTextBytes while the body's file is open: for what may be text, and
// for an encoded body, whose first decoded bytes all come from them.
inline bool WantsTextBytes(const ParsedEntry& e, std::string_view first) {
    return MayBeText(first) || first.starts_with(kZstdMagic) ||
           (e.head && e.head->get("Content-Encoding"));
}

// What every reader reads of a body while its file is open, so that a scan rarely opens it
// again: into e.firstBytes as many first bytes as sniffing wants (kSniffBytes, and up to
// kSniffTextBytes where WantsTextBytes), and for an encoded body into e.lastBytes the last
// kGzipTrailerBytes, where gzip states the decoded size. `length` is the length of the
// segment read (the first, or the last); read(at, buffer, n) reads n bytes at `at` in it.
template <typename Read> void ReadFirstBytes(ParsedEntry& e, std::uint64_t length, Read read) {
    for (const std::size_t want : {kSniffBytes, kSniffTextBytes}) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length, want));
        if (e.firstBytes.size() >= n)
            continue;
        if (!e.firstBytes.empty() && !WantsTextBytes(e, e.firstBytes))
            return;
        std::string bytes(n, '\0');
        if (!read(std::uint64_t{0}, bytes.data(), n))
            return;
        e.firstBytes = std::move(bytes);
    }
}
template <typename Read> void ReadLastBytes(ParsedEntry& e, std::uint64_t length, Read read) {
    if (!e.head || !e.head->get("Content-Encoding") || length < kGzipTrailerBytes ||
        e.lastBytes.size() == kGzipTrailerBytes)
        return;
    std::string bytes(kGzipTrailerBytes, '\0');
    if (read(length - kGzipTrailerBytes, bytes.data(), bytes.size()))
        e.lastBytes = std::move(bytes);
}

// Test seam: read every cache in exactly this many shares at once, however small it is (0,
// the default: one per core, and one for a cache too small to gain from more).
void SetScanShares(unsigned shares);

// A segment whose other fields (the identity, filled by the scan) keep their defaults.
inline BodySegment Segment(const std::string& file, std::uint64_t offset, std::uint64_t length) {
    BodySegment s;
    s.file = file;
    s.offset = offset;
    s.length = length;
    return s;
}

// Firefox cache2 (formats::ParseFirefoxFile): `path` names the file for the body segments;
// the body ends where alt-data starts.
ParseError ParseFirefoxEntry(const Source& file, const std::string& path, ParsedEntry& out);

// Chromium Simple Cache stream file (<hash>_0, formats::ParseSimpleEntryFile).
ParseError ParseChromiumEntry(const Source& file, const std::string& path, ParsedEntry& out);
// The response info every Chromium back-end stores (formats::ParseResponseInfo): the
// status and headers, the truncated flag and the response time (as `cached`).
void ParseChromiumResponseInfo(std::string_view info, ParsedEntry& out);
// The last-used times the Simple Cache's index (index-dir/the-real-index, index versions 7
// to 9) keeps, by entry hash (the entry file's name), in seconds since 1970. Chromium writes
// the index only now and then, so it is a hint: an entry it does not name has no time, and
// an index that is damaged, of another version or fails its CRC gives none at all.
class LastUsedTimes {
  public:
    LastUsedTimes() = default;
    // Where a hash is given twice, the later time counts.
    explicit LastUsedTimes(std::vector<std::pair<std::uint64_t, std::int64_t>> byHash);
    std::optional<std::int64_t> find(std::uint64_t hash) const;
    std::size_t size() const { return times_.size(); }
    bool empty() const { return times_.empty(); }

  private:
    // Sorted by hash: one search of a flat array per entry file, where a node-based map
    // missed the cache at every lookup.
    std::vector<std::pair<std::uint64_t, std::int64_t>> times_;
};
LastUsedTimes ReadSimpleIndexLastUsed(const Source& index);
// The ranges of a sparse file (<hash>_s) belonging to `key`, joined up from offset 0 for as
// far as they reach without a gap. `reach` is where the joined ranges end.
ParseError ParseChromiumSparse(const Source& file, const std::string& path, std::string_view key,
                               std::vector<BodySegment>& joined, std::uint64_t& reach);

} // namespace browser::detail
