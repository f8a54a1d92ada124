// Times as the caches and indexes store them, as seconds since 1970 UTC: one function per unit
// a file stores, named for it.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

// Microseconds since 1601 (Chromium's stored times); nothing for 0, for anything before 1970
// and for anything past the year 9999, which no clock wrote.
constexpr std::optional<std::int64_t> UnixSecondsFromMicrosSince1601(std::int64_t micros) {
    constexpr std::int64_t kEpochDelta = 11644473600000000ll; // 1601 -> 1970, microseconds
    constexpr std::int64_t kYear10000 = 253402300800ll;       // seconds since 1970
    if (micros <= kEpochDelta || (micros - kEpochDelta) / 1000000 >= kYear10000)
        return std::nullopt;
    return (micros - kEpochDelta) / 1000000;
}

} // namespace platform
