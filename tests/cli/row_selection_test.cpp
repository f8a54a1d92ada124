// The filters' values at their edges, which rows they admit, and the sort orders.
#include "cli/command_line.h"
#include "cli/row_selection.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sstream>

namespace {

using cache::FoundFile;

constexpr std::int64_t kJan1 = 1767225600; // 2026-01-01T00:00:00Z
constexpr std::int64_t kHour = 3600;

TEST(RowSelection, InstantsInIso8601AtTheirEdges) {
    // A fixed zone three hours east of UTC, with no clock changes, needs no zone database.
    testing_support::ScopedEnv tz("TZ", "XYZ-3");
    ::tzset();
    struct Case {
        const char* text;
        bool until;
        std::optional<std::int64_t> seconds;
    };
    const Case cases[] = {
        {"2026-01-01", false, kJan1 - 3 * kHour},         // the local day's first second
        {"2026-01-01", true, kJan1 + 21 * kHour - 1},     // ... and its last
        {"2026-02-28", true, 1772323200 - 3 * kHour - 1}, // through the month's last day
        {"2024-02-29", false, 1709154000},                // a leap day
        {"2026-01-01T12:00Z", false, kJan1 + 12 * kHour}, // a time is that instant
        {"2026-01-01T12:00Z", true, kJan1 + 12 * kHour},  // for --until too
        {"2026-01-01t12:00z", false, kJan1 + 12 * kHour}, // either case
        {"2026-01-01T12:00:30+01:00", false, kJan1 + 11 * kHour + 30},
        {"2026-01-01T12:00:30.25-0130", false, kJan1 + 13 * kHour + 1800 + 30},
        {"2026-01-01T12:00:30+01", false, kJan1 + 11 * kHour + 30},
        {"2026-01-01 12:00", false, kJan1 + 9 * kHour}, // no zone: local time
        {"2025-02-29", false, std::nullopt},
        {"2026-13-01", false, std::nullopt},
        {"2026-1-01", false, std::nullopt},
        {"2026-01-01T24:00", false, std::nullopt},
        {"2026-01-01T12:60", false, std::nullopt},
        {"2026-01-01Z", false, std::nullopt},
        {"2026-01-01T12:00+24:00", false, std::nullopt},
        {"2026-01-01T12:00:30.", false, std::nullopt},
        {"2026-01-01T12:00 ", false, std::nullopt},
        {"yesterday", false, std::nullopt},
        {"", false, std::nullopt},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(cli::ParseInstant(c.text, c.until, why), c.seconds) << c.text;
        EXPECT_EQ(why.empty(), c.seconds.has_value()) << c.text << ": " << why;
    }
}

TEST(RowSelection, ByteCountsWithUnits) {
    const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
        {"0", 0},
        {"500", 500},
        {"1k", 1024},
        {"1K", 1024},
        {"2M", 2097152},
        {"3m", 3145728},
        {"18446744073709551615", 18446744073709551615ull},
        {"18446744073709551616", std::nullopt},
        {"18014398509481984k", std::nullopt},
        {"", std::nullopt},
        {"k", std::nullopt},
        {"1.5k", std::nullopt},
        {"1kb", std::nullopt},
        {"-1", std::nullopt},
        {"1G", std::nullopt},
    };
    for (const auto& [text, bytes] : cases) {
        std::string why;
        EXPECT_EQ(cli::ParseByteCount(text, why), bytes) << text;
    }
}

TEST(RowSelection, HostsMatchThemselvesAndSubdomainsOnly) {
    struct Case {
        const char* url;
        const char* host;
        bool matches;
    };
    const Case cases[] = {
        {"http://example.org/a.png", "example.org", true},
        {"https://CDN.Example.ORG:8443/x.jpg", "Example.org", true},
        {"http://user@www.example.org./p", "example.org.", true},
        {"http://notexample.org/a.png", "example.org", false},
        {"http://example.org.evil.net/a.png", "example.org", false},
        {"http://example.org@evil.net/a.png", "example.org", false},
        {"http://evil.net\\@example.org/a.png", "example.org", false},
        {"http://evil.net/?u=http://example.org/", "example.org", false},
        {"http://example.org", "www.example.org", false},
        {"http://[::1]:8080/a.png", "[::1]", true},
        {"about:home", "example.org", false},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto wanted = cli::ParseHostName(c.host, why);
        ASSERT_TRUE(wanted) << c.host << ": " << why;
        EXPECT_EQ(cli::HostMatches(cli::HostOf(c.url), *wanted), c.matches) << c.url;
    }
    for (const char* bad : {"", ".", "https://example.org", "example.org/a", "exa mple.org", "a..b",
                            ".example.org", "b\303\274cher.de", "[example]"}) {
        std::string why;
        EXPECT_FALSE(cli::ParseHostName(bad, why)) << bad;
    }
}

