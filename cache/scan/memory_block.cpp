#include "cache/scan/memory_block.h"

#include "platform/base/codepage.h"

#include <algorithm>
#include <optional>

namespace cache {

using namespace platform;

namespace {
bool Ascii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
} // namespace

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

namespace {

// The length of the readable string at `start`, never more than lMax bytes (an unterminated
// string is cut at the bound rather than read past it); nothing when there is none.
std::optional<std::uint32_t> StringLength(Address start, std::int32_t lMax) {
    if (lMax <= 0 || start == 0)
        return std::nullopt;
    const auto bound = static_cast<std::uint32_t>(lMax);
    if (IsBadStringPtrA(start, bound) != 0)
        return std::nullopt;
    return std::min<std::uint32_t>(static_cast<std::uint32_t>(lstrlenA(start)), bound);
}

} // namespace

std::string MemoryBlock::ExtractString(Address hStartPointer, std::int32_t lMax,
                                       std::string_view keptAsIs) const {
    const auto length = StringLength(hStartPointer, lMax);
    if (!length)
        return {};
    std::string bytes(*length, '\0');
    if (!ReadMemory(hStartPointer, bytes.data(), *length))
        return {};
    // ASCII is the same text in UTF-8, and nearly every name is ASCII: kept as read.
    if (!keptAsIs.empty() && bytes.size() >= keptAsIs.size() &&
        std::string_view(bytes).substr(0, keptAsIs.size()) == keptAsIs) {
        const std::string_view rest = std::string_view(bytes).substr(keptAsIs.size());
        return Ascii(rest) ? bytes : std::string(keptAsIs) + AnsiToUtf8(rest);
    }
    return Ascii(bytes) ? bytes : AnsiToUtf8(bytes);
}

bool MemoryBlock::StringStartsWith(Address hStartPointer, std::int32_t lMax,
                                   std::string_view prefix) const {
    const auto length = StringLength(hStartPointer, lMax);
    if (!length || *length < prefix.size())
        return false;
    // ANSI bytes below 0x80 are the same characters in UTF-8, and a byte above decodes to
    // no ASCII character: the decoded text starts with an ASCII prefix exactly when the
    // stored bytes do.
    std::string bytes(prefix.size(), '\0');
    return ReadMemory(hStartPointer, bytes.data(), bytes.size()) && bytes == prefix;
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
