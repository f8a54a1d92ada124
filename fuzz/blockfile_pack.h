// A whole blockfile cache as one fuzzer input, small enough to mutate: sections of
//   u8 file (0 index, 1-8 data_0..data_7, 9-255 f_000001..), u32 size, u16 chunk count,
//   chunks of u32 offset, u16 length, bytes
// (little-endian); a file is zeros but for its chunks. Real caches are mostly zeros (the
// index's empty buckets, unused blocks), which is what makes them fit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>

namespace blockfile_pack {

// Larger than the index of any real cache, small enough for the fuzzer's memory limit.
inline constexpr std::uint32_t kMaxFileSize = 8u << 20;

inline std::string FileName(std::uint8_t id) {
    if (id == 0)
        return "index";
    if (id <= 8)
        return "data_" + std::to_string(id - 1);
    char name[16];
    std::snprintf(name, sizeof name, "f_%06x", static_cast<unsigned>(id - 8));
    return name;
}

inline std::map<std::string, std::string> Unpack(std::span<const std::uint8_t> in) {
    std::map<std::string, std::string> files;
    std::size_t at = 0;
    const auto take = [&](std::size_t n, std::uint32_t& v) {
        if (in.size() - at < n)
            return false;
        v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= std::uint32_t{in[at + i]} << (8 * i);
        at += n;
        return true;
    };
    std::uint32_t id = 0, size = 0, chunks = 0;
    while (take(1, id) && take(4, size) && take(2, chunks)) {
        std::string& file = files[FileName(static_cast<std::uint8_t>(id))];
        file.assign(size % (kMaxFileSize + 1), '\0');
        for (std::uint32_t c = 0, offset = 0, length = 0; c < chunks; ++c) {
            if (!take(4, offset) || !take(2, length) || in.size() - at < length)
                return files;
            for (std::uint64_t i = 0; i < length && std::uint64_t{offset} + i < file.size(); ++i)
                file[offset + i] = static_cast<char>(in[at + i]);
            at += length;
        }
    }
    return files;
}

} // namespace blockfile_pack
