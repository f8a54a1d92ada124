#include "platform/urlcache/urlcache.h"
#include "platform/base/paths.h"

#include "platform/urlcache/index_reader.h"
#include "platform/urlcache/locator.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// What filling an entry's record needs of it: 208 bytes, where the reader's IndexEntry and
// what went with it took 320 (an index of 100,000 entries is held whole while it is walked).
struct Entry {
    std::string url, headers, extension;  // ANSI bytes as stored (headers unterminated)
    std::optional<std::string> localFile; // ANSI bytes, but for the folder (`prefix`)
    std::uint64_t lastModified = 0, lastAccess = 0, expiry = 0, lastSync = 0; // FILETIMEs
    std::uint32_t sizeLow = 0, sizeHigh = 0, entryType = 0, useCount = 0, hitRate = 0,
                  exemptDelta = 0;
    // The folder and its separator, which every local file name starts with ("" for none):
    // file-system bytes, as the locator found them. Shared by every entry of one index.
    std::shared_ptr<const std::string> prefix;
};

// The entries of every index read, in order.
struct Entries {
    std::vector<Entry> list;
};

struct Enumeration {
    Entries entries;
    std::size_t next = 0;
};

// Identifies one state of the index file: a size probe and the fill that follows it read
// the file once between them, unless it changed in the meantime.
struct FileState {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileState&) const = default;
};

using FileStates = std::vector<FileState>;

// What the last probe read, kept for the fill that normally comes next.
struct ProbeSnapshot {
    FileStates state;
    Entries entries;
};

// The process's open enumerations, as Windows keeps them for a process: the handles, and
// what the last size probe read.
struct EnumerationTable {
    std::map<std::uint32_t, Enumeration> open;
    std::uint32_t nextHandle = 1;
    std::optional<ProbeSnapshot> probed;
};
EnumerationTable g_table;

// Test seams.
UrlCacheLocator g_locator;
std::function<void(std::uint32_t)> g_closeObserver;

// The format cannot describe more than 16 MiB; an index is read a little beyond to notice.
constexpr std::size_t kMostIndexBytes = 64u << 20;

// Bytes that are read into at once: not zeroed first (an index may be 64 MiB).
struct Uninitialised : std::allocator<std::uint8_t> {
    template <typename U> struct rebind { using other = Uninitialised; };
    template <typename U> void construct(U* p) { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... A> void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};
using FileBytes = std::vector<std::uint8_t, Uninitialised>;

// Reads the whole index once, read-only; the cache's own writer may change it meanwhile,
// so nothing is mapped and the bytes are taken as they are.
FileBytes readWholeFile(const UrlCacheSource& source, FileState& state) {
    FileBytes bytes;
    const std::string& path = source.indexFile;
    if (source.files) { // in a disk image
        int error = 0;
        const auto file = source.files->openFile(path, error);
        if (!file || file->deleted()) // nothing proves a deleted index's bytes
            return bytes;
        const FileIdentity& id = file->identity();
        state = {path, static_cast<dev_t>(id.device), static_cast<ino_t>(id.inode),
                 static_cast<off_t>(id.size), id.modifiedNs};
        bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(id.size, kMostIndexBytes)));
        if (!file->readAt(0, bytes.data(), bytes.size()))
            bytes.clear();
        return bytes;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        state = {path, st.st_dev, st.st_ino, st.st_size,
                 std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
        bytes.resize(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), kMostIndexBytes));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    return bytes;
}

