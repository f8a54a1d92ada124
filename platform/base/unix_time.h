// Times as the caches and indexes store them, as seconds since 1970 UTC: one function per unit
// a file stores, named for it.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace platform {

// Windows FILETIME: 100-nanosecond ticks since 1601 UTC.
inline constexpr std::uint64_t kFiletimeTicksTo1970 = 116444736000000000ull;
inline constexpr std::uint64_t kFiletimeTicksPerSecond = 10000000ull;
// The first second of the year 10000, past anything a clock wrote.
inline constexpr std::int64_t kUnixSecondsOfYear10000 = 253402300800ll;

// A FILETIME at or after 1970 as whole seconds since 1970, whatever the year (a dump shows
// what is stored).
constexpr std::uint64_t UnixSecondsFromWindowsFiletimeSince1970(std::uint64_t ticks) {
    return (ticks - kFiletimeTicksTo1970) / kFiletimeTicksPerSecond;
}
// A FILETIME (WinINet's index) as seconds since 1970; nothing when unset (0) or outside 1970
// to 9999.
constexpr std::optional<std::int64_t> UnixSecondsFromWindowsFiletime(std::uint64_t ticks) {
    if (ticks <= kFiletimeTicksTo1970 || UnixSecondsFromWindowsFiletimeSince1970(ticks) >=
                                             static_cast<std::uint64_t>(kUnixSecondsOfYear10000))
        return std::nullopt;
    return static_cast<std::int64_t>(UnixSecondsFromWindowsFiletimeSince1970(ticks));
}
// Seconds since 1970 (not before) as a FILETIME.
constexpr std::uint64_t WindowsFiletimeFromUnixSeconds(std::int64_t seconds) {
    return kFiletimeTicksTo1970 + static_cast<std::uint64_t>(seconds) * kFiletimeTicksPerSecond;
}

// Microseconds since 1601 (Chromium's stored times); nothing for 0, for anything before 1970
// and for anything past the year 9999, which no clock wrote.
constexpr std::optional<std::int64_t> UnixSecondsFromMicrosSince1601(std::int64_t micros) {
    constexpr std::int64_t kEpochDelta = 11644473600000000ll; // 1601 -> 1970, microseconds
    if (micros <= kEpochDelta || (micros - kEpochDelta) / 1000000 >= kUnixSecondsOfYear10000)
        return std::nullopt;
    return (micros - kEpochDelta) / 1000000;
}

// Seconds since 1970 as a floating-point number (WebKit's stored times), whole seconds
// taken; nothing for what is not a number, for 1970 and before and for anything past the year
// 9999.
inline std::optional<std::int64_t> UnixSecondsFromFractionalSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0 ||
        seconds >= static_cast<double>(kUnixSecondsOfYear10000))
        return std::nullopt;
    return static_cast<std::int64_t>(seconds);
}

} // namespace platform
