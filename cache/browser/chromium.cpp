#include "cache/browser/entry.h"
#include "cache/formats/simple.h"
#include "platform/base/unix_time.h"

#include <algorithm>

namespace browser::detail {

void ParseChromiumResponseInfo(std::string_view info, ParsedEntry& out) {
    ResponseInfo parsed = ParseResponseInfo(info);
    out.truncated = parsed.truncated;
    if (const auto t = platform::UnixSecondsFromMicrosSince1601(parsed.responseTime))
        out.cached = t;
    out.head = std::move(parsed.head);
}

LastUsedTimes::LastUsedTimes(std::vector<std::pair<std::uint64_t, std::int64_t>> byHash) {
    std::stable_sort(byHash.begin(), byHash.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    times_.reserve(byHash.size());
    for (const auto& t : byHash) {
        if (!times_.empty() && times_.back().first == t.first)
            times_.back().second = t.second;
        else
            times_.push_back(t);
    }
}

std::optional<std::int64_t> LastUsedTimes::find(std::uint64_t hash) const {
    const auto at = std::lower_bound(times_.begin(), times_.end(), hash,
                                     [](const auto& t, std::uint64_t h) { return t.first < h; });
    if (at == times_.end() || at->first != hash)
        return std::nullopt;
    return at->second;
}

LastUsedTimes ReadSimpleIndexLastUsed(const Source& index) {
    formats::SimpleIndex parsed;
    if (!formats::ParseSimpleIndex(index, parsed))
        return {};
    std::vector<std::pair<std::uint64_t, std::int64_t>> times;
    times.reserve(parsed.entries.size());
    for (const formats::SimpleIndexEntry& entry : parsed.entries)
        if (const auto t = platform::UnixSecondsFromMicrosSince1601(entry.lastUsed))
            times.emplace_back(entry.hash, *t);
    return LastUsedTimes(std::move(times));
}

ParseError ParseChromiumEntry(const Source& file, const std::string& path, ParsedEntry& out) {
    formats::SimpleEntry entry;
    if (const ParseError e = formats::ParseSimpleEntryFile(file, entry); e != ParseError::None)
        return e;
    out.key = std::move(entry.key);
    out.url = ChromiumKeyUrl(out.key);
    ParseChromiumResponseInfo(entry.responseInfo, out);
    out.storedSize = entry.bodySize;
    if (out.storedSize > 0)
        out.body.push_back(Segment(path, entry.bodyAt, out.storedSize));
    out.firstBytes = std::move(entry.firstBytes);
    out.lastBytes = std::move(entry.lastBytes);
    return ParseError::None;
}

ParseError ParseChromiumSparse(const Source& file, const std::string& path, std::string_view key,
                               std::vector<BodySegment>& joined, std::uint64_t& reach) {
    joined.clear();
    reach = 0;
    std::vector<formats::SimpleSparseRange> ranges;
    if (const ParseError e = formats::ParseSimpleSparseFile(file, key, ranges);
        e != ParseError::None)
        return e;
    std::sort(ranges.begin(), ranges.end(),
              [](const auto& a, const auto& b) { return a.offset < b.offset; });
    for (const formats::SimpleSparseRange& r : ranges) {
        if (r.offset > reach)
            break; // a gap: the body is known only up to here
        const std::uint64_t end = r.offset + r.length;
        if (end <= reach)
            continue;
        const std::uint64_t skip = reach - r.offset;
        joined.push_back(Segment(path, r.fileOffset + skip, r.length - skip));
        reach = end;
    }
    return ParseError::None;
}

} // namespace browser::detail
