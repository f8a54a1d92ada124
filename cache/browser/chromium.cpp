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

std::unordered_map<std::uint64_t, std::int64_t> ReadSimpleIndexLastUsed(const Source& index) {
    std::unordered_map<std::uint64_t, std::int64_t> times;
    formats::SimpleIndex parsed;
    if (!formats::ParseSimpleIndex(index, parsed))
        return times;
    times.reserve(parsed.entries.size());
    for (const formats::SimpleIndexEntry& entry : parsed.entries)
        if (const auto t = platform::UnixSecondsFromMicrosSince1601(entry.lastUsed))
            times[entry.hash] = *t;
    return times;
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
