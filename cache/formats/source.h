// Random access to the bytes of a cache file, as the parsers read them: a file on disk (the
// scan's), or bytes in memory (tests, fuzzing, the dump tool's).
#pragma once

#include <algorithm>
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

// How much of an entry file's end a reader takes in its first read. A file up to kWholeRead
// bytes is read whole. Of a larger one the tail holds the response headers and, over HTTPS,
// the certificate chain or security info, so the entries of one cache need much the same:
// the read starts at kMinTail and grows to the most any entry before it needed, up to
// kMaxTail. A reader keeps one per thread; a larger need costs one more read.
class TailRead {
  public:
    static constexpr std::size_t kWholeRead = 4096, kMinTail = 1024, kMaxTail = 16384;
    std::size_t length(std::uint64_t fileSize) const {
        return static_cast<std::size_t>(
            std::min<std::uint64_t>(fileSize, fileSize <= kWholeRead ? kWholeRead : length_));
    }
    // An entry needed its last `bytes`.
    void needed(std::uint64_t bytes) {
        if (bytes > length_)
            length_ = static_cast<std::size_t>(
                std::min<std::uint64_t>((bytes + 1023) / 1024 * 1024, kMaxTail));
    }

  private:
    std::size_t length_ = kMinTail;
};

} // namespace formats
