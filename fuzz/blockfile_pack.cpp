// Packs a blockfile cache folder into one fuzzer input (see blockfile_pack.h), for seeding the
// corpus from real caches at run time. Only the first KiB of each f_ file's bytes is kept (the
// reader looks no further), but its size is kept whole; the index's table is folded to the
// length the fuzzer reads.
// Usage: blockfile_pack <cache folder> <output file>
#include "blockfile_pack.h"
#include "platform/base/endian.h"

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

std::uint32_t Get(const std::string& in, std::size_t at) {
    return platform::ByteReader(in).u32(at);
}

// The index with its hash table folded to the fuzzer's length: bucket b goes to
// b mod that length, where an entry whose key hash put it in b still belongs. A chain that
// lands on a bucket already taken is left out (said on the error output); the real caches
// hold a few dozen chains, which seldom meet.
std::string FoldIndex(const std::string& index) {
    using blockfile_pack::kIndexHeaderSize, blockfile_pack::kMaxTableLength;
    if (index.size() < kIndexHeaderSize)
        return index;
    std::uint32_t length = Get(index, blockfile_pack::kTableLengthAt);
    if (length == 0)
        length = 0x10000; // what the reader takes 0 for
    if (length <= kMaxTableLength || (length & (length - 1)) != 0 ||
        index.size() - kIndexHeaderSize < std::uint64_t{length} * 4)
        return index;
    std::string folded = index.substr(0, kIndexHeaderSize);
    for (std::size_t i = 0; i < 4; ++i)
        folded[blockfile_pack::kTableLengthAt + i] = static_cast<char>(kMaxTableLength >> (8 * i));
    std::string table(std::size_t{kMaxTableLength} * 4, '\0');
    unsigned dropped = 0;
    for (std::uint32_t bucket = 0; bucket < length; ++bucket) {
        const std::uint32_t head = Get(index, kIndexHeaderSize + std::size_t{bucket} * 4);
        const std::size_t to = std::size_t{bucket % kMaxTableLength} * 4;
        if (head == 0)
            continue;
        if (Get(table, to) != 0) {
            ++dropped;
            continue;
        }
        table.replace(to, 4, index, kIndexHeaderSize + std::size_t{bucket} * 4, 4);
    }
    if (dropped != 0)
        std::fprintf(stderr, "blockfile_pack: %u chains left out in folding the table\n", dropped);
    return folded + table;
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
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        if (id == 0)
            bytes = FoldIndex(bytes);
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
