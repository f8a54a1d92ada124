// libFuzzer target: any bytes as one WebKit NetworkCache record and its blob. The input is
// the cache's 8-byte salt, the record's length (u32, little-endian), the record file, then the
// blob: the rest (none when the input ends with the record). A changed record rarely gets past
// its check sum and header hash, so the rest is also read as a stored response on its own
// (seeded with the record's header when its body is inline). The parser must neither crash nor
// read outside the bytes, and what it accepts must be consistent: the header and inline body
// inside the file and filling it, text that is UTF-8, counts within their caps, and the body
// check the same whether it reads the body at once or piece by piece.
#include "cache/formats/webkit.h"
#include "platform/base/endian.h"
#include "platform/base/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

void CheckUtf8(const std::string& text) {
    std::string again;
    for (const char32_t c : platform::DecodeUtf8(text))
        platform::AppendUtf8(again, c);
    if (again != text)
        std::abort();
}

void CheckResponse(const formats::WebKitParsed<formats::WebKitResponse>& response,
                   std::uint32_t version) {
    if (response.value.has_value() == static_cast<bool>(response.failure) ||
        response.failure.text.empty() == static_cast<bool>(response.failure))
        std::abort();
    if (!response.value)
        return;
    const formats::WebKitResponse& r = *response.value;
    if (r.headerFields.size() > formats::webkit::kMaxHeaderFields ||
        r.statusCode.has_value() != (version == formats::webkit::kStatusCodeI16Version))
        std::abort();
    for (const std::string* s :
         {&r.url, &r.mimeType, &r.textEncoding, &r.statusText, &r.httpVersion})
        CheckUtf8(*s);
    for (const auto& [name, value] : r.headerFields) {
        CheckUtf8(name);
        CheckUtf8(value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace formats;
    const platform::LittleEndianReader input({data, size});
    const auto salt = ParseWebKitSalt(input.slice(0, webkit::kSaltSize));
    if (!salt.value || !input.has(webkit::kSaltSize, 4))
        return 0;
    const std::uint64_t recordSize = input.u32(webkit::kSaltSize);
    const std::uint64_t recordAt = webkit::kSaltSize + 4;
    if (!input.has(recordAt, recordSize))
        return 0;
    const WebKitBytes file = input.slice(recordAt, recordSize);
    std::optional<WebKitBytes> blob;
    if (recordAt + recordSize < size)
        blob = input.slice(recordAt + recordSize, size - recordAt - recordSize);

    if (blob)
        for (const std::uint32_t version : {webkit::kVersion17, webkit::kVersion14})
            CheckResponse(ParseWebKitResponse(*blob, version), version);

    const auto parsed = ParseWebKitRecord(file, webkit::kVersion17, *salt.value);
    if (parsed.value.has_value() == static_cast<bool>(parsed.failure) ||
        parsed.failure.text.empty() == static_cast<bool>(parsed.failure))
        std::abort();
    if (!parsed.value)
        return 0;
    const WebKitRecord& r = *parsed.value;
    const WebKitRecordMeta& m = r.meta;
    if (r.headerOffset > file.size() || m.headerSize > file.size() - r.headerOffset ||
        r.bodyOffset != r.headerOffset + m.headerSize || r.bodySize != file.size() - r.bodyOffset ||
        r.bodySize != (m.bodyInline ? m.bodySize : 0))
        std::abort();
    CheckUtf8(m.partition);
    CheckUtf8(m.type);
    CheckUtf8(m.url);
    if (m.range)
        CheckUtf8(*m.range);

    CheckResponse(ParseWebKitResponse(file.subspan(r.headerOffset, m.headerSize), m.version),
                  m.version);

    const WebKitFailure once = VerifyWebKitBody(r, file, *salt.value, blob);
    if (once.problem == WebKitProblem::BlobMissing && (m.bodyInline || blob))
        std::abort();
    if (!m.bodyInline && blob) {
        WebKitBodyCheck pieces(m, *salt.value);
        for (std::size_t at = 0; at < blob->size(); at += 4093)
            pieces.update(blob->subspan(at, std::min<std::size_t>(4093, blob->size() - at)));
        if (pieces.finish().problem != once.problem)
            std::abort();
    }
    return 0;
}