TEST(RowSelection, FiltersAtTheirEdgesAndRowsWithoutTheFact) {
    cli::RowOptions o;
    o.since = kJan1;
    o.until = kJan1 + 100;
    o.minSize = 500;
    auto row = [](std::optional<std::int64_t> cached, std::optional<std::uint64_t> size) {
        FoundFile f;
        f.url = "http://example.org/a.png";
        f.cached = cached;
        f.size = size;
        return f;
    };
    EXPECT_TRUE(cli::Admits(o, row(kJan1, 500)));
    EXPECT_TRUE(cli::Admits(o, row(kJan1 + 100, 500)));
    EXPECT_FALSE(cli::Admits(o, row(kJan1 - 1, 500)));
    EXPECT_FALSE(cli::Admits(o, row(kJan1 + 101, 500)));
    EXPECT_FALSE(cli::Admits(o, row(kJan1, 499)));
    EXPECT_FALSE(cli::Admits(o, row(std::nullopt, 500))); // no time: cannot be shown to match
    EXPECT_FALSE(cli::Admits(o, row(kJan1, std::nullopt)));
    EXPECT_TRUE(cli::Admits({}, row(std::nullopt, std::nullopt)));
}

TEST(RowSelection, SortsAreStableAndPutMissingValuesLast) {
    std::vector<FoundFile> found(5);
    const std::optional<std::int64_t> times[] = {std::nullopt, 5, 3, 5, 1};
    const std::optional<std::uint64_t> sizes[] = {9, std::nullopt, 9, 1, 4};
    const char* urls[] = {"http://b/", "http://a/2", "http://c/", "http://a/1", "http://a/2"};
    const char* names[] = {"d.png", "b.png", "e.png", "a.png", "c.png"};
    std::vector<const FoundFile*> rows;
    for (std::size_t i = 0; i < found.size(); ++i) {
        found[i].cached = times[i];
        found[i].size = sizes[i];
        found[i].url = urls[i];
        found[i].fileName = names[i];
        rows.push_back(&found[i]);
    }
    using V = std::vector<std::size_t>;
    EXPECT_EQ(cli::SortedOrder(rows, cli::SortBy::ListOrder), (V{0, 1, 2, 3, 4}));
    EXPECT_EQ(cli::SortedOrder(rows, cli::SortBy::Time), (V{4, 2, 1, 3, 0}));
    EXPECT_EQ(cli::SortedOrder(rows, cli::SortBy::Size), (V{3, 4, 0, 2, 1}));
    EXPECT_EQ(cli::SortedOrder(rows, cli::SortBy::Url), (V{3, 1, 4, 0, 2}));
    EXPECT_EQ(cli::SortedOrder(rows, cli::SortBy::Name), (V{3, 1, 4, 0, 2}));
}

TEST(RowSelection, BadValuesAreUsageErrorsNamingTheOption) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--list", "--since", "2026-02-30"}, "'--since 2026-02-30'"},
        {{"--list", "--until"}, "'--until' needs a value"},
        {{"--list", "--host=https://example.org"}, "'--host https://example.org'"},
        {{"--list", "--min-size", "1kb"}, "'--min-size 1kb'"},
        {{"--list", "--sort", "colour"}, "'--sort colour'"},
        {{"--list", "--unique"}, "'--unique' goes with '--save'"},
        {{"--list", "--report"}, "'--report' goes with '--save'"},
        {{"--list", "--hash"}, "'--hash' goes with '--list --json'"},
        {{"--host", "example.org"}, "go with '--list' or '--save'"},
        {{"--list", "--since", "2026-02-02T00:00Z", "--until", "2026-02-01"}, "later than"},
        // One value each: a second one is a mistake, not a choice to guess at.
        {{"--list", "--sort", "name", "--sort=size"}, "'--sort' is given twice"},
        {{"--list", "--since=2026-01-01", "--since", "2026-02-01"}, "'--since' is given twice"},
        {{"--list", "--until=2026-01-01", "--until=2026-01-01"}, "'--until' is given twice"},
        {{"--list", "--min-size", "1", "--min-size", "2"}, "'--min-size' is given twice"},
    };
    for (const auto& [arguments, message] : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(cli::RunCommandLine(cli::ParseCommandLine(arguments), {out, err, false}),
                  cli::kExitUsage);
        EXPECT_NE(err.str().find(message), std::string::npos) << err.str();
    }
}

} // namespace