std::optional<FileState> currentState(const UrlCacheSource& source) {
    const std::string& path = source.indexFile;
    if (source.files) {
        int error = 0;
        const auto file = source.files->openFile(path, error);
        FileIdentity id;
        if (!file || !file->currentIdentity(id))
            return std::nullopt;
        return FileState{path, static_cast<dev_t>(id.device), static_cast<ino_t>(id.inode),
                         static_cast<off_t>(id.size), id.modifiedNs};
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileState{path, st.st_dev, st.st_ino, st.st_size,
                     std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

// The indexes to read: the ones named for this retrieve, else the located one.
UrlCacheSources currentSources(const UrlCacheSources* named) {
    if (named)
        return *named;
    UrlCacheSources sources;
    if (auto source = LocateUrlCache())
        sources.push_back(std::move(*source));
    return sources;
}

Entries loadEntries(FileStates& states, const UrlCacheSources* named) {
    Entries out;
    states.clear();
    for (const auto& source : currentSources(named)) {
        FileState state;
        const auto bytes = readWholeFile(source, state);
        states.push_back(state);
        if (bytes.empty())
            continue;
        // The container folder is a path of this file system (whatever bytes the user's
        // folders are named with), not ANSI text: it goes into the local file names
        // unchanged. Only the cache folder's name and the file name, both read from the
        // index, are ANSI.
        const std::string& folder = source.containerFolder;
        const auto prefix = std::make_shared<const std::string>(
            folder.empty() ? std::string() : folder + kPathSeparator);
        // Each entry is made where it is kept, not copied there from a list of its own.
        urlcache::ReadIndex(
            bytes, [&](std::size_t records) { out.list.reserve(out.list.size() + records); },
            [&](urlcache::IndexEntry& e) {
                Entry& entry = out.list.emplace_back();
                if (e.fileName && e.directory) {
                    std::string& local = entry.localFile.emplace();
                    local.reserve(folder.size() + e.directory->size() + e.fileName->size() + 2);
                    local.append(folder).append(1, kPathSeparator);
                    local.append(*e.directory).append(1, kPathSeparator).append(*e.fileName);
                }
                entry.url = std::move(e.url);
                entry.headers = std::move(e.headers);
                entry.extension = std::move(e.extension);
                entry.lastModified = e.lastModified;
                entry.lastAccess = e.lastAccess;
                entry.expiry = e.expiry;
                entry.lastSync = e.lastSync;
                entry.sizeLow = e.sizeLow;
                entry.sizeHigh = e.sizeHigh;
                entry.entryType = e.entryType;
                entry.useCount = e.useCount;
                entry.hitRate = e.hitRate;
                entry.exemptDelta = e.exemptDelta;
                entry.prefix = prefix;
            });
    }
    return out;
}

bool unchangedSince(const FileStates& states, const UrlCacheSources* named) {
    const auto sources = currentSources(named);
    if (sources.empty() || sources.size() != states.size())
        return false;
    for (std::size_t i = 0; i < sources.size(); ++i)
        if (currentState(sources[i]) != states[i])
            return false;
    return true;
}

std::uint32_t align4(std::uint32_t v) {
    return (v + 3u) & ~3u;
}

// Bytes an entry needs: record, URL, local name, headers, extension, each 4-aligned.
std::uint32_t sizeNeeded(const Entry& e) {
    std::uint64_t n = sizeof(INTERNET_CACHE_ENTRY_INFOA);
    n = align4(static_cast<std::uint32_t>(n + e.url.size() + 1));
    if (e.localFile)
        n = align4(static_cast<std::uint32_t>(n + e.localFile->size() + 1));
    if (!e.headers.empty())
        n = align4(static_cast<std::uint32_t>(n + e.headers.size()));
    if (!e.extension.empty())
        n = align4(static_cast<std::uint32_t>(n + e.extension.size() + 1));
    return static_cast<std::uint32_t>(n);
}

void splitFileTime(std::uint64_t ft, std::uint32_t (&out)[2]) {
    out[0] = static_cast<std::uint32_t>(ft);
    out[1] = static_cast<std::uint32_t>(ft >> 32);
}

// Probe or fill for one entry. True when the entry was copied into the buffer.
bool probeOrFill(const Entry* e, Address buffer, std::int32_t* size) {
    if (!size)
        return false;
    if (!e) {
        *size = 0;
        return false;
    }
    const std::uint32_t needed = sizeNeeded(*e);
    if (buffer == 0 || *size < 0 || static_cast<std::uint32_t>(*size) < needed ||
        IsBadWritePtr(buffer, needed)) {
        *size = static_cast<std::int32_t>(needed);
        return false;
    }
    // (The buffer is kept: an enumeration fills one entry after another.)
    static thread_local std::vector<std::uint8_t> bytes;
    bytes.assign(needed, 0);
    INTERNET_CACHE_ENTRY_INFOA rec{};
    rec.dwStructSize = sizeof(rec);
    rec.CacheEntryType = e->entryType;
    rec.dwUseCount = e->useCount;
    rec.dwHitRate = e->hitRate;
    rec.dwSizeLow = e->sizeLow;
    rec.dwSizeHigh = e->sizeHigh;
    splitFileTime(e->lastModified, rec.LastModifiedTime);
    splitFileTime(e->lastAccess, rec.LastAccessTime);
    splitFileTime(e->expiry, rec.ExpireTime);
    splitFileTime(e->lastSync, rec.LastSyncTime);
    rec.dwExemptDelta = e->exemptDelta;
    std::uint32_t at = sizeof(rec);
    auto put = [&](const std::string& s, bool terminate) {
        std::memcpy(bytes.data() + at, s.data(), s.size());
        const Address where = buffer + at;
        at = align4(static_cast<std::uint32_t>(at + s.size() + (terminate ? 1 : 0)));
        return where;
    };
    rec.lpszSourceUrlName = put(e->url, true);
    if (e->localFile)
        rec.lpszLocalFileName = put(*e->localFile, true);
    if (!e->headers.empty()) {
        rec.dwHeaderInfoSize = static_cast<std::uint32_t>(e->headers.size());
        rec.lpHeaderInfo = put(e->headers, false);
    }
    if (!e->extension.empty())
        rec.lpszFileExtension = put(e->extension, true);
    std::memcpy(bytes.data(), &rec, sizeof(rec));
    WriteMemory(buffer, bytes.data(), bytes.size());
    *size = static_cast<std::int32_t>(needed);
    return true;
}

// The entries of the index: what the last probe read when the file has not changed since,
// else a fresh read.
Entries takeEntries(FileStates& state, const UrlCacheSources* named) {
    Entries entries;
    if (g_table.probed && unchangedSince(g_table.probed->state, named)) {
        entries = std::move(g_table.probed->entries);
        state = g_table.probed->state;
    } else {
        entries = loadEntries(state, named);
    }
    g_table.probed.reset();
    return entries;
}

// Registers an enumeration positioned after its first entry; returns its handle.
std::uint32_t openEnumeration(Enumeration en) {
    en.next = 1;
    const std::uint32_t handle = g_table.nextHandle++;
    if (g_table.nextHandle == 0)
        g_table.nextHandle = 1;
    g_table.open.emplace(handle, std::move(en));
    return handle;
}

} // namespace

std::uint32_t FindFirstUrlCacheEntryA(const char* searchPattern, Address entryInfo,
                                      std::int32_t* entryInfoSize, const UrlCacheSources* sources) {
    // A null or empty pattern means the content entries; other containers are not read.
    if (searchPattern && *searchPattern) {
        if (entryInfoSize)
            *entryInfoSize = 0;
        return 0;
    }
    FileStates state;
    Enumeration en{takeEntries(state, sources)};
    const Entry* first = en.entries.list.empty() ? nullptr : &en.entries.list.front();
    if (!probeOrFill(first, entryInfo, entryInfoSize)) {
        if (first)
            g_table.probed = ProbeSnapshot{state, std::move(en.entries)};
        return 0;
    }
    return openEnumeration(std::move(en));
}

bool FindNextUrlCacheEntryA(std::uint32_t handle, Address entryInfo, std::int32_t* entryInfoSize) {
    auto it = g_table.open.find(handle);
    if (it == g_table.open.end())
        return false;
    Enumeration& en = it->second;
    const Entry* e = en.next < en.entries.list.size() ? &en.entries.list[en.next] : nullptr;
    if (!probeOrFill(e, entryInfo, entryInfoSize))
        return false;
    ++en.next;
    return true;
}

bool FindCloseUrlCache(std::uint32_t handle) {
    if (g_closeObserver)
        g_closeObserver(handle);
    return g_table.open.erase(handle) != 0;
}

const std::string& UrlCacheFolderPrefix(std::uint32_t handle) {
    static const std::string kNone;
    // The entry last filled is the one before the enumeration's position.
    const auto it = g_table.open.find(handle);
    if (it == g_table.open.end() || it->second.next == 0 ||
        it->second.next > it->second.entries.list.size())
        return kNone;
    const auto& prefix = it->second.entries.list[it->second.next - 1].prefix;
    return prefix ? *prefix : kNone;
}

std::size_t UrlCacheEntriesLeft(std::uint32_t handle) {
    const auto it = g_table.open.find(handle);
    if (it == g_table.open.end())
        return 0;
    const std::size_t all = it->second.entries.list.size();
    return it->second.next < all ? all - it->second.next : 0;
}

void SetUrlCacheCloseObserver(std::function<void(std::uint32_t)> observer) {
    g_closeObserver = std::move(observer);
}

std::uint32_t FindFirstUrlCacheEntrySkipA(const UrlCacheSources* sources) {
    FileStates state;
    Enumeration en{takeEntries(state, sources)};
    if (en.entries.list.empty())
        return 0;
    return openEnumeration(std::move(en));
}

bool SkipUrlCacheEntry(std::uint32_t handle) {
    auto it = g_table.open.find(handle);
    if (it == g_table.open.end() || it->second.next >= it->second.entries.list.size())
        return false;
    ++it->second.next;
    return true;
}

void SetUrlCacheLocator(UrlCacheLocator locator) {
    g_locator = std::move(locator);
}

std::optional<UrlCacheSource> LocateUrlCache() {
    if (g_locator)
        return g_locator();
    const auto prefix = urlcache::DefaultWinePrefix();
    if (!prefix)
        return std::nullopt;
    const auto where = urlcache::LocateContentCache(*prefix, urlcache::CurrentUserName());
    if (!where)
        return std::nullopt;
    return UrlCacheSource{where->indexFile, where->containerFolder};
}

std::size_t OpenUrlCacheEnumerations() {
    return g_table.open.size();
}

} // namespace platform
