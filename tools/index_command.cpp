// The `index` command (also run as tamberlin-indexinfo): prints an index.dat as the program's
// reader sees it: the header, the cache folders, the hash tables walked, every entry and
// every warning.
//
// Usage: tamberlin-indexinfo <index.dat>
// Exit status: 0 read (warnings or not), 1 not an index the reader knows, 2 unreadable.
#include "cacheinfo.h"

#include "platform/base/unix_time.h"
#include "platform/urlcache/index_layout.h"
#include "platform/urlcache/index_reader.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace cacheinfo {

namespace {

using namespace platform::urlcache;

// Larger than any index the format allows (16 MB), so a hostile file cannot exhaust memory.
constexpr std::size_t kMaxIndexBytes = 64u << 20;

const char* signatureOf(IndexFormat format) {
    switch (format) {
    case IndexFormat::Native52:
        return layout::kNativeSignature.data();
    case IndexFormat::Wine2012:
        return layout::kWine2012Signature.data();
    case IndexFormat::Wine2005:
        return layout::kWine2005Signature.data();
    case IndexFormat::Unknown:
        break;
    }
    return "(unknown)";
}

std::string filetimeText(std::uint64_t filetime) {
    if (filetime == 0)
        return "(not set)";
    if (filetime < platform::kFiletimeTicksTo1970)
        return "(before 1970)";
    const auto seconds =
        static_cast<std::time_t>(platform::UnixSecondsFromWindowsFiletimeSince1970(filetime));
    std::tm tm{};
    if (gmtime_r(&seconds, &tm) == nullptr)
        return "(out of range)";
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) == 0)
        return "(out of range)";
    return text;
}

void printEntry(std::size_t number, const IndexEntry& e) {
    std::printf("entry       %zu  record 0x%08llx\n", number,
                static_cast<unsigned long long>(e.recordOffset));
    std::printf("  url       %s\n", e.url.c_str());
    if (e.fileName)
        std::printf("  file      %s/%s\n", e.directory->c_str(), e.fileName->c_str());
    else
        std::printf("  file      (none)\n");
    std::printf("  size      %llu\n",
                static_cast<unsigned long long>(std::uint64_t{e.sizeHigh} << 32 | e.sizeLow));
    std::printf("  type      0x%08x\n", e.entryType);
    std::printf("  modified  %s\n", filetimeText(e.lastModified).c_str());
    std::printf("  accessed  %s\n", filetimeText(e.lastAccess).c_str());
    std::printf("  headers   %zu bytes\n", e.headers.size());
    std::printf("  extension %s\n", e.extension.empty() ? "(none)" : e.extension.c_str());
    std::printf("  hits      %u, in use %u, exempt %u s\n", e.hitRate, e.useCount, e.exemptDelta);
}

} // namespace

int IndexCommand(const Call& call) {
    if (call.args.size() != 1)
        return Usage(call, "<index.dat>");
    const char* path = call.args[0];
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open %s\n", call.name.c_str(), path);
        return 2;
    }
    std::vector<std::uint8_t> bytes;
    char buffer[65536];
    while (in && bytes.size() < kMaxIndexBytes) {
        in.read(buffer, sizeof buffer);
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
    }
    const IndexContents c = ReadIndex(bytes);
    const IndexHeader& h = c.header;

    std::printf("file        %s\n", path);
    std::printf("length      %zu bytes\n", bytes.size());
    std::printf("format      %s\n", signatureOf(c.format));
    if (c.format != IndexFormat::Unknown) {
        std::printf("recorded    %u bytes (reading %llu)\n", h.recordedSize,
                    static_cast<unsigned long long>(h.usableLength));
        std::printf("capacity    %u blocks, %u in use\n", h.capacityBlocks, h.usedBlocks);
        std::printf("directories %u\n", h.directoryCount);
        for (std::size_t i = 0; i < c.directories.size(); ++i)
            std::printf("  %2zu  %-8s  %u files\n", i,
                        c.directories[i].empty() ? "(bad)" : c.directories[i].c_str(),
                        c.directoryFileCounts[i]);
        std::printf("hash tables %zu:", c.hashTables.size());
        for (const std::uint64_t t : c.hashTables)
            std::printf(" 0x%llx", static_cast<unsigned long long>(t));
        std::printf("\n");
        std::printf("entries     %zu\n", c.entries.size());
        for (std::size_t i = 0; i < c.entries.size(); ++i)
            printEntry(i + 1, c.entries[i]);
    }
    std::printf("warnings    %zu\n", c.warnings.size());
    for (const IndexWarning& w : c.warnings)
        std::printf("  %s at 0x%llx\n", Describe(w.kind),
                    static_cast<unsigned long long>(w.offset));
    return c.format == IndexFormat::Unknown ? 1 : 0;
}

} // namespace cacheinfo
