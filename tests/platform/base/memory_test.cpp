#include "platform/base/memory.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace platform;

using Block = testing_support::SimBlock;

TEST(SimulatedMemory, BlocksAreZeroFilledWholePagesAndGoneAfterRelease) {
    const std::size_t before = MappedBlockCount();
    {
        Block b(10);
        ASSERT_NE(b.address, 0u);
        EXPECT_EQ(b.address % kPageSize, 0u);
        std::vector<unsigned char> bytes(kPageSize, 0xAA);
        ASSERT_TRUE(ReadMemory(b.address, bytes.data(), bytes.size())); // the page tail too
        EXPECT_TRUE(
            std::all_of(bytes.begin(), bytes.end(), [](unsigned char c) { return c == 0; }));
        EXPECT_EQ(IsBadReadPtr(b.address, kPageSize), 0);
        EXPECT_NE(IsBadReadPtr(b.address, kPageSize + 1), 0);
        EXPECT_EQ(MappedBlockCount(), before + 1);
    }
    EXPECT_EQ(MappedBlockCount(), before);
    EXPECT_EQ(VirtualAlloc(0, 0, MEM_COMMIT, PAGE_EXECUTE_READWRITE), 0u);
}

TEST(SimulatedMemory, CopiesOutsideABlockDoNothing) {
    Block a(100), b(100);
    const char text[] = "hello";
    ASSERT_TRUE(WriteMemory(a.address, text, sizeof text));
    RtlMoveMemory(b.address, a.address, sizeof text);
    char out[8] = {};
    ReadMemory(b.address, out, sizeof text);
    EXPECT_STREQ(out, "hello");

    // Destination straddling the end of its block, source at 0, an unmapped address.
    RtlMoveMemory(b.address + kPageSize - 2, a.address, sizeof text);
    RtlMoveMemory(b.address, 0, 4);
    RtlMoveMemory(0x7fff0000, a.address, 4);
    ReadMemory(b.address, out, sizeof text);
    EXPECT_STREQ(out, "hello");
    EXPECT_NE(IsBadWritePtr(0, 1), 0);
    EXPECT_FALSE(WriteMemory(a.address + kPageSize - 1, text, 2));
}

TEST(SimulatedMemory, StringCallsStopAtTheTerminatorOrTheBlock) {
    Block a(kPageSize);
    const std::string s(kPageSize, 'x'); // no terminator anywhere in the block
    WriteMemory(a.address, s.data(), s.size());
    EXPECT_EQ(lstrlenA(a.address), static_cast<int>(kPageSize));
    EXPECT_EQ(IsBadStringPtrA(a.address, 100), 0);            // readable for the whole bound
    EXPECT_NE(IsBadStringPtrA(a.address, kPageSize + 50), 0); // runs off the block first
    EXPECT_NE(IsBadStringPtrA(0, 10), 0);
    EXPECT_EQ(lstrlenA(0), 0);

    Block b(kPageSize);
    EXPECT_EQ(lstrcpyA(b.address, a.address), 0u); // no terminator: nothing copied
    WriteMemory(a.address + 3, "\0", 1);
    EXPECT_EQ(lstrcpyA(b.address, a.address), b.address);
    EXPECT_EQ(lstrlenA(b.address), 3);
}

TEST(SimulatedMemory, FreedRangesAreReusedAndTheLimitRefuses) {
    Address first;
    {
        Block a(kPageSize * 3);
        first = a.address;
    }
    Block again(kPageSize);
    EXPECT_EQ(again.address, first);
    // A block given back and taken again (its storage kept for the next one) reads as zeros.
    Address used = 0;
    {
        Block dirty(kPageSize);
        used = dirty.address;
        const std::string bytes(kPageSize, 'd');
        ASSERT_TRUE(WriteMemory(dirty.address, bytes.data(), bytes.size()));
    }
    Block fresh(kPageSize / 2);
    ASSERT_EQ(fresh.address, used);
    std::string read(kPageSize, 'x');
    ASSERT_TRUE(ReadMemory(fresh.address, read.data(), read.size()));
    EXPECT_EQ(read, std::string(kPageSize, '\0'));

    SetAllocationLimit(std::uint64_t{kPageSize} * 4);
    EXPECT_EQ(VirtualAlloc(0, kPageSize * 8, MEM_COMMIT, PAGE_EXECUTE_READWRITE), 0u);
    SetAllocationLimit(0);
    EXPECT_EQ(VirtualAlloc(0, 0xFFFFFFFFu, MEM_COMMIT, PAGE_EXECUTE_READWRITE), 0u);
}
