// What the filters, the sort, the hashes and the report know about one found file, apart
// from where it came from: a WinINet row, a browser row, or a test's own table.
#pragma once

#include "cache/scan/found_file_list.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

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

} // namespace cli
