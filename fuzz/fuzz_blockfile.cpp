// libFuzzer target: any bytes as a whole Chromium blockfile cache (index, block files and
// f_ files, packed as blockfile_pack.h describes). The reader may not crash, loop or read
// outside a file, every body segment it returns must lie inside the file it names, and
// reading the table in three shares must give the entries one pass gives.
#include "blockfile_pack.h"
#include "cache/browser/blockfile.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// What is compared between one pass and shares: each entry's place, state and what it holds.
std::string Describe(const browser::detail::BlockfileEntry& e) {
    std::string d = std::to_string(e.address) + " " + std::to_string(e.state) + " " +
                    std::to_string(e.readable) + " " + e.parsed.key + " " +
                    std::to_string(e.parsed.storedSize) + " " + e.bodyFile;
    for (const auto& s : e.parsed.body)
        d += " " + s.file + "@" + std::to_string(s.offset) + "+" + std::to_string(s.length);
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    browser::detail::BlockfileMemory files;
    files.files = blockfile_pack::Unpack({data, size});
    const auto contents = browser::detail::ReadBlockfile(files);
    for (const auto& entry : contents.entries) {
        for (const auto& s : entry.parsed.body) {
            const auto f = files.files.find(s.file);
            if (f == files.files.end() || s.offset > f->second.size() ||
                s.length > f->second.size() - s.offset)
                std::abort();
        }
    }
    // Three shares, one after the other, each with files of its own.
    constexpr unsigned kShares = 3;
    browser::detail::BlockfileReading reading(kShares);
    std::vector<std::string> shared;
    const std::function<void(browser::detail::BlockfileEntry&)> keep =
        [&](browser::detail::BlockfileEntry& e) { shared.push_back(Describe(e)); };
    for (unsigned i = 0; i < kShares; ++i) {
        browser::detail::BlockfileMemory own;
        own.files = files.files;
        reading.read(i, own, keep);
    }
    const auto rest = reading.finish(keep);
    if (shared.size() != contents.entries.size() || rest.readable != contents.readable)
        std::abort();
    for (std::size_t i = 0; i < shared.size(); ++i)
        if (shared[i] != Describe(contents.entries[i]))
            std::abort();
    return 0;
}
