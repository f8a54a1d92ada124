#include "platform/urlcache/index_reader.h"

#include "platform/base/paths.h"
#include "platform/base/unix_time.h"
#include "platform/urlcache/index_layout.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>

namespace platform::urlcache {
namespace {

using namespace layout;

bool tagIs(const LittleEndianReader& r, std::uint64_t offset, const char (&tag)[5]) {
    return r.text(offset, kRecordTagSize) == std::string_view(tag, kRecordTagSize);
}

// A record offset must name a whole block of the record area.
bool isBlockInRecordArea(std::uint64_t offset) {
    return offset >= kRecordAreaStart && (offset - kRecordAreaStart) % kBlockSize == 0;
}

// A NUL-terminated string found inside [offset, limit); an unterminated string is cut at
// the limit and flagged.
std::string stringAt(const LittleEndianReader& r, std::uint64_t offset, std::uint64_t limit,
                     bool& terminated) {
    limit = std::min(limit, r.size());
    if (offset >= limit) {
        terminated = false;
        return {};
    }
    const std::string_view area = r.text(offset, limit - offset);
    const auto nul = area.find('\0');
    terminated = nul != std::string_view::npos;
    return std::string(area.substr(0, nul));
}

IndexFormat formatOf(const LittleEndianReader& r) {
    const std::string_view field = r.text(0, kSignatureSize);
    const auto nul = field.find('\0');
    if (field.empty() || nul == std::string_view::npos)
        return IndexFormat::Unknown;
    const std::string_view text = field.substr(0, nul);
    if (text == kNativeSignature)
        return IndexFormat::Native52;
    if (text == kWine2012Signature)
        return IndexFormat::Wine2012;
    if (text == kWine2005Signature)
        return IndexFormat::Wine2005;
    return IndexFormat::Unknown;
}

bool isAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

const char* Describe(IndexWarningKind kind) {
    switch (kind) {
    case IndexWarningKind::UnknownSignature:
        return "unknown signature";
    case IndexWarningKind::SizeMismatch:
        return "header size differs from file length";
    case IndexWarningKind::TooManyDirectories:
        return "too many cache directories";
    case IndexWarningKind::BadHashTable:
        return "bad hash table offset";
    case IndexWarningKind::HashChainLoops:
        return "hash table chain loops";
    case IndexWarningKind::HashTableCutShort:
        return "hash table cut short";
    case IndexWarningKind::RecordCutShort:
        return "record cut short";
    case IndexWarningKind::UnterminatedUrl:
        return "unterminated URL";
    }
    return "unknown warning";
}

bool IsUnsafeName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return true;
    // The host's separator, and both of Windows' (the names were written there).
    for (char c : name)
        if (c == kPathSeparator || c == '/' || c == '\\' || c == ':' || c == '\0')
            return true;
    return false;
}

IndexHeader ReadIndexHeader(std::span<const std::uint8_t> file, IndexWarnings& warnings) {
    const LittleEndianReader r(file);
    IndexHeader h;
    h.format = formatOf(r);
    if (h.format == IndexFormat::Unknown) {
        warnings.push_back({IndexWarningKind::UnknownSignature, 0});
        return h;
    }
    // Trust the smaller of the recorded and the real length: a copy taken while the cache
    // was in use may disagree with its header.
    h.recordedSize = r.u32(kFileSize);
    h.usableLength = r.size();
    if (h.recordedSize != r.size()) {
        warnings.push_back({IndexWarningKind::SizeMismatch, kFileSize});
        if (h.recordedSize != 0 && h.recordedSize < r.size())
            h.usableLength = h.recordedSize;
    }
    const LittleEndianReader usable(file.first(static_cast<std::size_t>(h.usableLength)));
    h.firstHashTable = usable.u32(kFirstHashTable);
    h.capacityBlocks = usable.u32(kCapacityBlocks);
    h.usedBlocks = usable.u32(kUsedBlocks);
    // Wine's 2005 format keeps the count in one byte followed by padding.
    h.directoryCount = h.format == IndexFormat::Wine2005 ? usable.u8(kDirectoryCount)
                                                         : usable.u32(kDirectoryCount);
    return h;
}

DirectoryTable ReadDirectoryTable(const LittleEndianReader& r, const IndexHeader& header,
                                  IndexWarnings& warnings) {
    std::uint32_t count = header.directoryCount;
    if (count > kMaxDirectories) {
        warnings.push_back({IndexWarningKind::TooManyDirectories, kDirectoryCount});
        count = kMaxDirectories;
    }
    DirectoryTable table;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t entry = kDirectoryTable + std::uint64_t{i} * kDirectoryEntrySize;
        std::string name(r.text(entry + kDirectoryName, kDirectoryNameSize));
        if (name.size() != kDirectoryNameSize || !std::all_of(name.begin(), name.end(), isAlnum))
            name.clear();
        table.names.push_back(std::move(name));
        table.fileCounts.push_back(r.u32(entry + kDirectoryFileCount));
    }
    return table;
}

