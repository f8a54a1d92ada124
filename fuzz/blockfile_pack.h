// A whole blockfile cache as one fuzzer input, small enough to mutate: sections of
//   u8 file (0 index, 1-8 data_0..data_7, 9-255 f_000001..), u32 size, u16 chunk count,
//   chunks of u32 offset, u16 length, bytes
// (little-endian); a file is zeros but for its chunks, a later chunk over an earlier one, and
// a later section of the same file replaces the earlier one. Real caches are mostly zeros
// (the index's empty buckets, unused blocks), which is what makes them fit. The files are
// never spelt out in memory: a read fills zeros and copies the chunks it meets, so that a
// file of megabytes costs an input nothing but its chunks.
#pragma once

#include "platform/base/endian.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace blockfile_pack {

// Larger than the index of any real cache, small enough for the fuzzer's memory limit.
inline constexpr std::uint32_t kMaxFileSize = 8u << 20;

// The most hash buckets an input's index gets. Chromium's tables have 65,536 buckets or more,
// but walking that many costs more than everything else an input does, and what the reader
// does with one bucket does not depend on how many there are: the fuzzer reads the length the
// index gives when it is at most this, else this, and packing folds a real table to it.
inline constexpr std::uint32_t kMaxTableLength = 256;
inline constexpr std::uint64_t kTableLengthAt = 28; // in the index's header
inline constexpr std::uint64_t kIndexHeaderSize = 368;

inline std::string FileName(std::uint8_t id) {
    if (id == 0)
        return "index";
    if (id <= 8)
        return "data_" + std::to_string(id - 1);
    char name[16];
    std::snprintf(name, sizeof name, "f_%06x", static_cast<unsigned>(id - 8));
    return name;
}

struct Chunk {
    std::uint64_t offset = 0;
    std::span<const std::uint8_t> bytes; // within the file: cut at its end
};

struct PackedFile {
    std::uint64_t size = 0;
    std::vector<Chunk> chunks; // in input order: a later one wins where they overlap

    // Exactly n bytes at offset, as the file holds them; false past its end.
    bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) const {
        if (offset > size || n > size - offset)
            return false;
        std::fill_n(out, n, std::uint8_t{0});
        for (const Chunk& c : chunks) {
            const std::uint64_t from = std::max(offset, c.offset);
            const std::uint64_t to = std::min(offset + n, c.offset + c.bytes.size());
            if (from < to)
                std::copy_n(c.bytes.data() + (from - c.offset), to - from, out + (from - offset));
        }
        return true;
    }
};

// The files of an input, by name; their chunks point into the input.
inline std::map<std::string, PackedFile> Unpack(std::span<const std::uint8_t> in) {
    std::map<std::string, PackedFile> files;
    std::size_t at = 0;
    const platform::ByteReader r(in);
    const auto take = [&](std::size_t n, std::uint32_t& v) {
        if (in.size() - at < n)
            return false;
        v = n == 1 ? r.u8(at) : n == 2 ? r.u16(at) : r.u32(at);
        at += n;
        return true;
    };
    std::uint32_t id = 0, size = 0, chunks = 0;
    while (take(1, id) && take(4, size) && take(2, chunks)) {
        PackedFile& file = files[FileName(static_cast<std::uint8_t>(id))];
        file = {size % (kMaxFileSize + 1), {}};
        for (std::uint32_t c = 0, offset = 0, length = 0; c < chunks; ++c) {
            if (!take(4, offset) || !take(2, length) || in.size() - at < length)
                return files;
            if (offset < file.size)
                file.chunks.push_back(
                    {offset, in.subspan(at, std::min<std::uint64_t>(length, file.size - offset))});
            at += length;
        }
    }
    return files;
}

} // namespace blockfile_pack
