#include "platform/urlcache/index_reader.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>

namespace platform::urlcache {
namespace {

constexpr std::uint64_t kRecordAreaStart = 0x4000;
constexpr std::uint64_t kBlockSize = 128;
constexpr std::uint64_t kUrlRecordFixedSize = 0x68;
constexpr std::uint32_t kMaxDirectories = 32;

struct Reader {
    std::span<const std::uint8_t> bytes;

    bool has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes.size() && length <= bytes.size() - offset;
    }
    std::uint32_t u32(std::uint64_t offset) const {
        if (!has(offset, 4))
            return 0;
        const auto* p = bytes.data() + offset;
        return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
               std::uint32_t{p[3]} << 24;
    }
    std::uint64_t u64(std::uint64_t offset) const {
        return std::uint64_t{u32(offset)} | std::uint64_t{u32(offset + 4)} << 32;
    }
    std::uint8_t u8(std::uint64_t offset) const { return has(offset, 1) ? bytes[offset] : 0; }
    bool tagIs(std::uint64_t offset, const char (&tag)[5]) const {
        return has(offset, 4) && std::memcmp(bytes.data() + offset, tag, 4) == 0;
    }
    // A NUL-terminated string found inside [offset, limit); unterminated strings are cut
    // at the limit and flagged.
    std::string string(std::uint64_t offset, std::uint64_t limit, bool* terminated) const {
        limit = std::min<std::uint64_t>(limit, bytes.size());
        if (offset >= limit) {
            if (terminated)
                *terminated = false;
            return {};
        }
        const auto* start = bytes.data() + offset;
        const auto* nul = static_cast<const std::uint8_t*>(std::memchr(start, 0, limit - offset));
        if (terminated)
            *terminated = nul != nullptr;
        const std::uint64_t n = nul ? static_cast<std::uint64_t>(nul - start) : limit - offset;
        return std::string(reinterpret_cast<const char*>(start), n);
    }
};

IndexFormat formatOf(const Reader& r) {
    if (!r.has(0, 28))
        return IndexFormat::Unknown;
    const std::string_view sig(reinterpret_cast<const char*>(r.bytes.data()), 28);
    const auto nul = sig.find('\0');
    if (nul == std::string_view::npos)
        return IndexFormat::Unknown;
    const std::string_view text = sig.substr(0, nul);
    if (text == "Client UrlCache MMF Ver 5.2")
        return IndexFormat::Native52;
    if (text == "WINE URLCache Ver 0.2012001")
        return IndexFormat::Wine2012;
    if (text == "WINE URLCache Ver 0.2005001")
        return IndexFormat::Wine2005;
    return IndexFormat::Unknown;
}

bool isAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

bool IsUnsafeName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return true;
    for (char c : name)
        if (c == '/' || c == '\\' || c == ':' || c == '\0')
            return true;
    return false;
}

