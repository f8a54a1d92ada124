#include "cli/row_facts.h"

#include "cache/scan/file_types.h"

#include <charconv>

namespace cli {
namespace {

// The size column's digits, up to the largest 64-bit size; nothing for any other text (the
// row's size step failed and was reported).
std::optional<std::uint64_t> SizeOf(const std::string& text) {
    std::uint64_t n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return n;
}

} // namespace

RowFacts FactsOf(const cache::FoundFile& row) {
    RowFacts f;
    f.url = row.url;
    f.fileName = row.fileName;
    f.path = row.path;
    f.source = row.source;
    f.size = SizeOf(row.size);
    f.cached = row.cached;
    f.lastUsed = row.lastUsed;
    f.contentType = cache::ContentTypeFor(row.fileName);
    return f;
}

} // namespace cli