HashWalk WalkHashTables(const LittleEndianReader& r, const IndexHeader& header,
                        IndexWarnings& warnings) {
    HashWalk walk;
    std::set<std::uint64_t> seenTables;
    const std::uint64_t length = r.size();
    // One bit per block of the record area: records start on block boundaries there.
    std::vector<bool> seenRecords(
        length > kRecordAreaStart
            ? static_cast<std::size_t>((length - kRecordAreaStart) / kBlockSize) + 1
            : 1);
    // No file can hold more tables than this; a longer chain is a loop in disguise.
    const std::uint64_t maxTables = length / (kHashTableBlocks * kBlockSize) + 1;
    std::uint64_t table = header.firstHashTable;
    while (table != 0) {
        if (!isBlockInRecordArea(table) || !r.has(table, kHashSlots) ||
            !tagIs(r, table, kHashTag)) {
            warnings.push_back({IndexWarningKind::BadHashTable, table});
            break;
        }
        if (!seenTables.insert(table).second || seenTables.size() > maxTables) {
            warnings.push_back({IndexWarningKind::HashChainLoops, table});
            break;
        }
        walk.tables.push_back(table);
        const std::uint64_t blocks = r.u32(table + kRecordBlocks);
        std::uint64_t tableEnd = table + std::max<std::uint64_t>(blocks, 1) * kBlockSize;
        if (blocks == 0 || tableEnd > length) {
            warnings.push_back({IndexWarningKind::HashTableCutShort, table});
            tableEnd = std::min(tableEnd, length);
        }
        for (std::uint64_t slot = table + kHashSlots; slot + kHashSlotSize <= tableEnd;
             slot += kHashSlotSize) {
            const std::uint32_t key = r.u32(slot + kSlotKey);
            const std::uint32_t offset = r.u32(slot + kSlotRecord);
            const bool free = key == offset;
            const bool uninitialised =
                key == kSlotUninitialisedBadFood || key == kSlotUninitialisedDeadBeef;
            const bool deleted = (key & kSlotStateMask) == kSlotStateDeleted;
            if (free || uninitialised || deleted)
                continue;
            if (!isBlockInRecordArea(offset) || !r.has(offset, kRecordHeaderSize))
                continue;
            const auto block = static_cast<std::size_t>((offset - kRecordAreaStart) / kBlockSize);
            if (seenRecords[block])
                continue;
            seenRecords[block] = true;
            walk.records.push_back(offset);
        }
        table = r.u32(table + kHashNextTable);
    }
    return walk;
}

