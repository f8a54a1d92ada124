#include "cache/formats/http.h"

#include "platform/base/endian.h"

#include <algorithm>
#include <limits>

namespace formats {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool IsWebUrl(std::string_view url) {
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
    text = Trim(text);
    if (text.empty() || text.size() > 19)
        return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return v;
}

void ResponseHead::add(std::string_view name, std::string_view value) {
    const std::size_t at = text_.size();
    text_.append(name).append(value);
    fields_.push_back({at, name.size(), at + name.size(), value.size()});
}

std::optional<std::string_view> ResponseHead::get(std::string_view name) const {
    const std::string_view text(text_);
    for (const Field& f : fields_)
        if (f.nameSize == name.size() && EqualsNoCase(text.substr(f.nameAt, f.nameSize), name))
            return text.substr(f.valueAt, f.valueSize);
    return std::nullopt;
}

std::optional<ResponseHead> ParseResponseHead(std::string_view text, char separator) {
    ResponseHead head;
    // The fields point into a copy of the text, taken whole.
    head.text_.assign(text);
    const std::string_view all(head.text_);
    text = all;
    head.fields_.reserve(platform::CountByte(text, separator));
    bool first = true;
    while (!text.empty()) {
        std::size_t end = text.find(separator);
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            first = false;
            // "HTTP/1.1 200 OK", "HTTP/2 200"
            if (!line.starts_with("HTTP/"))
                return std::nullopt;
            const std::size_t space = line.find(' ');
            if (space == std::string_view::npos)
                return std::nullopt;
            std::string_view code = line.substr(space + 1);
            code = code.substr(0, code.find(' '));
            const auto status = ParseDecimal(code);
            if (!status || code.size() != 3)
                return std::nullopt;
            head.status = static_cast<int>(*status);
            continue;
        }
        if (line.empty()) {
            if (separator == '\0')
                break; // "\0\0" ends Chromium's raw headers
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue;
        const std::string_view name = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        head.fields_.push_back({static_cast<std::size_t>(name.data() - all.data()), name.size(),
                                static_cast<std::size_t>(value.data() - all.data()), value.size()});
    }
    if (first)
        return std::nullopt;
    return head;
}

std::vector<std::string> ParseContentEncoding(std::string_view value) {
    std::vector<std::string> codings;
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        std::string_view token = Trim(value.substr(0, comma));
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        if (token.empty() || EqualsNoCase(token, "identity"))
            continue;
        std::string lower;
        for (char c : token)
            lower.push_back(platform::AsciiLower(c));
        codings.push_back(std::move(lower));
    }
    return codings;
}

bool IsKnownCoding(std::string_view coding) {
    return coding == "gzip" || coding == "x-gzip" || coding == "deflate" || coding == "br" ||
           coding == "zstd";
}

std::optional<ContentRange> ParseContentRange(std::string_view value) {
    // bytes first-last/total
    value = Trim(value);
    if (!StartsWithNoCase(value, "bytes"))
        return std::nullopt;
    value = Trim(value.substr(5));
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const auto first = ParseDecimal(value.substr(0, dash));
    const auto last = ParseDecimal(value.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first)
        return std::nullopt;
    ContentRange r;
    r.first = *first;
    r.last = *last;
    const std::string_view total = Trim(value.substr(slash + 1));
    if (total != "*") {
        const auto t = ParseDecimal(total);
        if (!t || *t <= *last)
            return std::nullopt;
        r.total = *t;
    }
    return r;
}

// The raw headers of an HttpResponseInfo pickle: "HTTP/1.1 200 OK\0Name: value\0...\0\0".
ResponseInfo ParseResponseInfo(std::string_view info) {
    using namespace response_info;
    ResponseInfo out;
    std::string_view headers;
    if (info.size() >= kPayloadAt + kFlagsSize) {
        const std::uint64_t payload = platform::ByteReader(info).u32(kPayloadLengthAt);
        const std::string_view p = info.substr(
            kPayloadAt,
            static_cast<std::size_t>(std::min<std::uint64_t>(payload, info.size() - kPayloadAt)));
        const platform::ByteReader r(p);
        const std::uint32_t flags = r.u32(kFlagsAt);
        out.truncated = (flags & kFlagTruncated) != 0;
        std::uint64_t at = kFlagsAt + kFlagsSize;
        std::uint32_t extra = 0;
        if ((flags & kHasExtraFlags) && r.has(at, kExtraFlagsSize)) {
            extra = r.u32(kExtraFlagsAt);
            at += kExtraFlagsSize;
        }
        if (r.has(at, kTimesSize)) {
            out.responseTime = r.i64(at + kResponseTimeAt);
            at += kTimesSize;
            if (extra & kExtraHasOriginalResponseTime)
                at += kOriginalResponseTimeSize;
            if (r.has(at, kHeadersLengthSize)) {
                const std::uint64_t len = r.u32(at);
                if (len <= p.size() - at - kHeadersLengthSize)
                    headers = p.substr(static_cast<std::size_t>(at + kHeadersLengthSize),
                                       static_cast<std::size_t>(len));
            }
        }
    }
    if (!headers.starts_with("HTTP/")) {
        const std::size_t start = info.find("HTTP/");
        if (start == std::string_view::npos)
            return out;
        headers = info.substr(start);
        const std::size_t end = headers.find(std::string_view("\0\0", 2));
        headers = headers.substr(0, end == std::string_view::npos ? headers.size() : end + 2);
    }
    out.head = ParseResponseHead(headers, '\0');
    return out;
}

} // namespace formats
