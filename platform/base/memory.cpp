#include "platform/base/memory.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

namespace platform {
namespace {

// The lowest 64 KiB stay unmapped, as on Windows, so that small integers are never
// valid addresses.
constexpr std::uint64_t kFirstAddress = 0x10000;
constexpr std::uint64_t kAddressLimit = 0x100000000ULL;
// A released block larger than this gives its memory back at once.
constexpr std::size_t kLargestSpare = 64u << 10;

struct Block {
    std::vector<unsigned char> bytes; // whole pages
};

struct Space {
    using Blocks = std::map<std::uint64_t, Block>;
    Blocks blocks; // keyed by start address
    std::uint64_t mapped = 0;
    std::uint64_t limit = 0;
    // The last block released, kept with its bytes: a scan takes and gives back a block of
    // the same size for every entry, which then costs neither allocation.
    Blocks::node_type spare;
};

Space& space() {
    static Space s;
    return s;
}

// The block holding [address, address + length) and where it starts; a null block when
// there is none.
std::pair<std::uint64_t, Block*> blockAt(std::uint64_t address, std::uint64_t length) {
    auto& blocks = space().blocks;
    auto it = blocks.upper_bound(address);
    if (it == blocks.begin())
        return {0, nullptr};
    --it;
    const std::uint64_t start = it->first;
    const std::uint64_t end = start + it->second.bytes.size();
    if (address < start || address + length > end)
        return {0, nullptr};
    return {start, &it->second};
}

Block* blockFor(std::uint64_t address, std::uint64_t length) {
    return blockAt(address, length).second;
}

unsigned char* pointerTo(std::uint64_t address, std::uint64_t length) {
    const auto [start, block] = blockAt(address, length);
    return block ? block->bytes.data() + (address - start) : nullptr;
}

// Bytes readable from address up to the end of its block (0 when unmapped).
std::uint64_t readableFrom(std::uint64_t address) {
    auto& blocks = space().blocks;
    auto it = blocks.upper_bound(address);
    if (it == blocks.begin())
        return 0;
    --it;
    const std::uint64_t end = it->first + it->second.bytes.size();
    return address < end ? end - address : 0;
}

} // namespace

Address VirtualAlloc(Address, std::uint32_t size, std::uint32_t allocationType, std::uint32_t) {
    if (size == 0 || !(allocationType & MEM_COMMIT))
        return 0;
    const std::uint64_t length = (std::uint64_t{size} + kPageSize - 1) / kPageSize * kPageSize;
    Space& s = space();
    if (s.limit != 0 && s.mapped + length > s.limit)
        return 0;
    // First fit between the blocks already mapped.
    std::uint64_t candidate = kFirstAddress;
    for (const auto& [start, block] : s.blocks) {
        if (candidate + length <= start)
            break;
        candidate = start + block.bytes.size();
    }
    if (candidate + length > kAddressLimit)
        return 0;
    Space::Blocks::node_type node = std::move(s.spare);
    try {
        if (node.empty())
            node = Space::Blocks({{0, Block{}}}).extract(0);
        node.mapped().bytes.assign(length, 0);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    node.key() = candidate;
    s.blocks.insert(std::move(node));
    s.mapped += length;
    return static_cast<Address>(candidate);
}

bool VirtualFree(Address address, std::uint32_t, std::uint32_t freeType) {
    if (freeType != MEM_RELEASE)
        return address != 0 && space().blocks.count(address) != 0; // decommit: kept until release
    auto& blocks = space().blocks;
    auto it = blocks.find(address);
    if (it == blocks.end())
        return false;
    space().mapped -= it->second.bytes.size();
    auto node = blocks.extract(it);
    if (node.mapped().bytes.capacity() <= kLargestSpare)
        space().spare = std::move(node);
    return true;
}

bool VirtualLock(Address address, std::uint32_t size) {
    return blockFor(address, size) != nullptr;
}
bool VirtualUnlock(Address address, std::uint32_t size) {
    return blockFor(address, size) != nullptr;
}

void RtlMoveMemory(Address destination, Address source, std::uint32_t length) {
    if (length == 0)
        return;
    unsigned char* to = pointerTo(destination, length);
    unsigned char* from = pointerTo(source, length);
    if (to && from)
        std::memmove(to, from, length);
}

int IsBadReadPtr(Address address, std::uint32_t length) {
    if (length == 0)
        return 0;
    return address == 0 || blockFor(address, length) == nullptr ? 1 : 0;
}

int IsBadWritePtr(Address address, std::uint32_t length) {
    return IsBadReadPtr(address, length);
}

int IsBadStringPtrA(Address address, std::uint32_t bound) {
    if (bound == 0)
        return 0;
    if (address == 0)
        return 1;
    const std::uint64_t readable = readableFrom(address);
    if (readable == 0)
        return 1;
    const std::uint64_t span = std::min<std::uint64_t>(readable, bound);
    const unsigned char* p = pointerTo(address, span);
    if (std::memchr(p, 0, span) != nullptr)
        return 0;
    // No terminator within what is mapped: fine only if the bound was reached first.
    return span == bound ? 0 : 1;
}

int lstrlenA(Address address) {
    const std::uint64_t readable = readableFrom(address);
    if (address == 0 || readable == 0)
        return 0;
    const unsigned char* p = pointerTo(address, readable);
    const void* nul = std::memchr(p, 0, readable);
    const std::uint64_t n = nul ? static_cast<const unsigned char*>(nul) - p : readable;
    return static_cast<int>(std::min<std::uint64_t>(n, 0x7fffffff));
}

Address lstrcpyA(Address destination, Address source) {
    const std::uint64_t n = static_cast<std::uint64_t>(lstrlenA(source));
    if (IsBadReadPtr(source, static_cast<std::uint32_t>(n + 1)) ||
        IsBadWritePtr(destination, static_cast<std::uint32_t>(n + 1)))
        return 0;
    RtlMoveMemory(destination, source, static_cast<std::uint32_t>(n + 1));
    return destination;
}

bool ReadMemory(Address source, void* destination, std::size_t length) {
    if (length == 0)
        return true;
    const unsigned char* from = pointerTo(source, length);
    if (!from)
        return false;
    std::memcpy(destination, from, length);
    return true;
}

bool WriteMemory(Address destination, const void* source, std::size_t length) {
    if (length == 0)
        return true;
    unsigned char* to = pointerTo(destination, length);
    if (!to)
        return false;
    std::memcpy(to, source, length);
    return true;
}

std::size_t MappedBlockCount() {
    return space().blocks.size();
}
void SetAllocationLimit(std::uint64_t bytes) {
    space().limit = bytes;
}

} // namespace platform
