// The `firefox` command: one cache2 entry file (cache2/entries/<SHA-1>) as the parser reads
// it: the trailer, the metadata header, the key and its URL, the elements and where the body
// ends.
//
// Usage: tamberlin-cacheinfo firefox <entry file>
// Exit status: 0 parsed, 1 damaged, of an unknown version or encrypted, 2 unreadable.
#include "cacheinfo.h"

#include "cache/browser/source.h"
#include "cache/formats/firefox.h"
#include "cache/formats/firefox_layout.h"
#include "cache/formats/http.h"

#include <cstdio>
#include <string>

namespace cacheinfo {

namespace {

std::optional<std::int64_t> SetTime(std::uint32_t seconds) {
    return seconds == 0 ? std::nullopt : std::optional<std::int64_t>(seconds);
}

} // namespace

int FirefoxCommand(const Call& call) {
    if (call.args.size() != 1)
        return Usage(call, "<cache2 entry file>");
    browser::detail::ReadOnlyFile file;
    if (!file.open(call.args[0])) {
        std::fprintf(stderr, "%s: cannot open %s\n", call.name.c_str(), call.args[0]);
        return 2;
    }
    formats::FirefoxEntry e;
    const formats::ParseError error = formats::ParseFirefoxFile(file, e);
    std::printf("file        %s\n", call.args[0]);
    std::printf("length      %llu bytes\n", static_cast<unsigned long long>(file.size()));
    if (error == formats::ParseError::None) {
        const formats::FirefoxMetadataHeader& h = e.header;
        std::printf("trailer     %s\n", e.trailerVersion == 0 ? "old (offset only)" : "new");
        std::printf("metadata    at %llu\n", static_cast<unsigned long long>(e.metadataOffset));
        std::printf("version     %u\n", h.version);
        std::printf("fetched     %u times, last %s\n", h.fetchCount,
                    UtcText(SetTime(h.lastFetched)).c_str());
        std::printf("modified    %s\n", UtcText(SetTime(h.lastModified)).c_str());
        std::printf("expires     %s\n", UtcText(SetTime(h.expirationTime)).c_str());
        std::printf("frecency    %u\n", h.frecency);
        std::printf("flags       0x%08x\n", h.flags);
        std::printf("key         %s\n", Shown(e.key).c_str());
        std::printf("url         %s\n", Shown(formats::FirefoxKeyUrl(e.key)).c_str());
        std::printf("elements    %zu\n", e.elements.size());
        for (const formats::FirefoxElement& element : e.elements)
            std::printf("  %-18s %zu bytes\n", Shown(std::string(e.name(element))).c_str(),
                        element.valueSize);
        if (const auto head = e.element(formats::firefox::kElementResponseHead)) {
            const auto parsed = formats::ParseResponseHead(*head, '\n');
            std::printf("status      %d\n", parsed ? parsed->status : 0);
        }
        std::printf("body        %llu bytes\n", static_cast<unsigned long long>(e.bodyEnd));
    }
    std::printf("read        %s\n", ParseErrorText(error));
    return error == formats::ParseError::None ? 0 : 1;
}

} // namespace cacheinfo
