// One block of system memory that receives one cache entry at a time.
#pragma once

#include "platform/base/memory.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace cache {

class MemoryBlock {
  public:
    MemoryBlock() = default;
    ~MemoryBlock() { ReleaseMemory(); }
    MemoryBlock(const MemoryBlock&) = delete;
    MemoryBlock& operator=(const MemoryBlock&) = delete;

    platform::Address Handle() const { return address_; }
    // Replaces the held block by a new zero-filled one of lCount bytes (whole pages).
    void Allocate(std::int32_t lCount);
    // Copies lLength bytes from the start of the block to hWritePointer, when both ranges
    // are accessible; otherwise nothing is copied.
    void ReadFrom(platform::Address hWritePointer, std::uint32_t lLength);
    // Copies lLength bytes from hReadPointer to the start of the block, when accessible.
    void WriteTo(platform::Address hReadPointer, std::uint32_t lLength);
    // The zero-terminated ANSI string at hStartPointer, decoded to UTF-8; the empty text
    // when the address does not lead to a readable string. At most lMax bytes are read.
    // When the string starts with keptAsIs, those bytes are file-system bytes that are not
    // ANSI text: they are kept exactly and only the rest is decoded.
    std::string ExtractString(platform::Address hStartPointer, std::int32_t lMax,
                              std::string_view keptAsIs = {}) const;
    // Whether ExtractString(hStartPointer, lMax) would start with the ASCII text `prefix`,
    // without decoding the whole string.
    bool StringStartsWith(platform::Address hStartPointer, std::int32_t lMax,
                          std::string_view prefix) const;
    void ReleaseMemory();

  private:
    platform::Address address_ = 0;
    std::int32_t length_ = 0;
};

} // namespace cache
