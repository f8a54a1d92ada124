// The pieces of an HTTP response the readers need: status, headers, codings, ranges.
#pragma once

#include "platform/base/ascii.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace browser::detail {

struct ResponseHead {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers; // names as sent
    // The value of the first header of that name (case-insensitive), or nothing.
    std::optional<std::string_view> get(std::string_view name) const;
};

// A status line followed by "Name: value" lines, separated by `separator` ('\n' also ends a
// line for "\r\n" heads). Nothing when the first line is not an HTTP status line.
std::optional<ResponseHead> ParseResponseHead(std::string_view text, char separator);

// The codings of a Content-Encoding value, lower case, in the order applied; "identity" and
// empty tokens dropped.
std::vector<std::string> ParseContentEncoding(std::string_view value);
// True for a coding OpenDecodedBody can undo.
bool IsKnownCoding(std::string_view coding);

struct ContentRange {
    std::uint64_t first = 0, last = 0;
    std::optional<std::uint64_t> total; // nothing for "*"
};
std::optional<ContentRange> ParseContentRange(std::string_view value);
std::optional<std::uint64_t> ParseDecimal(std::string_view text);

using platform::EqualsNoCase;
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
std::string_view Trim(std::string_view text);
// http:// or https:// (any case).
bool IsWebUrl(std::string_view url);

} // namespace browser::detail
