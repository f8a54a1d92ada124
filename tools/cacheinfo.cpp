// tamberlin-cacheinfo <command> <file or folder>: the dispatch to each format's command. Called
// as tamberlin-indexinfo or tamberlin-blockfileinfo (the names the man page and users' scripts
// know), it runs that command with the arguments given.
#include "cacheinfo.h"

#include "platform/base/escape.h"

#include <cstdio>
#include <ctime>
#include <string_view>

namespace cacheinfo {

std::string UtcText(std::optional<std::int64_t> seconds) {
    if (!seconds)
        return "(not set)";
    const auto t = static_cast<std::time_t>(*seconds);
    std::tm tm{};
    char text[32];
    if (gmtime_r(&t, &tm) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) == 0)
        return "(out of range)";
    return text;
}

std::string Shown(std::string_view text) {
    return platform::TsvField(text);
}

const char* ParseErrorText(formats::ParseError error) {
    switch (error) {
    case formats::ParseError::None:
        return "yes";
    case formats::ParseError::Damaged:
        return "no (damaged)";
    case formats::ParseError::UnknownVersion:
        return "no (a version the reader does not know)";
    case formats::ParseError::Encrypted:
        return "no (encrypted)";
    }
    return "no";
}

int Usage(const Call& call, const char* what) {
    std::fprintf(stderr, "usage: %s %s\n", call.name.c_str(), what);
    return 2;
}

} // namespace cacheinfo

namespace {

struct Command {
    std::string_view name;
    std::string_view alias; // the program name that runs it alone, or ""
    int (*run)(const cacheinfo::Call&);
    const char* what;
};

constexpr Command kCommands[] = {
    {"index", "tamberlin-indexinfo", cacheinfo::IndexCommand, "a WinINet index.dat"},
    {"blockfile", "tamberlin-blockfileinfo", cacheinfo::BlockfileCommand,
     "a Chromium blockfile cache folder (index, data_0...)"},
    {"simple", "", cacheinfo::SimpleCommand,
     "a Chromium Simple Cache file (<hash>_0, <hash>_s or index-dir/the-real-index)"},
    {"firefox", "", cacheinfo::FirefoxCommand, "a Firefox cache2 entry file"},
    {"sql", "", cacheinfo::SqlCommand, "a Chromium SQL cache folder (index, sqldb0...)"},
    {"webkit", "", cacheinfo::WebKitCommand,
     "a WebKit cache folder (WebKitCache or NetworkCache, holding \"Version N\")"},
    {"image", "", cacheinfo::ImageCommand,
     "a disk image (raw, split, E01, AFF, VHD, VMDK): its partitions and file systems"},
};

std::string_view BaseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

int main(int argc, char** argv) {
    const std::span<char* const> all(argv, static_cast<std::size_t>(argc));
    const std::string_view program = argc > 0 ? BaseName(argv[0]) : "tamberlin-cacheinfo";
    for (const Command& c : kCommands)
        if (!c.alias.empty() && program == c.alias)
            return c.run({argv[0], all.subspan(1)});
    if (argc >= 2)
        for (const Command& c : kCommands)
            if (c.name == argv[1])
                return c.run({std::string(argv[0]) + " " + argv[1], all.subspan(2)});
    std::fprintf(stderr, "usage: %s <command> <file or folder>\n", argv[0]);
    for (const Command& c : kCommands)
        std::fprintf(stderr, "  %-10s %s\n", std::string(c.name).c_str(), c.what);
    return 2;
}
