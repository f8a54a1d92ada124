// libFuzzer target: any bytes as a cache index. The reader must neither crash, hang nor
// read outside the buffer, and every entry it returns must be safe to build a path from.
#include "platform/urlcache/index_reader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto contents = platform::urlcache::ReadIndex(std::span<const std::uint8_t>(data, size));
    for (const auto& e : contents.entries) {
        if (e.fileName && platform::urlcache::IsUnsafeName(*e.fileName))
            std::abort();
        if (e.directory && e.directory->size() != 8)
            std::abort();
    }
    return 0;
}
