// Integers out of untrusted bytes: the one reader every file format the program parses goes
// through. Little-endian unless the name says big (be16, LoadBE32...): Firefox's cache2 and
// the ISO media boxes store big-endian integers, everything else little-endian.
//
// ByteReader never reads outside its span: a field that does not fit reads as 0, and has()
// tells a caller that must know. The Load* functions are for positions the caller has
// already checked.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace platform {

constexpr std::uint16_t LoadLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
constexpr std::uint32_t LoadLE32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
constexpr std::uint64_t LoadLE64(const std::uint8_t* p) {
    return std::uint64_t{LoadLE32(p)} | std::uint64_t{LoadLE32(p + 4)} << 32;
}

constexpr std::uint16_t LoadBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
constexpr std::uint32_t LoadBE32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}
constexpr std::uint64_t LoadBE64(const std::uint8_t* p) {
    return std::uint64_t{LoadBE32(p)} << 32 | std::uint64_t{LoadBE32(p + 4)};
}

// The one writer, for the few bytes a check sum is computed over.
constexpr void StoreBE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

class ByteReader {
  public:
    constexpr ByteReader() = default;
    constexpr explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    // Text read as bytes (a buffer a file was read into).
    explicit ByteReader(std::string_view bytes)
        : bytes_(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) {}

    constexpr std::span<const std::uint8_t> bytes() const { return bytes_; }
    constexpr std::uint64_t size() const { return bytes_.size(); }

    // True when [offset, offset + length) lies inside the bytes; never overflows.
    constexpr bool has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }

    constexpr std::uint8_t u8(std::uint64_t offset) const {
        return has(offset, 1) ? bytes_[static_cast<std::size_t>(offset)] : 0;
    }
    constexpr std::uint16_t u16(std::uint64_t offset) const {
        return has(offset, 2) ? LoadLE16(at(offset)) : 0;
    }
    constexpr std::uint32_t u32(std::uint64_t offset) const {
        return has(offset, 4) ? LoadLE32(at(offset)) : 0;
    }
    constexpr std::uint64_t u64(std::uint64_t offset) const {
        return has(offset, 8) ? LoadLE64(at(offset)) : 0;
    }
    constexpr std::int16_t i16(std::uint64_t offset) const {
        return static_cast<std::int16_t>(u16(offset));
    }
    constexpr std::int32_t i32(std::uint64_t offset) const {
        return static_cast<std::int32_t>(u32(offset));
    }
    constexpr std::int64_t i64(std::uint64_t offset) const {
        return static_cast<std::int64_t>(u64(offset));
    }
    // An IEEE 754 double stored as its eight bytes (0.0 when they do not fit).
    constexpr double f64(std::uint64_t offset) const { return std::bit_cast<double>(u64(offset)); }

    constexpr std::uint16_t be16(std::uint64_t offset) const {
        return has(offset, 2) ? LoadBE16(at(offset)) : 0;
    }
    constexpr std::uint32_t be32(std::uint64_t offset) const {
        return has(offset, 4) ? LoadBE32(at(offset)) : 0;
    }
    constexpr std::uint64_t be64(std::uint64_t offset) const {
        return has(offset, 8) ? LoadBE64(at(offset)) : 0;
    }

    // The bytes [offset, offset + length), or an empty span when they do not all fit.
    constexpr std::span<const std::uint8_t> slice(std::uint64_t offset,
                                                  std::uint64_t length) const {
        if (!has(offset, length))
            return {};
        return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    }

    // The same bytes as text (for signatures and stored strings).
    std::string_view text(std::uint64_t offset, std::uint64_t length) const {
        const auto s = slice(offset, length);
        return {reinterpret_cast<const char*>(s.data()), s.size()};
    }

  private:
    constexpr const std::uint8_t* at(std::uint64_t offset) const {
        return bytes_.data() + static_cast<std::size_t>(offset);
    }

    std::span<const std::uint8_t> bytes_;
};

// The name the little-endian formats' readers have always used.
using LittleEndianReader = ByteReader;

} // namespace platform
