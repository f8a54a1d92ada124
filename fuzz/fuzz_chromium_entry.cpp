// libFuzzer target: any bytes as a Chromium Simple Cache stream file, and the same bytes as
// the sparse file of the key found in them. Neither parser may crash or read outside the file,
// and the ranges they return must lie inside it.
#include "cache/browser/entry.h"
#include "platform/base/endian.h"

#include <cstdint>
#include <cstdlib>

namespace {

void CheckInside(const std::vector<browser::BodySegment>& segments, std::size_t size) {
    for (const auto& s : segments)
        if (s.offset > size || s.length > size - s.offset)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace browser::detail;
    const MemorySource file({data, size});
    ParsedEntry e;
    if (ParseChromiumEntry(file, "c", e) == ParseError::None)
        CheckInside(e.body, size);
    // What a deleted entry read back from a disk image must pass: read whole, every check.
    if (formats::SimpleEntry whole; formats::ParseSimpleEntryFile(file, whole) == ParseError::None)
        (void)formats::SimpleChecksHold(file, whole, size >= 8 ? platform::LoadLE64(data) : 0);
    // The sparse layout shares the header; the key the stream file holds (or none) is used.
    std::vector<browser::BodySegment> joined;
    std::uint64_t reach = 0;
    if (ParseChromiumSparse(file, "s", e.key, joined, reach) == ParseError::None) {
        CheckInside(joined, size);
        std::uint64_t total = 0;
        for (const auto& s : joined)
            total += s.length;
        if (total != reach)
            std::abort();
    }
    return 0;
}
