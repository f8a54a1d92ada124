#include "cache/formats/firefox.h"
#include "cache/browser/entry.h"
#include "cache/formats/firefox_layout.h"

namespace browser::detail {

ParseError ParseFirefoxEntry(const Source& file, const std::string& path, ParsedEntry& out) {
    formats::FirefoxEntry entry;
    if (const ParseError e = formats::ParseFirefoxFile(file, entry); e != ParseError::None)
        return e;
    out.key = std::move(entry.key);
    out.url = FirefoxKeyUrl(out.key);
    // Last fetched is when the entry was last read; last modified when it was last written,
    // that is when the response was stored. Zero: never set.
    if (entry.header.lastFetched != 0)
        out.lastUsed = entry.header.lastFetched;
    if (entry.header.lastModified != 0)
        out.cached = entry.header.lastModified;
    if (const auto head = entry.element(formats::firefox::kElementResponseHead))
        out.head = ParseResponseHead(*head, '\n');
    out.storedSize = entry.bodyEnd;
    if (entry.bodyEnd > 0)
        out.body.push_back(Segment(path, 0, entry.bodyEnd));
    out.firstBytes = std::move(entry.firstBytes);
    out.lastBytes = std::move(entry.lastBytes);
    return ParseError::None;
}

} // namespace browser::detail
