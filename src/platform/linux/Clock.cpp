// The machine's clock through clock_gettime and clock_settime on CLOCK_REALTIME.
#include "platform/Clock.h"

#include "platform/DebugOutput.h"

#include <cerrno>
#include <ctime>

namespace kairelon {
namespace {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochIntervals = 116444736000000000ULL;
constexpr std::uint64_t kIntervalsPerSecond = 10000000ULL;

// False for a record that names no real date and time, or one before 1970 that the system
// clock cannot hold.
bool ToTimespec(const SYSTEMTIME& utc, timespec& ts) {
    FILETIME ft;
    if (!SystemTimeToFileTime(utc, ft) || FileTimeToUInt64(ft) < kUnixEpochIntervals) {
        return false;
    }
    const std::uint64_t since1970 = FileTimeToUInt64(ft) - kUnixEpochIntervals;
    ts.tv_sec = static_cast<time_t>(since1970 / kIntervalsPerSecond);
    ts.tv_nsec = static_cast<long>(since1970 % kIntervalsPerSecond) * 100L;
    return true;
}

SYSTEMTIME ReadRealtime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const std::uint64_t intervals = kUnixEpochIntervals +
                                    static_cast<std::uint64_t>(ts.tv_sec) * kIntervalsPerSecond +
                                    static_cast<std::uint64_t>(ts.tv_nsec) / 100U;
    SYSTEMTIME st;
    FileTimeToSystemTime(FILETIME{static_cast<std::uint32_t>(intervals),
                                  static_cast<std::uint32_t>(intervals >> 32)},
                         st);
    return st;
}

} // namespace

std::int64_t BootTimeNs() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t CClock::MonotonicNs() {
    return BootTimeNs();
}

SYSTEMTIME CRealClock::GetSystemTime() {
    return ReadRealtime();
}

int CRealClock::SetSystemTime(const SYSTEMTIME& utc) {
    timespec ts{};
    if (!ToTimespec(utc, ts)) {
        return EINVAL;
    }
    return clock_settime(CLOCK_REALTIME, &ts) == 0 ? 0 : errno;
}

SYSTEMTIME CDryRunClock::GetSystemTime() {
    return ReadRealtime();
}

int CDryRunClock::SetSystemTime(const SYSTEMTIME& utc) {
    timespec ts{};
    if (!ToTimespec(utc, ts)) {
        return EINVAL;
    }
    OutputDebugString("would set the clock to " + SystemTimeText(utc) + " UTC");
    return 0;
}

} // namespace kairelon
