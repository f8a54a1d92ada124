// Random access to the bytes of a cache file, as the parsers read them: a file on disk (the
// scan's), or bytes in memory (tests, fuzzing, the dump tool's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace formats {

class Source {
  public:
    virtual ~Source() = default;
    virtual std::uint64_t size() const = 0;
    // Exactly n bytes at offset; false when they are not all there (any more).
    virtual bool readAt(std::uint64_t offset, void* buffer, std::size_t n) const = 0;
};

class MemorySource final : public Source {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t n) const override;

  private:
    std::span<const std::uint8_t> bytes_;
};

// Why a record could not be parsed.
enum class ParseError { None, Damaged, UnknownVersion, Encrypted };

// A gzip member ends with its CRC-32 and ISIZE: the last bytes of a body a reader keeps when it
// has them at hand, where an encoded body may state its decoded size.
inline constexpr std::size_t kGzipTrailerBytes = 8;

} // namespace formats
