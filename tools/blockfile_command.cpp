// The `blockfile` command (also run as tamberlin-blockfileinfo): prints a Chromium blockfile
// cache as the program's reader sees it: the index header, every entry reached from the hash
// table with its state, key, streams and the verdict, and every warning. For a cache that
// lists less than its user expects.
//
// Usage: tamberlin-blockfileinfo <cache folder>   (the one holding index, data_0, data_1...)
// Exit status: 0 read (warnings or not), 1 an index the reader cannot read.
#include "cacheinfo.h"

#include "cache/browser/blockfile.h"
#include "cache/formats/blockfile_layout.h"

#include <cstdio>
#include <string>

namespace cacheinfo {

namespace {

using namespace browser::detail;
using formats::blockfile::EntryState;

const char* StateName(std::int32_t state) {
    switch (static_cast<EntryState>(state)) {
    case EntryState::Normal:
        return "normal";
    case EntryState::Evicted:
        return "evicted";
    case EntryState::Doomed:
        return "doomed";
    }
    return "(unknown)";
}

void PrintEntry(std::size_t number, const BlockfileEntry& e) {
    using formats::blockfile::kFlagChildEntry, formats::blockfile::kFlagParentEntry;
    std::printf("entry       %zu  address 0x%08x  %s%s%s\n", number, e.address, StateName(e.state),
                (e.flags & kFlagParentEntry) ? "  sparse parent" : "",
                (e.flags & kFlagChildEntry) ? "  sparse child" : "");
    std::printf("  key       %s\n", e.parsed.key.empty() ? "(not read)" : e.parsed.key.c_str());
    for (std::size_t i = 0; i < e.streamSizes.size(); ++i)
        if (e.streamSizes[i] != 0 || e.streamAddresses[i] != 0)
            std::printf("  stream %zu  %d bytes at 0x%08x\n", i, e.streamSizes[i],
                        e.streamAddresses[i]);
    if (e.parsed.head)
        std::printf("  status    %d\n", e.parsed.head->status);
    std::printf("  body      %llu bytes in %zu piece(s)%s%s\n",
                static_cast<unsigned long long>(e.parsed.storedSize), e.parsed.body.size(),
                e.bodyFile.empty() ? "" : ", first in ", e.bodyFile.c_str());
    std::printf("  read      %s\n", e.readable ? "yes" : "no (see the warnings)");
}

} // namespace

int BlockfileCommand(const Call& call) {
    if (call.args.size() != 1)
        return Usage(call, "<blockfile cache folder>");
    const char* folder = call.args[0];
    BlockfileFolder files(folder);
    const BlockfileContents c = ReadBlockfile(files);
    std::printf("folder      %s\n", folder);
    if (c.readable) {
        const formats::BlockfileIndexHeader& h = c.header;
        std::printf("version     %u.%u\n", h.version >> 16, h.version & 0xFFFF);
        std::printf("entries     %d counted by the index, %zu reached\n", h.entryCount,
                    c.entries.size());
        std::printf("table       %u buckets\n", h.tableLength);
        std::printf("closed      %s\n",
                    h.crashed ? "no (the browser did not close it cleanly)" : "cleanly");
        for (std::size_t i = 0; i < c.entries.size(); ++i)
            PrintEntry(i + 1, c.entries[i]);
    }
    std::printf("warnings    %zu\n", c.warnings.size());
    for (const BlockfileWarning& w : c.warnings)
        std::printf("  %s (0x%08x)\n", Describe(w.problem), w.address);
    return c.readable ? 0 : 1;
}

} // namespace cacheinfo
