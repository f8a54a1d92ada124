// Kernel memory and string calls, as the cache scan and its entry buffer use them.
//
// Addresses are plain 32-bit integers into a simulated address space: blocks come from
// VirtualAlloc in whole 4096-byte pages, and every copy or string read is judged against
// what is mapped there. A bad address therefore means "nothing copied" or "unreadable",
// never a fault and never a touch of memory outside a block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using Address = std::uint32_t;

inline constexpr std::uint32_t MEM_COMMIT = 0x1000;
inline constexpr std::uint32_t MEM_DECOMMIT = 0x4000;
inline constexpr std::uint32_t MEM_RELEASE = 0x8000;
inline constexpr std::uint32_t PAGE_EXECUTE_READWRITE = 0x40;
inline constexpr std::uint32_t kPageSize = 4096;

Address VirtualAlloc(Address address, std::uint32_t size, std::uint32_t allocationType,
                     std::uint32_t protect);
bool VirtualFree(Address address, std::uint32_t size, std::uint32_t freeType);
bool VirtualLock(Address address, std::uint32_t size);
bool VirtualUnlock(Address address, std::uint32_t size);

void RtlMoveMemory(Address destination, Address source, std::uint32_t length);
int IsBadReadPtr(Address address, std::uint32_t length);
int IsBadWritePtr(Address address, std::uint32_t length);
int IsBadStringPtrA(Address address, std::uint32_t bound);
Address lstrcpyA(Address destination, Address source);
int lstrlenA(Address address);

// Bridges between the simulated space and ordinary C++ memory. Both copy nothing and
// return false when any byte of the range is not mapped.
bool ReadMemory(Address source, void* destination, std::size_t length);
bool WriteMemory(Address destination, const void* source, std::size_t length);

// Test and diagnostics hooks.
std::size_t MappedBlockCount();
// Refuse allocations that would bring the mapped total above this many bytes (0: no limit).
void SetAllocationLimit(std::uint64_t bytes);

} // namespace platform
