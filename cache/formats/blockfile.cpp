#include "cache/formats/blockfile.h"
#include "cache/formats/blockfile_layout.h"
#include "platform/base/ascii.h"
#include "platform/base/endian.h"

#include <initializer_list>
#include <utility>

namespace formats {

using namespace blockfile;

BlockfileIndexHeader ParseBlockfileIndexHeader(std::string_view bytes) {
    const platform::ByteReader r(bytes);
    return {r.u32(kIndexMagicAt), r.u32(kIndexVersionAt), r.i32(kIndexEntryCountAt),
            r.u32(kIndexTableLengthAt), r.i32(kIndexCrashAt) != 0};
}

bool IsKnownIndexVersion(std::uint32_t version) {
    return version == kIndexVersion2_0 || version == kIndexVersion2_1 ||
           version == kIndexVersion3_0;
}

BlockFileHeader ParseBlockFileHeader(std::string_view bytes) {
    const platform::ByteReader r(bytes);
    return {r.u32(kBlockMagicAt), r.u32(kBlockVersionAt), r.i16(kBlockThisFileAt),
            r.i16(kBlockNextFileAt), r.u32(kBlockSizeAt)};
}

bool IsKnownBlockFileVersion(std::uint32_t version) {
    return version == kBlockVersion2_0 || version == kBlockVersion3_0;
}

BlockfileAddress DecodeBlockfileAddress(std::uint32_t address) {
    BlockfileAddress a;
    a.initialized = (address & kAddrInitialized) != 0;
    a.type = (address & kAddrTypeMask) >> kAddrTypeShift;
    a.fileNumber = (address & kAddrFileNumberMask) >> kAddrFileNumberShift;
    a.startBlock = address & kAddrStartBlockMask;
    a.blockCount = ((address & kAddrBlockCountMask) >> kAddrBlockCountShift) + 1;
    a.externalNumber = address & kAddrExternalNumberMask;
    a.reservedBitsSet = (address & kAddrReservedMask) != 0;
    return a;
}

BlockfileEntryStore ParseBlockfileEntryStore(std::string_view record) {
    const platform::ByteReader r(record);
    BlockfileEntryStore e;
    e.hash = r.u32(kEntryHashAt);
    e.next = r.u32(kEntryNextAt);
    e.rankingsNode = r.u32(kEntryRankingsAt);
    e.state = r.i32(kEntryStateAt);
    e.creationTime = r.i64(kEntryCreationTimeAt);
    e.keyLength = r.i32(kEntryKeyLengthAt);
    e.longKey = r.u32(kEntryLongKeyAt);
    for (std::uint32_t i = 0; i < kStreamCount; ++i) {
        e.streamSizes[i] = r.i32(kEntryStreamSizesAt + kEntryStreamFieldSize * i);
        e.streamAddresses[i] = r.u32(kEntryStreamAddressesAt + kEntryStreamFieldSize * i);
    }
    e.flags = r.u32(kEntryFlagsAt);
    e.selfHash = r.u32(kEntrySelfHashAt);
    return e;
}

bool BlockfileEntrySelfHashMatches(std::string_view record) {
    return record.size() >= kEntrySelfHashAt + kEntrySelfHashSize &&
           SuperFastHash(record.substr(0, kEntrySelfHashAt)) ==
               platform::ByteReader(record).u32(kEntrySelfHashAt);
}

BlockfileRankingsNode ParseBlockfileRankingsNode(std::string_view node) {
    const platform::ByteReader r(node);
    return {r.i64(kRankingsLastUsedAt), r.u32(kRankingsContentsAt)};
}

BlockfileSparseHeader ParseBlockfileSparseHeader(std::string_view stream) {
    const platform::ByteReader r(stream);
    return {r.i64(kSparseSignatureAt), r.u32(kSparseMagicAt), r.i32(kSparseLastBlockAt),
            r.i32(kSparseLastBlockLengthAt)};
}

std::string BlockFileName(std::uint32_t number) {
    return "data_" + std::to_string(number);
}

std::string ExternalFileName(std::uint32_t number) {
    return "f_" + platform::LowerHex(number, 6);
}

static_assert(kRecordFieldsBytes == kEntryFlagsAt + sizeof(std::uint32_t));

std::string BlockfileRecordFields(std::string_view record) {
    std::string fields;
    fields.reserve(36);
    constexpr std::size_t k32 = sizeof(std::uint32_t), k64 = sizeof(std::int64_t);
    for (const auto& [at, n] : std::initializer_list<std::pair<std::uint64_t, std::size_t>>{
             {kEntryHashAt, k32},
             {kEntryStateAt, k32},
             {kEntryCreationTimeAt, k64},
             {kEntryKeyLengthAt, k32},
             {kEntryLongKeyAt, k32},
             {kEntryStreamSizesAt + kEntryStreamFieldSize * kStreamBody, k32},
             {kEntryStreamAddressesAt + kEntryStreamFieldSize * kStreamBody, k32},
             {kEntryFlagsAt, k32}})
        fields.append(record.substr(static_cast<std::size_t>(at), n));
    return fields;
}

std::uint32_t SuperFastHash(std::string_view data) {
    if (data.empty())
        return 0;
    // The trailing bytes are read as signed chars, as Chromium's SuperFastHash reads them.
    const auto signedByte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(
            static_cast<std::int32_t>(static_cast<signed char>(data[i])));
    };
    const platform::ByteReader words(data);
    const auto get16 = [&](std::size_t i) { return std::uint32_t{words.u16(i)}; };
    auto hash = static_cast<std::uint32_t>(data.size());
    std::size_t i = 0;
    for (std::size_t blocks = data.size() / 4; blocks > 0; --blocks, i += 4) {
        hash += get16(i);
        const std::uint32_t tmp = (get16(i + 2) << 11) ^ hash;
        hash = (hash << 16) ^ tmp;
        hash += hash >> 11;
    }
    switch (data.size() % 4) {
    case 3:
        hash += get16(i);
        hash ^= hash << 16;
        hash ^= signedByte(i + 2) << 18;
        hash += hash >> 11;
        break;
    case 2:
        hash += get16(i);
        hash ^= hash << 11;
        hash += hash >> 17;
        break;
    case 1:
        hash += signedByte(i);
        hash ^= hash << 10;
        hash += hash >> 1;
        break;
    default:
        break;
    }
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    return hash;
}

} // namespace formats
