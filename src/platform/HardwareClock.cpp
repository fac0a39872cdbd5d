// The parts of the hardware clock that do not touch a device: the fake, the adjtime rule and
// the conversion of the reading.
#include "platform/HardwareClock.h"

#include <cerrno>
#include <ctime>
#include <fstream>
#include <sstream>

namespace kairelon {
namespace {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01, and in a second.
constexpr std::uint64_t kUnixEpochIntervals = 116444736000000000ULL;
constexpr std::uint64_t kIntervalsPerSecond = 10000000ULL;

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

SYSTEMTIME FromTm(const std::tm& tm) {
    SYSTEMTIME st;
    st.wYear = static_cast<std::uint16_t>(tm.tm_year + 1900);
    st.wMonth = static_cast<std::uint16_t>(tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    st.wDay = static_cast<std::uint16_t>(tm.tm_mday);
    st.wHour = static_cast<std::uint16_t>(tm.tm_hour);
    st.wMinute = static_cast<std::uint16_t>(tm.tm_min);
    st.wSecond = static_cast<std::uint16_t>(tm.tm_sec);
    return st;
}

} // namespace

bool AdjtimeSaysLocal(const std::string& adjtimeText) {
    std::istringstream in(adjtimeText);
    std::string line;
    for (int i = 0; i < 3; ++i) {
        if (!std::getline(in, line)) {
            return false;
        }
    }
    const std::size_t first = line.find_first_not_of(" \t\r");
    const std::size_t last = line.find_last_not_of(" \t\r");
    return first != std::string::npos && line.substr(first, last - first + 1) == "LOCAL";
}

THardwareClockOutcome WriteHardwareClock(CHardwareClock& rtc, const SYSTEMTIME& utc) {
    THardwareClockOutcome outcome;
    FILETIME ft;
    if (!SystemTimeToFileTime(utc, ft) || FileTimeToUInt64(ft) < kUnixEpochIntervals) {
        outcome.error = EINVAL;
        outcome.device = rtc.Device();
        return outcome;
    }
    // The RTC counts whole seconds: the nearest one is at most half a second off.
    const std::uint64_t since1970 =
        FileTimeToUInt64(ft) - kUnixEpochIntervals + kIntervalsPerSecond / 2;
    const auto seconds = static_cast<std::time_t>(since1970 / kIntervalsPerSecond);
    std::tm tm{};
    const bool local = AdjtimeSaysLocal(ReadWholeFile(rtc.AdjtimePath()));
    if ((local ? localtime_r(&seconds, &tm) : gmtime_r(&seconds, &tm)) == nullptr) {
        outcome.error = EOVERFLOW;
        outcome.device = rtc.Device();
        return outcome;
    }
    const int error = rtc.SetReading(FromTm(tm));
    outcome.device = rtc.Device();
    if (error == ENOENT || error == ENODEV || error == ENXIO) {
        return outcome; // no RTC on this machine: nothing to keep right
    }
    outcome.error = error;
    outcome.written = error == 0;
    return outcome;
}

int CFakeHardwareClock::SetReading(const SYSTEMTIME& reading) {
    std::lock_guard lock(mutex_);
    ++attempts_;
    if (refusal_ != 0) {
        return refusal_;
    }
    readings_.push_back(reading);
    return 0;
}

void CFakeHardwareClock::RefuseWith(int error) {
    std::lock_guard lock(mutex_);
    refusal_ = error;
}

std::vector<SYSTEMTIME> CFakeHardwareClock::Readings() const {
    std::lock_guard lock(mutex_);
    return readings_;
}

int CFakeHardwareClock::Attempts() const {
    std::lock_guard lock(mutex_);
    return attempts_;
}

} // namespace kairelon
