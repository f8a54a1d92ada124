// Which rows --list and --save take and in what order (--since, --until, --host,
// --min-size, --sort), and what --save does besides saving (--unique, --report).
#pragma once

#include "cache/scan/found_file_list.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

enum class SortBy { ListOrder, Name, Time, Size, Url };

struct RowOptions {
    std::optional<std::int64_t> since; // cached at or after, seconds since 1970 UTC
    std::optional<std::int64_t> until; // cached at or before
    std::vector<std::string> hosts;    // lower case; a row on any of them (or a subdomain)
    std::optional<std::uint64_t> minSize;
    SortBy sort = SortBy::ListOrder;
    bool unique = false; // --save: one file per distinct decoded body
    bool report = false; // --save: also index.html and report.csv
    bool hash = false;   // --list --json: the decoded body's SHA-256
};

// Takes the option at arguments[i] (and its value, moving i past it) when it is one of
// these; false when it is not. A bad value sets error (the first one only).
bool ConsumeRowOption(const std::vector<std::string>& arguments, std::size_t& i,
                      RowOptions& options, std::string& error);
// The combinations that make no sense; empty when all is well.
std::string CheckRowOptions(const RowOptions& options, bool list, bool save, bool json);

// An ISO 8601 date (2026-01-31) or date-time (2026-01-31T12:00, ...:05, with Z, +hh:mm,
// -hhmm or nothing = local time). A bare date is that local day: its first second, or with
// endOfDay its last. Nothing (and why) when the text is not such a time.
std::optional<std::int64_t> ParseInstant(std::string_view text, bool endOfDay, std::string& why);
// A byte count: digits, then k (1024) or M (1,048,576), either case.
std::optional<std::uint64_t> ParseByteCount(std::string_view text, std::string& why);
// A host name as --host takes it, in lower case without a final dot.
std::optional<std::string> ParseHostName(std::string_view text, std::string& why);

// The host of a URL, lower case, without user, port or brackets; empty when there is none.
std::string HostOf(std::string_view url);
// The host is `wanted` or one of its subdomains.
bool HostMatches(std::string_view host, std::string_view wanted);

bool Admits(const RowOptions& options, const cache::FoundFile& row);
// The order to take rows in: positions into rows, stable (equal keys keep the list's order).
// By time oldest first, rows without a time last; by size smallest first.
std::vector<std::size_t> SortedOrder(const std::vector<const cache::FoundFile*>& rows, SortBy by);

// The list's rows that the options admit, in the order they ask for.
std::vector<const cache::FoundFile*> SelectRows(const cache::FoundFileList& list,
                                                const RowOptions& options);

} // namespace cli
