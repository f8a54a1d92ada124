// libFuzzer target: the content decoders. The first byte picks a chain of codings, the rest
// is the stored body. Decoding must end (with bytes or an error), never pass the cap, and
// never crash.
#include "cache/browser/decode.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const char* const kCodings[] = {"gzip", "deflate", "br", "zstd"};
    std::vector<std::string> codings;
    // Two bits per coding, up to three codings; 0b11 in the top bits means "one coding only".
    const unsigned pick = data[0];
    codings.push_back(kCodings[pick & 3]);
    if ((pick >> 6) != 3) {
        codings.push_back(kCodings[(pick >> 2) & 3]);
        if (pick & 0x80)
            codings.push_back(kCodings[(pick >> 4) & 3]);
    }
    constexpr std::uint64_t kCap = 1 << 20;
    auto stream =
        browser::detail::DecodeStream(browser::detail::MemoryStream(std::string_view(
                                          reinterpret_cast<const char*>(data + 1), size - 1)),
                                      codings, kCap);
    char buffer[4096];
    std::uint64_t total = 0;
    for (;;) {
        const auto got = stream->read(buffer, sizeof buffer);
        if (got < 0) {
            if (stream->error().empty())
                std::abort();
            break;
        }
        if (got == 0)
            break;
        total += static_cast<std::uint64_t>(got);
        if (total > kCap)
            std::abort();
    }
    return 0;
}
