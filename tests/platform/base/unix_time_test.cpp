#include "platform/base/unix_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace {

constexpr std::int64_t kFixtureDay = 1796688000;        // 2026-12-08 00:00 UTC
constexpr std::int64_t kEpochDelta = 11644473600000000; // 1601 -> 1970, microseconds

TEST(ChromiumTimes, ZeroAndImpossibleTimesAreAbsent) {
    constexpr auto UnixSeconds = platform::UnixSecondsFromMicrosSince1601;
    EXPECT_EQ(UnixSeconds(0), std::nullopt);
    EXPECT_EQ(UnixSeconds(kEpochDelta), std::nullopt); // 1970 itself: an unset field
    EXPECT_EQ(UnixSeconds(kEpochDelta + 1796688000000000), kFixtureDay);
    EXPECT_EQ(UnixSeconds(INT64_MAX), std::nullopt); // past the year 9999
}

} // namespace
