// Packs a blockfile cache folder into one fuzzer input (see blockfile_pack.h), for seeding the
// corpus from real caches at run time. Only the first KiB of each f_ file's bytes is kept (the
// reader looks no further), but its size is kept whole.
// Usage: blockfile_pack <cache folder> <output file>
#include "blockfile_pack.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

void Put(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    std::string out;
    for (unsigned id = 0; id < 256; ++id) {
        const std::string name = blockfile_pack::FileName(static_cast<std::uint8_t>(id));
        std::ifstream in(std::filesystem::path(argv[1]) / name, std::ios::binary);
        if (!in)
            continue;
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        const std::size_t keep =
            name.starts_with("f_") ? std::min<std::size_t>(bytes.size(), 1024) : bytes.size();
        // Runs of non-zero bytes, joined across short gaps, at most 65,535 bytes each.
        std::vector<std::pair<std::size_t, std::size_t>> runs;
        for (std::size_t i = 0; i < keep;) {
            if (bytes[i] == '\0') {
                ++i;
                continue;
            }
            std::size_t end = i, zeros = 0;
            for (std::size_t j = i; j < keep && j - i < 65535 && zeros < 16; ++j) {
                zeros = bytes[j] == '\0' ? zeros + 1 : 0;
                if (bytes[j] != '\0')
                    end = j + 1;
            }
            runs.emplace_back(i, end - i);
            i = end;
        }
        runs.resize(std::min<std::size_t>(runs.size(), 65535));
        Put(out, id, 1);
        Put(out, static_cast<std::uint32_t>(bytes.size()), 4);
        Put(out, static_cast<std::uint32_t>(runs.size()), 2);
        for (const auto& [offset, length] : runs) {
            Put(out, static_cast<std::uint32_t>(offset), 4);
            Put(out, static_cast<std::uint32_t>(length), 2);
            out.append(bytes, offset, length);
        }
    }
    std::ofstream(argv[2], std::ios::binary) << out;
    return out.empty() ? 1 : 0;
}
