#include "platform/SystemTime.h"

#include <cmath>

namespace kairelon {
namespace {

constexpr std::int64_t kIntervalsPerMs = 10000;
constexpr std::int64_t kMsPerDay = 86400000;
// Days from 1601-01-01 to 1899-12-30, the epoch of date-time values.
constexpr std::int64_t kDays1601To1899 = 109205;

} // namespace

bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME& ft) {
    TDateTime date = 0;
    TDateTime time = 0;
    if (st.wYear < 1601 || !TryEncodeDate(st.wYear, st.wMonth, st.wDay, date) ||
        !TryEncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, time)) {
        return false;
    }
    const std::int64_t days = static_cast<std::int64_t>(date) + kDays1601To1899;
    const std::int64_t ms = days * kMsPerDay +
                            ((st.wHour * 60LL + st.wMinute) * 60 + st.wSecond) * 1000 +
                            st.wMilliseconds;
    const auto intervals = static_cast<std::uint64_t>(ms * kIntervalsPerMs);
    ft.dwLowDateTime = static_cast<std::uint32_t>(intervals);
    ft.dwHighDateTime = static_cast<std::uint32_t>(intervals >> 32);
    return true;
}

std::uint64_t FileTimeToUInt64(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& st) {
    const std::uint64_t intervals = FileTimeToUInt64(ft);
    if (intervals >= 0x8000000000000000ULL) {
        return false;
    }
    const auto ms = static_cast<std::int64_t>(intervals / kIntervalsPerMs);
    const std::int64_t days = ms / kMsPerDay - kDays1601To1899;
    if (days > 2958465) { // after 9999-12-31
        return false;
    }
    const std::int64_t msOfDay = ms % kMsPerDay;
    st = DateTimeToSystemTime(static_cast<double>(days) +
                              static_cast<double>(msOfDay) / static_cast<double>(kMsPerDay));
    return true;
}

SYSTEMTIME DateTimeToSystemTime(TDateTime value) {
    const DecodedDateTime d = DecodeDateTime(value);
    SYSTEMTIME st;
    st.wYear = static_cast<std::uint16_t>(d.year);
    st.wMonth = static_cast<std::uint16_t>(d.month);
    st.wDayOfWeek = static_cast<std::uint16_t>(d.dayOfWeek - 1);
    st.wDay = static_cast<std::uint16_t>(d.day);
    st.wHour = static_cast<std::uint16_t>(d.hour);
    st.wMinute = static_cast<std::uint16_t>(d.minute);
    st.wSecond = static_cast<std::uint16_t>(d.second);
    st.wMilliseconds = static_cast<std::uint16_t>(d.msec);
    return st;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st) {
    return EncodeDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                          st.wMilliseconds);
}

} // namespace kairelon
