#include "cache/scan/memory_block.h"
#include "platform/base/codepage.h"

#include <gtest/gtest.h>

using namespace cache;
using namespace platform;

namespace {

struct Destination {
    Destination() : address(VirtualAlloc(0, 200, MEM_COMMIT, PAGE_EXECUTE_READWRITE)) {
        std::vector<unsigned char> marks(200, 0x5A);
        WriteMemory(address, marks.data(), marks.size());
    }
    ~Destination() { VirtualFree(address, 0, MEM_RELEASE); }
    unsigned char at(std::uint32_t i) const {
        unsigned char c = 0;
        ReadMemory(address + i, &c, 1);
        return c;
    }
    Address address;
};

} // namespace

TEST(MemoryBlock, AFreshBlockReadsAsZerosAndNothingIsCopiedWithoutOne) {
    MemoryBlock block;
    Destination d;
    block.ReadFrom(d.address, 80); // no block yet
    EXPECT_EQ(d.at(0), 0x5A);
    block.Allocate(100);
    ASSERT_NE(block.Handle(), 0u);
    block.ReadFrom(d.address, 80);
    EXPECT_EQ(d.at(0), 0);
    EXPECT_EQ(d.at(79), 0);
    EXPECT_EQ(d.at(80), 0x5A);
    // A length beyond lCount but inside the last page is fine; one past the page is not.
    MemoryBlock small;
    small.Allocate(4);
    small.ReadFrom(d.address, 150);
    EXPECT_EQ(d.at(149), 0);
    Destination e;
    MemoryBlock page;
    page.Allocate(static_cast<std::int32_t>(kPageSize));
    page.ReadFrom(e.address, 4);
    page.WriteTo(e.address, 4);
    EXPECT_EQ(e.at(0), 0);
}

TEST(MemoryBlock, AllocateReleasesTheOldBlockAndReleaseIsIdempotent) {
    const std::size_t before = MappedBlockCount();
    {
        MemoryBlock block;
        block.Allocate(10);
        const Address first = block.Handle();
        // Blocks are placed first-fit: the next block lands where the old one was only if
        // the old one was already gone when it was placed.
        block.Allocate(10);
        EXPECT_EQ(block.Handle(), first);
        block.Allocate(5000);
        EXPECT_EQ(block.Handle(), first);
        EXPECT_EQ(MappedBlockCount(), before + 1);
        block.ReleaseMemory();
        block.ReleaseMemory();
        EXPECT_EQ(block.Handle(), 0u);
        EXPECT_EQ(MappedBlockCount(), before);
        block.Allocate(10);
    }
    EXPECT_EQ(MappedBlockCount(), before); // released by the destructor
    MemoryBlock refused;
    SetAllocationLimit(1);
    refused.Allocate(100);
    SetAllocationLimit(0);
    EXPECT_EQ(refused.Handle(), 0u);
}

TEST(MemoryBlock, ExtractStringGivesExactlyTheStringsCharacters) {
    MemoryBlock block;
    block.Allocate(64);
    EXPECT_EQ(block.ExtractString(0, 64), "");
    EXPECT_EQ(block.ExtractString(0x7ffff000, 64), "");
    const char text[] = "\x83\x65\x83\x58\x83\x67.jpg\0trailing";
    WriteMemory(block.Handle(), text, sizeof text);
    SetAnsiCodePage(932);
    EXPECT_EQ(block.ExtractString(block.Handle(), 64), "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.jpg");
    SetAnsiCodePage(1252);
    EXPECT_EQ(block.ExtractString(block.Handle() + 11, 64), "trailing");
    // No terminator within the bound: cut at the bound, nothing read beyond it.
    const std::string full(static_cast<std::size_t>(kPageSize), 'q');
    WriteMemory(block.Handle(), full.data(), full.size());
    EXPECT_EQ(block.ExtractString(block.Handle(), 10), "qqqqqqqqqq");
    EXPECT_EQ(block.ExtractString(block.Handle() + kPageSize - 3, 10), ""); // runs off the block
    EXPECT_EQ(block.ExtractString(block.Handle(), 0), "");
    SetAnsiCodePage(0);
}

// StringStartsWith answers what ExtractString(...) starting with the prefix would.
TEST(MemoryBlock, StringStartsWithAgreesWithTheExtractedString) {
    using namespace std::string_literals;
    MemoryBlock block;
    block.Allocate(64);
    const Address at = block.Handle();
    const std::string page(static_cast<std::size_t>(kPageSize), 'C');
    struct Case {
        std::string bytes; // written at the block's start
        Address from;
        std::int32_t bound;
    };
    const Case cases[] = {
        {"Cookie:a@b/\0"s, at, 64},
        {"Cook\0ie\0"s, at, 64},
        {"\x83"
         "Cookie\0"s,
         at, 64},
        {"Cookie\0"s, at, 3},
        {"Cookie\0"s, at, 0},
        {"Cookie\0"s, 0, 64},
        {page, at + kPageSize - 4, 64}, // runs off the block
    };
    for (const Case& c : cases) {
        WriteMemory(at, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(block.StringStartsWith(c.from, c.bound, "Cookie"),
                  block.ExtractString(c.from, c.bound).starts_with("Cookie"))
            << c.bytes;
    }
}
