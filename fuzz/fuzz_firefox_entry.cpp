// libFuzzer target: any bytes as a Firefox cache2 entry file. The parser must neither crash
// nor read outside the file, and what it returns must stay inside the file and make a safe name.
#include "cache/browser/entry.h"
#include "cache/browser/media.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const browser::detail::MemorySource file({data, size});
    // What a deleted entry read back from a disk image must pass: read whole, every hash.
    if (formats::FirefoxEntry whole;
        formats::ParseFirefoxFile(file, whole) == formats::ParseError::None)
        (void)formats::FirefoxHashesHold(file, whole);
    browser::detail::ParsedEntry e;
    if (browser::detail::ParseFirefoxEntry(file, "f", e) != browser::detail::ParseError::None)
        return 0;
    std::uint64_t total = 0;
    for (const auto& s : e.body) {
        if (s.offset > size || s.length > size - s.offset)
            std::abort();
        total += s.length;
    }
    if (total != e.storedSize)
        std::abort();
    const std::string name =
        browser::detail::MakeFileName(e.url, browser::detail::Sniff(e.firstBytes, ""), "F");
    if (name.empty() || name.size() > 255 || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || name == "." || name == "..")
        std::abort();
    return 0;
}
