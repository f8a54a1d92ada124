// libFuzzer target: any bytes as a whole Chromium blockfile cache (index, block files and
// f_ files, packed as blockfile_pack.h describes). The reader may not crash, loop or read
// outside a file, and every body segment it returns must lie inside the file it names.
#include "blockfile_pack.h"
#include "cache/browser/blockfile.h"

#include <cstdint>
#include <cstdlib>

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
    return 0;
}
