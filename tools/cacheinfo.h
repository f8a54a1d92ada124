// tamberlin-cacheinfo: what the program's readers make of a cache, one command per format, for
// users who report a cache that does not list and for us when we read their report. Each
// command prints the records as parsed, then its verdict; nothing is written to the cache.
#pragma once

#include "cache/formats/source.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cacheinfo {

// A command's arguments (those after its name) and the name it was called by, for messages
// ("tamberlin-cacheinfo index", or "tamberlin-indexinfo" when called by that name).
struct Call {
    std::string name;
    std::span<char* const> args;
};

// Each returns the exit status: 0 read (warnings or not), 1 not a cache or record the reader
// knows, 2 a usage error or a file that cannot be opened.
int IndexCommand(const Call& call);     // a WinINet index.dat
int BlockfileCommand(const Call& call); // a Chromium blockfile cache folder
int SimpleCommand(const Call& call);    // a Simple Cache entry, sparse or index file
int FirefoxCommand(const Call& call);   // a cache2 entry file
int SqlCommand(const Call& call);       // a Chromium SQL cache folder
int WebKitCommand(const Call& call);    // a WebKit NetworkCache folder
int ImageCommand(const Call& call);     // a disk image: its file systems

// Seconds since 1970 as "YYYY-MM-DD hh:mm:ss UTC"; "(not set)" for nothing.
std::string UtcText(std::optional<std::int64_t> seconds);
// Text from a cache as one line for the terminal, as the command line lists it (TsvField).
std::string Shown(std::string_view text);
// What a parse's error says to a user: "yes" for none.
const char* ParseErrorText(formats::ParseError error);
// Prints "usage: <name> <what>" and returns 2.
int Usage(const Call& call, const char* what);

} // namespace cacheinfo
