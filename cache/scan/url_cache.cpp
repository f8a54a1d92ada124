#include "cache/scan/url_cache.h"
#include "platform/base/paths.h"
#include "platform/base/unix_time.h"

#include "app/guard/guard.h"
#include "cache/scan/list_columns.h"
#include "cache/scan/memory_block.h"
#include "platform/urlcache/urlcache.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace cache {
namespace {

using platform::Address;
using platform::INTERNET_CACHE_ENTRY_INFOA;

// The last of the pieces split() would give: the text after the last separator.
std::string lastPiece(const std::string& text, char separator) {
    const auto at = text.rfind(separator);
    return at == std::string::npos ? text : text.substr(at + 1);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const auto at = text.find(separator, start);
        pieces.push_back(text.substr(start, at - start));
        if (at == std::string::npos)
            return pieces;
        start = at + 1;
    }
}

// The scan's own copy of the entry record, kept in the same address space as the entry
// buffer so that the copy is judged by the same rules as every other.
class LocalRecord {
  public:
    LocalRecord()
        : address_(platform::VirtualAlloc(0, sizeof(INTERNET_CACHE_ENTRY_INFOA),
                                          platform::MEM_COMMIT, platform::PAGE_EXECUTE_READWRITE)) {
    }
    ~LocalRecord() {
        if (address_)
            platform::VirtualFree(address_, 0, platform::MEM_RELEASE);
    }
    LocalRecord(const LocalRecord&) = delete;
    LocalRecord& operator=(const LocalRecord&) = delete;
    Address address() const { return address_; }
    INTERNET_CACHE_ENTRY_INFOA value() const {
        INTERNET_CACHE_ENTRY_INFOA rec{};
        platform::ReadMemory(address_, &rec, sizeof(rec));
        return rec;
    }

  private:
    Address address_;
};

// A record's FILETIME, stored as (low, high).
std::uint64_t FiletimeTicks(const std::uint32_t (&ft)[2]) {
    return std::uint64_t{ft[1]} << 32 | ft[0];
}

// Where the local file's name starts: the text after the last separator.
constexpr char kSeparator = platform::kPathSeparator;

} // namespace

bool FileTypeFilter::admits(const std::string& extension, const FileTypeSwitches& boxes) {
    const ExtensionInfo* e = FindExtension(extension);
    // Every box is read, in the window's order, whatever the earlier ones gave.
    bool admitted = false;
    for (const FileTypeInfo& type : kFileTypes) {
        const bool ticked = boxes.value(type.type) == 1;
        admitted = admitted || (ticked && e && e->type == type.type);
    }
    return admitted;
}

