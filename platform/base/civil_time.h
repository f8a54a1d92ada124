// Calendar dates and times of day against seconds since 1970, in UTC and in local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct CivilTime {
    std::int64_t year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    int hour = 0, minute = 0, second = 0;
};

int DaysInMonth(std::int64_t year, int month);
std::int64_t SecondsFromUtc(const CivilTime& t);
CivilTime CivilFromSeconds(std::int64_t secondsSince1970);
// The instant a local wall-clock time stands for (the TZ rules of the process). A time that
// a clock change skips is taken as the C library takes it; nothing when it cannot say.
std::optional<std::int64_t> SecondsFromLocal(const CivilTime& t);

// ISO 8601 in UTC to the second: 2026-01-31T12:00:00Z.
std::string IsoUtc(std::int64_t secondsSince1970);

} // namespace platform