IndexContents ReadIndex(std::span<const std::uint8_t> file) {
    IndexContents out;
    Reader whole{file};
    out.format = formatOf(whole);
    if (out.format == IndexFormat::Unknown) {
        out.warnings.push_back("unknown signature");
        return out;
    }

    // Trust the smaller of the recorded and the real length: a copy taken while the cache
    // was in use may disagree with its header.
    std::uint64_t length = file.size();
    const std::uint32_t recorded = whole.u32(0x1C);
    if (recorded != length) {
        out.warnings.push_back("header size differs from file length");
        if (recorded != 0 && recorded < length)
            length = recorded;
    }
    const Reader r{file.first(static_cast<std::size_t>(length))};

    // Cache folders.
    std::uint32_t dirCount = out.format == IndexFormat::Wine2005 ? r.u8(0x48) : r.u32(0x48);
    if (dirCount > kMaxDirectories) {
        out.warnings.push_back("too many cache directories");
        dirCount = kMaxDirectories;
    }
    for (std::uint32_t i = 0; i < dirCount; ++i) {
        const std::uint64_t at = 0x4C + std::uint64_t{i} * 12 + 4;
        std::string name;
        if (r.has(at, 8)) {
            name.assign(reinterpret_cast<const char*>(r.bytes.data() + at), 8);
            if (!std::all_of(name.begin(), name.end(), isAlnum))
                name.clear();
        }
        out.directories.push_back(name);
    }

    // Walk the chain of hash tables.
    std::set<std::uint64_t> seenTables;
    std::set<std::uint64_t> seenRecords;
    std::uint64_t table = r.u32(0x20);
    const std::uint64_t maxTables = length / (32 * kBlockSize) + 1;
    while (table != 0) {
        if (table < kRecordAreaStart || (table - kRecordAreaStart) % kBlockSize != 0 ||
            !r.has(table, 16) || !r.tagIs(table, "HASH")) {
            out.warnings.push_back("bad hash table offset");
            break;
        }
        if (!seenTables.insert(table).second || seenTables.size() > maxTables) {
            out.warnings.push_back("hash table chain loops");
            break;
        }
        const std::uint64_t blocks = r.u32(table + 4);
        std::uint64_t tableEnd = table + std::max<std::uint64_t>(blocks, 1) * kBlockSize;
        if (blocks == 0 || tableEnd > length) {
            out.warnings.push_back("hash table cut short");
            tableEnd = std::min<std::uint64_t>(tableEnd, length);
        }
        for (std::uint64_t slot = table + 16; slot + 8 <= tableEnd; slot += 8) {
            const std::uint32_t key = r.u32(slot);
            const std::uint64_t offset = r.u32(slot + 4);
            if (key == offset || key == 0x0BADF00D || key == 0xDEADBEEF || (key & 0x3F) == 1)
                continue;
            if (offset < kRecordAreaStart || (offset - kRecordAreaStart) % kBlockSize != 0 ||
                !r.has(offset, 8) || !seenRecords.insert(offset).second)
                continue;
            if (!r.tagIs(offset, "URL "))
                continue; // REDR, LEAK and anything unknown are not entries
            const std::uint64_t recordBlocks = r.u32(offset + 4);
            std::uint64_t end = offset + recordBlocks * kBlockSize;
            if (recordBlocks == 0)
                continue;
            if (end > length) {
                out.warnings.push_back("record cut short");
                end = length;
            }
            if (end - offset < kUrlRecordFixedSize)
                continue;

            IndexEntry e;
            e.lastModified = r.u64(offset + 8);
            e.lastAccess = r.u64(offset + 16);
            e.sizeLow = r.u32(offset + 32);
            e.sizeHigh = r.u32(offset + 36);
            e.exemptDelta = r.u32(offset + 44);
            e.entryType = r.u32(offset + 64);
            e.hitRate = r.u32(offset + 84);
            e.useCount = r.u32(offset + 88);

            const std::uint64_t urlOffset = r.u32(offset + 52);
            if (urlOffset == 0 || urlOffset >= end - offset)
                continue; // no readable URL: nothing to list
            bool terminated = true;
            e.url = r.string(offset + urlOffset, end, &terminated);
            if (!terminated)
                out.warnings.push_back("unterminated URL");

            const std::uint64_t nameOffset = r.u32(offset + 60);
            const std::uint32_t dir = r.u8(offset + 56);
            if (nameOffset != 0 && nameOffset < end - offset && dir < out.directories.size() &&
                !out.directories[dir].empty()) {
                std::string name = r.string(offset + nameOffset, end, &terminated);
                if (terminated && !IsUnsafeName(name)) {
                    e.fileName = std::move(name);
                    e.directory = out.directories[dir];
                }
            }

            const std::uint64_t headerOffset = r.u32(offset + 68);
            const std::uint64_t headerSize = r.u32(offset + 72);
            if (headerOffset != 0 && headerOffset < end - offset &&
                headerSize <= end - offset - headerOffset)
                e.headers.assign(
                    reinterpret_cast<const char*>(r.bytes.data() + offset + headerOffset),
                    static_cast<std::size_t>(headerSize));
            const std::uint64_t extOffset = r.u32(offset + 76);
            if (extOffset != 0 && extOffset < end - offset) {
                std::string ext = r.string(offset + extOffset, end, &terminated);
                if (terminated)
                    e.extension = std::move(ext);
            }
            out.entries.push_back(std::move(e));
        }
        table = r.u32(table + 8);
    }
    return out;
}

} // namespace platform::urlcache
