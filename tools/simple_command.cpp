// The `simple` command: one file of a Chromium Simple Cache as the parser reads it, told apart
// by its magic number: an entry's stream file (<hash>_0: the key, the EOF records, the
// response and where the body is), its sparse file (<hash>_s: the ranges) or the index
// (index-dir/the-real-index: the entries with their last-used times).
//
// Usage: tamberlin-cacheinfo simple <file>
// Exit status: 0 parsed, 1 damaged, of an unknown version or not a Simple Cache file,
// 2 unreadable.
#include "cacheinfo.h"

#include "cache/browser/source.h"
#include "cache/formats/http.h"
#include "cache/formats/simple.h"
#include "cache/formats/simple_layout.h"
#include "platform/base/endian.h"
#include "platform/base/unix_time.h"

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace cacheinfo {

namespace {

using namespace formats::simple;

// Longer than any key a browser writes; a longer one is damage, not read.
constexpr std::uint64_t kMaxKeyShown = 1024ull * 1024;

int PrintEntry(const formats::Source& file) {
    formats::SimpleEntry e;
    const formats::ParseError error = formats::ParseSimpleEntryFile(file, e);
    std::printf("kind        entry (stream file)\n");
    if (error == formats::ParseError::None) {
        std::printf("version     %u\n", e.header.version);
        std::printf("key         %s\n", Shown(e.key).c_str());
        std::printf("url         %s\n", Shown(formats::ChromiumKeyUrl(e.key)).c_str());
        std::printf("stream 0    %zu bytes, flags 0x%x\n", e.responseInfo.size(), e.eof0.flags);
        std::printf("stream 1    %llu bytes at %llu, flags 0x%x\n",
                    static_cast<unsigned long long>(e.bodySize),
                    static_cast<unsigned long long>(e.bodyAt), e.eof1.flags);
        const formats::ResponseInfo info = formats::ParseResponseInfo(e.responseInfo);
        std::printf("status      %d%s\n", info.head ? info.head->status : 0,
                    info.truncated ? " (truncated)" : "");
        std::printf("stored      %s\n",
                    UtcText(platform::UnixSecondsFromMicrosSince1601(info.responseTime)).c_str());
    }
    std::printf("read        %s\n", ParseErrorText(error));
    return error == formats::ParseError::None ? 0 : 1;
}

int PrintSparse(const formats::Source& file, const platform::ByteReader& header) {
    std::printf("kind        sparse file\n");
    // The parser checks the stored key against the entry's; here the entry is the file's own.
    const std::uint64_t keyLength = header.u32(kHeaderKeyLengthAt);
    std::string key;
    std::vector<formats::SimpleSparseRange> ranges;
    formats::ParseError error = formats::ParseError::Damaged;
    if (keyLength <= kMaxKeyShown && keyLength <= file.size() - kHeaderSize) {
        key.resize(static_cast<std::size_t>(keyLength));
        if (file.readAt(kHeaderSize, key.data(), key.size()))
            error = formats::ParseSimpleSparseFile(file, key, ranges);
    }
    if (error == formats::ParseError::None) {
        std::printf("key         %s\n", Shown(key).c_str());
        std::printf("ranges      %zu\n", ranges.size());
        for (const formats::SimpleSparseRange& r : ranges)
            std::printf("  %llu bytes of the resource at %llu, in the file at %llu\n",
                        static_cast<unsigned long long>(r.length),
                        static_cast<unsigned long long>(r.offset),
                        static_cast<unsigned long long>(r.fileOffset));
    }
    std::printf("read        %s\n", ParseErrorText(error));
    return error == formats::ParseError::None ? 0 : 1;
}

int PrintIndex(const formats::Source& file) {
    std::printf("kind        index\n");
    formats::SimpleIndex index;
    const bool read = formats::ParseSimpleIndex(file, index);
    if (read) {
        std::printf("version     %u\n", index.version);
        std::printf("cache size  %llu bytes\n", static_cast<unsigned long long>(index.cacheSize));
        std::printf("entries     %zu\n", index.entries.size());
        for (const formats::SimpleIndexEntry& e : index.entries)
            std::printf("  %016llx  used %s\n", static_cast<unsigned long long>(e.hash),
                        UtcText(platform::UnixSecondsFromMicrosSince1601(e.lastUsed)).c_str());
    }
    std::printf("read        %s\n",
                read ? "yes" : "no (damaged, of another version or its CRC fails)");
    return read ? 0 : 1;
}

} // namespace

int SimpleCommand(const Call& call) {
    if (call.args.size() != 1)
        return Usage(call, "<Simple Cache file>");
    browser::detail::ReadOnlyFile file;
    if (!file.open(call.args[0])) {
        std::fprintf(stderr, "%s: cannot open %s\n", call.name.c_str(), call.args[0]);
        return 2;
    }
    std::printf("file        %s\n", call.args[0]);
    std::printf("length      %llu bytes\n", static_cast<unsigned long long>(file.size()));
    std::array<std::uint8_t, kHeaderSize> head{};
    const platform::ByteReader r(file.readAt(0, head.data(), head.size())
                                     ? std::span<const std::uint8_t>(head)
                                     : std::span<const std::uint8_t>());
    // A sparse file has the entry file's header and magic, with a later version; so has the
    // small `index` file beside index-dir, which holds nothing else.
    const std::uint32_t version = r.u32(kHeaderVersionAt);
    const std::string_view path = call.args[0];
    if (r.u64(kHeaderMagicAt) == kInitialMagic &&
        path.substr(path.rfind('/') + 1) == kSmallIndexName) {
        std::printf("kind        the small index beside index-dir\n");
        std::printf("version     %u\n", version);
        return 0;
    }
    if (r.u64(kHeaderMagicAt) == kInitialMagic)
        return version >= kSparseVersionMin && version <= kSparseVersionMax ? PrintSparse(file, r)
                                                                            : PrintEntry(file);
    if (r.u64(kIndexMagicAt) == kIndexMagic)
        return PrintIndex(file);
    std::printf("read        no (not a Simple Cache entry, sparse or index file)\n");
    return 1;
}

} // namespace cacheinfo