void getIECache(FoundFileList& list, const FileTypeSwitches& boxes,
                const std::vector<platform::UrlCacheSource>* sources) {
    app::Guard g(kScanTag);
    std::int32_t entrySize = 0;
    std::uint32_t handle = 0;
    std::optional<MemoryBlock> buffer;
    LocalRecord record;
    INTERNET_CACHE_ENTRY_INFOA rec{};
    std::string localName;
    std::string extension;
    RowId row = 0;

    auto bufferHandle = [&]() -> Address { return buffer ? buffer->Handle() : 0; };
    auto allocate = [&] {
        if (!buffer)
            buffer.emplace();
        buffer->Allocate(entrySize);
    };
    auto copyRecord = [&] {
        if (buffer)
            buffer->ReadFrom(record.address(), sizeof(INTERNET_CACHE_ENTRY_INFOA));
        rec = record.value();
    };
    auto extract = [&](Address at) {
        return buffer ? buffer->ExtractString(at, entrySize) : std::string();
    };
    // A local file name starts with the cache's folder, a path of the file system that must
    // reach the copy and the preview byte for byte; only the rest is ANSI text.
    auto extractLocal = [&](Address at) {
        return buffer ? buffer->ExtractString(at, entrySize, platform::UrlCacheFolderPrefix(handle))
                      : std::string();
    };

    // The row for a kept entry (lines 128-142 for the first entry, 174-188 for the rest).
    auto buildRow = [&](int base) {
        const std::size_t rowsBefore = list.count();
        g.step(base, [&] { row = list.append(extract(rec.lpszSourceUrlName)); });
        g.step(base + 2, [&] { list.setTick(row, true); });
        g.step(base + 4, [&] { list.ensureVisible(row); });
        g.step(base + 6, [&] {
            const std::uint64_t size = std::uint64_t{rec.dwSizeHigh} << 32 | rec.dwSizeLow;
            list.setSize(row, size);
        });
        g.step(base + 8,
               [&] { list.setSubItem(row, kFilePathColumn, extractLocal(rec.lpszLocalFileName)); });
        g.step(base + 10, [&] { localName = extractLocal(rec.lpszLocalFileName); });
        std::string name;
        g.step(base + 12, [&] { name = lastPiece(localName, kSeparator); });
        g.step(base + 14, [&] { list.setSubItem(row, kFileNameColumn, name); });
        // Not a step: the row's times, from the record. LastModifiedTime is the server's
        // Last-Modified, often years before the entry was stored; LastSyncTime is when it was
        // last fetched (or checked) from the server, the nearest the record has to when the
        // response was stored. Only for a row the first step appended.
        if (list.count() > rowsBefore)
            list.setTimes(
                row, platform::UnixSecondsFromWindowsFiletime(FiletimeTicks(rec.LastSyncTime)),
                platform::UnixSecondsFromWindowsFiletime(FiletimeTicks(rec.LastAccessTime)));
    };

    g.step(100, [&] { list.clear(); });
    g.step(102, [&] { platform::FindFirstUrlCacheEntryA(nullptr, 0, &entrySize, sources); });
    if (entrySize >= 1) { // line 104
        bool skipped = false;
        g.step(106, [&] {
            allocate();
            if (bufferHandle() == 0) {
                // No memory for this entry: step past it rather than stop the walk.
                handle = platform::FindFirstUrlCacheEntrySkipA(sources);
                skipped = true;
            }
        });
        if (!skipped) {
            g.step(108, [&] {
                handle =
                    platform::FindFirstUrlCacheEntryA(nullptr, bufferHandle(), &entrySize, sources);
            });
            g.step(110, copyRecord);
            // Room for a row per entry at once, not grown a doubling at a time: rows are large,
            // and an index may hold 100,000 entries. (Not a step: nothing here can fail but
            // the memory, which the next step's append would meet anyway.)
            if (handle != 0)
                list.reserve(list.count() + 1 + platform::UrlCacheEntriesLeft(handle));
            if (handle == 0) {
                // The first entry was not copied (its step failed, or it grew between the
                // probe and the fill): step past it as past any later one, rather than end
                // the walk before it began; and never read what the buffer held.
                g.unnumbered([&] { handle = platform::FindFirstUrlCacheEntrySkipA(sources); });
            } else if (rec.lpszSourceUrlName != 0) { // line 112
                const bool cookie = g.test(
                    114, [&] { return extract(rec.lpszSourceUrlName).substr(0, 6) == "Cookie"; });
                if (!cookie) {
                    g.step(116, [&] { localName = extractLocal(rec.lpszLocalFileName); });
                    std::vector<std::string> pieces;
                    g.step(118, [&] { pieces = split(localName, '.'); });
                    if (g.test(120, [&] { return pieces.size() >= 2; }))
                        g.step(122, [&] { extension = pieces.at(pieces.size() - 1); });
                    else
                        g.step(124, [&] { extension = ""; });
                    if (g.test(126, [&] { return FileTypeFilter::admits(extension, boxes); }))
                        buildRow(128);
                }
            }
        }
    }

    for (;;) {
        if (handle == 0) // line 144
            break;
        g.step(146, [&] { entrySize = 0; });
        g.step(148, [&] { platform::FindNextUrlCacheEntryA(handle, 0, &entrySize); });
        if (entrySize < 1) // line 150
            break;
        bool skipped = false;
        g.step(152, [&] {
            allocate();
            if (bufferHandle() == 0) {
                platform::SkipUrlCacheEntry(handle);
                skipped = true;
            }
        });
        if (skipped)
            continue;
        bool filled = false;
        g.step(154, [&] {
            filled = platform::FindNextUrlCacheEntryA(handle, bufferHandle(), &entrySize);
        });
        g.step(156, copyRecord);
        if (!filled) {
            // The entry was not copied (its buffer was lost to a failed step, or too small)
            // and the enumeration has not moved: step past it, or it would be probed again
            // and again; and never work on what the buffer held before.
            platform::SkipUrlCacheEntry(handle);
            continue;
        }
        if (rec.lpszSourceUrlName == 0) // line 158
            continue;
        if (g.test(160, [&] {
                return buffer &&
                       buffer->StringStartsWith(rec.lpszSourceUrlName, entrySize, "Cookie");
            }))
            continue;
        g.step(162, [&] { localName = extractLocal(rec.lpszLocalFileName); });
        std::string last;
        if (g.test(164, [&] { return localName.find('.') != std::string::npos; })) {
            g.step(166, [&] { last = lastPiece(localName, '.'); });
            g.step(168, [&] { extension = std::move(last); });
        } else {
            g.step(170, [&] { extension = ""; });
        }
        if (!g.test(172, [&] { return FileTypeFilter::admits(extension, boxes); }))
            continue;
        buildRow(174);
    }

    g.step(190, [&] { platform::FindCloseUrlCache(handle); });
    g.step(192, [&] { buffer.reset(); });
}

} // namespace cache
