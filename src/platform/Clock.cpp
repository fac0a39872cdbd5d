// The parts of the clock that do not touch the system: the fake clock and the log text.
#include "platform/Clock.h"

#include "framework/Format.h"

#include <cerrno>

namespace kairelon {

std::string SystemTimeText(const SYSTEMTIME& st) {
    return Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond, st.wMilliseconds);
}

CFakeClock::CFakeClock(const SYSTEMTIME& start) : now_(start) {}

SYSTEMTIME CFakeClock::GetSystemTime() {
    std::lock_guard lock(mutex_);
    return now_;
}

int CFakeClock::SetSystemTime(const SYSTEMTIME& utc) {
    std::lock_guard lock(mutex_);
    if (refusal_ != 0) {
        return refusal_;
    }
    FILETIME ft;
    if (!SystemTimeToFileTime(utc, ft)) {
        return EINVAL;
    }
    FileTimeToSystemTime(ft, now_); // fills in the day of week as a real clock would
    sets_.push_back(utc);
    return 0;
}

void CFakeClock::RefuseWith(int error) {
    std::lock_guard lock(mutex_);
    refusal_ = error;
}

std::vector<SYSTEMTIME> CFakeClock::SetCalls() const {
    std::lock_guard lock(mutex_);
    return sets_;
}

std::int64_t CFakeClock::MonotonicNs() {
    std::lock_guard lock(mutex_);
    return monotonicNs_;
}

void CFakeClock::Advance(int milliseconds) {
    std::lock_guard lock(mutex_);
    monotonicNs_ += static_cast<std::int64_t>(milliseconds) * 1000000;
    FILETIME ft;
    if (!SystemTimeToFileTime(now_, ft)) {
        return;
    }
    const std::uint64_t moved =
        FileTimeToUInt64(ft) +
        static_cast<std::uint64_t>(static_cast<std::int64_t>(milliseconds) * 10000);
    FileTimeToSystemTime(
        FILETIME{static_cast<std::uint32_t>(moved), static_cast<std::uint32_t>(moved >> 32)}, now_);
}

THardwareClockOutcome CopyToHardwareClock(CClock& clock) {
    CHardwareClock* rtc = clock.HardwareClock();
    return rtc == nullptr ? THardwareClockOutcome{}
                          : WriteHardwareClock(*rtc, clock.GetSystemTime());
}

} // namespace kairelon