std::optional<IndexEntry> DecodeUrlRecord(const LittleEndianReader& r, std::uint64_t offset,
                                          const std::vector<std::string>& directories,
                                          IndexWarnings& warnings) {
    // REDR, LEAK and anything unknown are not entries.
    if (!tagIs(r, offset, kUrlTag))
        return std::nullopt;
    const std::uint64_t blocks = r.u32(offset + kRecordBlocks);
    if (blocks == 0)
        return std::nullopt;
    std::uint64_t end = offset + blocks * kBlockSize;
    if (end > r.size()) {
        warnings.push_back({IndexWarningKind::RecordCutShort, offset});
        end = r.size();
    }
    const std::uint64_t recordLength = end - offset;
    if (recordLength < kUrlFixedSize)
        return std::nullopt;

    IndexEntry e;
    e.recordOffset = offset;
    e.lastModified = r.u64(offset + kUrlLastModified);
    e.lastAccess = r.u64(offset + kUrlLastAccess);
    e.expiry = FatToFileTime(r.u32(offset + kUrlExpiry));
    e.lastSync = FatToFileTime(r.u32(offset + kUrlLastSync));
    e.sizeLow = r.u32(offset + kUrlSizeLow);
    e.sizeHigh = r.u32(offset + kUrlSizeHigh);
    e.exemptDelta = r.u32(offset + kUrlExemptDelta);
    e.entryType = r.u32(offset + kUrlEntryType);
    e.hitRate = r.u32(offset + kUrlHitRate);
    e.useCount = r.u32(offset + kUrlUseCount);

    // String offsets count from the record start and must stay inside the record.
    const std::uint64_t urlOffset = r.u32(offset + kUrlUrlOffset);
    if (urlOffset == 0 || urlOffset >= recordLength)
        return std::nullopt; // no readable URL: nothing to list
    bool terminated = true;
    e.url = stringAt(r, offset + urlOffset, end, terminated);
    if (!terminated)
        warnings.push_back({IndexWarningKind::UnterminatedUrl, offset});

    const std::uint64_t nameOffset = r.u32(offset + kUrlFileNameOffset);
    const std::uint32_t dir = r.u8(offset + kUrlDirectory);
    if (nameOffset != 0 && nameOffset < recordLength && dir < directories.size() &&
        !directories[dir].empty()) {
        std::string name = stringAt(r, offset + nameOffset, end, terminated);
        if (terminated && !IsUnsafeName(name)) {
            e.fileName = std::move(name);
            e.directory = directories[dir];
        }
    }

    const std::uint64_t headerOffset = r.u32(offset + kUrlHeaderOffset);
    const std::uint64_t headerSize = r.u32(offset + kUrlHeaderSize);
    if (headerOffset != 0 && headerOffset < recordLength &&
        headerSize <= recordLength - headerOffset)
        e.headers = std::string(r.text(offset + headerOffset, headerSize));

    const std::uint64_t extOffset = r.u32(offset + kUrlExtensionOffset);
    if (extOffset != 0 && extOffset < recordLength) {
        std::string ext = stringAt(r, offset + extOffset, end, terminated);
        if (terminated)
            e.extension = std::move(ext);
    }
    return e;
}

std::uint64_t FatToFileTime(std::uint32_t fat) {
    const std::uint32_t date = fat & 0xFFFF, time = fat >> 16;
    const std::int64_t y = 1980 + (date >> 9);
    const unsigned m = (date >> 5) & 15, d = date & 31;
    const unsigned hour = time >> 11, minute = (time >> 5) & 63, second = (time & 31) * 2;
    if (m < 1 || m > 12 || d < 1 || hour > 23 || minute > 59 || second > 59)
        return 0;
    // Days since 1970 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
    const std::int64_t ys = m <= 2 ? y - 1 : y;
    const std::int64_t era = ys / 400, yoe = ys - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    const std::int64_t seconds =
        days * 86400 + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
    return platform::WindowsFiletimeFromUnixSeconds(seconds);
}

IndexContents ReadIndex(std::span<const std::uint8_t> file) {
    IndexContents kept;
    IndexContents out = ReadIndex(
        file, [&](std::size_t records) { kept.entries.reserve(records); },
        [&](IndexEntry& entry) { kept.entries.push_back(std::move(entry)); });
    out.entries = std::move(kept.entries);
    return out;
}

IndexContents ReadIndex(std::span<const std::uint8_t> file,
                        const std::function<void(std::size_t)>& expect,
                        const std::function<void(IndexEntry&)>& take) {
    IndexContents out;
    out.header = ReadIndexHeader(file, out.warnings);
    out.format = out.header.format;
    if (out.format == IndexFormat::Unknown)
        return out;
    const LittleEndianReader r(file.first(static_cast<std::size_t>(out.header.usableLength)));

    DirectoryTable directories = ReadDirectoryTable(r, out.header, out.warnings);
    out.directories = std::move(directories.names);
    out.directoryFileCounts = std::move(directories.fileCounts);

    HashWalk walk = WalkHashTables(r, out.header, out.warnings);
    out.hashTables = std::move(walk.tables);
    expect(walk.records.size());
    for (const std::uint64_t offset : walk.records)
        if (auto entry = DecodeUrlRecord(r, offset, out.directories, out.warnings))
            take(*entry);
    return out;
}

} // namespace platform::urlcache
