// The pieces of an HTTP response the readers need: status, headers, codings, ranges, and the
// response info every Chromium back-end stores.
#pragma once

#include "platform/base/ascii.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace formats {

// A response's status and headers. The headers' text is kept in one piece, each field found
// by where it is in it: a head is parsed for every cache entry, and a string per name and
// value cost more than the rest of the parse.
class ResponseHead {
  public:
    int status = 0;
    // Adds a header at the end (names as sent).
    void add(std::string_view name, std::string_view value);
    // The value of the first header of that name (case-insensitive), or nothing.
    std::optional<std::string_view> get(std::string_view name) const;
    std::size_t count() const { return fields_.size(); }

  private:
    friend std::optional<ResponseHead> ParseResponseHead(std::string_view, char);
    struct Field {
        std::size_t nameAt, nameSize, valueAt, valueSize; // in text_
    };
    std::string text_;
    std::vector<Field> fields_;
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

// The response info every Chromium back-end stores, as laid out (little-endian): the pickle's
// payload length, then the payload.
namespace response_info {
inline constexpr std::uint64_t kPayloadLengthAt = 0; // u32
inline constexpr std::uint64_t kPayloadAt = 4;
// In the payload: flags, then the extra flags when kHasExtraFlags says so, then the times.
inline constexpr std::uint64_t kFlagsAt = 0; // u32
inline constexpr std::uint64_t kFlagsSize = 4;
inline constexpr std::uint64_t kExtraFlagsAt = 4; // u32, only with kHasExtraFlags
inline constexpr std::uint64_t kExtraFlagsSize = 4;
inline constexpr std::uint64_t kRequestTimeAt = 0; // int64 after the flags, microseconds since 1601
inline constexpr std::uint64_t kResponseTimeAt = 8; // int64 after the flags
inline constexpr std::uint64_t kTimesSize = 16;
inline constexpr std::uint64_t kOriginalResponseTimeSize = 8; // int64, with its extra flag
inline constexpr std::uint64_t kHeadersLengthSize = 4;        // u32, then the raw headers
inline constexpr std::uint32_t kFlagTruncated = 1u << 12;
inline constexpr std::uint32_t kHasExtraFlags = 1u << 31;
inline constexpr std::uint32_t kExtraHasOriginalResponseTime = 1u << 2;
} // namespace response_info

// What the response info every Chromium back-end stores says (a u32 length, then the
// HttpResponseInfo pickle: flags, [extra flags], request time, response time, [original
// response time], the raw headers).
struct ResponseInfo {
    std::optional<ResponseHead> head;
    bool truncated = false; // the browser marked the body incomplete
    // When the response arrived and was stored, in microseconds since 1601 as stored; 0: unread.
    std::int64_t responseTime = 0;
};
// Read by the pickle's fields; when they do not add up (an older or newer layout), the
// status line is searched for instead.
ResponseInfo ParseResponseInfo(std::string_view info);

using platform::EqualsNoCase;
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
std::string_view Trim(std::string_view text);
// http:// or https:// (any case).
bool IsWebUrl(std::string_view url);

} // namespace formats
