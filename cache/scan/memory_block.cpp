#include "cache/scan/memory_block.h"

#include "platform/base/codepage.h"

#include <algorithm>

namespace cache {

using namespace platform;

void MemoryBlock::Allocate(std::int32_t lCount) {
    ReleaseMemory();
    const auto count = static_cast<std::uint32_t>(std::max<std::int32_t>(lCount, 0));
    address_ = VirtualAlloc(0, count, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    length_ = lCount;
    VirtualLock(address_, count);
}

void MemoryBlock::ReadFrom(Address hWritePointer, std::uint32_t lLength) {
    if (IsBadWritePtr(hWritePointer, lLength) == 0 && IsBadReadPtr(address_, lLength) == 0)
        RtlMoveMemory(hWritePointer, address_, lLength);
}

void MemoryBlock::WriteTo(Address hReadPointer, std::uint32_t lLength) {
    if (IsBadReadPtr(hReadPointer, lLength) == 0 && IsBadWritePtr(address_, lLength) == 0)
        RtlMoveMemory(address_, hReadPointer, lLength);
}

std::string MemoryBlock::ExtractString(Address hStartPointer, std::int32_t lMax,
                                       std::string_view keptAsIs) const {
    std::string result;
    if (lMax <= 0 || hStartPointer == 0)
        return result;
    const auto bound = static_cast<std::uint32_t>(lMax);
    if (IsBadStringPtrA(hStartPointer, bound) != 0)
        return result;
    // The string up to its terminator, never more than lMax bytes: an unterminated string
    // is cut at the bound rather than read past it.
    const auto length =
        std::min<std::uint32_t>(static_cast<std::uint32_t>(lstrlenA(hStartPointer)), bound);
    std::string bytes(length, '\0');
    if (!ReadMemory(hStartPointer, bytes.data(), length))
        return result;
    if (!keptAsIs.empty() && bytes.size() >= keptAsIs.size() &&
        std::string_view(bytes).substr(0, keptAsIs.size()) == keptAsIs)
        return std::string(keptAsIs) + AnsiToUtf8(std::string_view(bytes).substr(keptAsIs.size()));
    return AnsiToUtf8(bytes);
}

void MemoryBlock::ReleaseMemory() {
    if (address_ == 0)
        return;
    const auto length = static_cast<std::uint32_t>(std::max<std::int32_t>(length_, 0));
    VirtualUnlock(address_, length);
    VirtualFree(address_, length, MEM_DECOMMIT);
    VirtualFree(address_, 0, MEM_RELEASE);
    address_ = 0;
}

} // namespace cache
