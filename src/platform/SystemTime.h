// The system's date-time records.
//
// `SYSTEMTIME` is a calendar date and time in fields (day of week 0 = Sunday); `FILETIME`
// counts 100-nanosecond intervals since 1 January 1601 UTC in two 32-bit halves. These are the
// records the clock-setting route, the service hand-over ("NewTime" is a SYSTEMTIME's 16
// bytes) and the clock difference work with; the conversions here are pure arithmetic and
// never read the clock.
#pragma once

#include "framework/DateTime.h"

#include <cstdint>

namespace kairelon {

struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;     // 1..12
    std::uint16_t wDayOfWeek = 0; // 0 = Sunday .. 6 = Saturday
    std::uint16_t wDay = 0;       // 1..31
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};
static_assert(sizeof(SYSTEMTIME) == 16);

struct FILETIME {
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;
};

// False (result untouched) when a field is out of range or the year is before 1601; the day
// of week is not checked, as the system's conversion ignores it.
bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME& ft);
bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& st);
std::uint64_t FileTimeToUInt64(const FILETIME& ft);

// Between the records and the framework's date-time values (no time zone involved).
SYSTEMTIME DateTimeToSystemTime(TDateTime value);
TDateTime SystemTimeToDateTime(const SYSTEMTIME& st); // EConvertError when invalid

} // namespace kairelon
