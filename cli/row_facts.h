// What the filters, the sort, the hashes and the report know about one found file, apart
// from where it came from: a WinINet row, a browser row, or a test's own table.
#pragma once

#include "cache/scan/found_file_list.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

struct RowFacts {
    std::string url;
    std::string fileName;
    std::string path;
    std::string source;                   // which browser and profile; empty when not known
    std::optional<std::uint64_t> size;    // decoded bytes; nothing when the row has no size
    std::optional<std::int64_t> cached;   // when the response was stored, seconds since 1970 UTC
    std::optional<std::int64_t> lastUsed; // when the entry was last used, likewise
    std::string contentType;              // MIME type of the file name's (sniffed) extension
    std::optional<std::string> sha256;    // lower-case hex of the decoded body, when hashed
};

RowFacts FactsOf(const cache::FoundFile& row);

// The MIME type for a file name by its extension (case-insensitive);
// "application/octet-stream" for one this program does not list.
std::string ContentTypeFor(std::string_view fileName);
// True for the extensions of video files.
bool IsVideoName(std::string_view fileName);

// 2026-01-31T12:00:00Z.
std::string IsoUtc(std::int64_t secondsSince1970);

} // namespace app
