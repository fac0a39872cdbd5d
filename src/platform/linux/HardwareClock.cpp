// The RTC through the kernel's rtc driver: RTC_SET_TIME on /dev/rtc0, or /dev/rtc where the
// numbered device is missing. Opened for this one write and closed again.
#include "platform/HardwareClock.h"

#include <fcntl.h>
#include <linux/rtc.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace kairelon {

int CSystemHardwareClock::SetReading(const SYSTEMTIME& reading) {
    int fd = -1;
    int openError = ENOENT;
    for (const char* path : {"/dev/rtc0", "/dev/rtc"}) {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            device_ = path;
            break;
        }
        if (errno != ENOENT) {
            // The device is there but cannot be opened (no right to it): that is worth saying.
            device_ = path;
            return errno;
        }
        openError = errno;
    }
    if (fd < 0) {
        return openError;
    }
    rtc_time tm{};
    tm.tm_year = reading.wYear - 1900;
    tm.tm_mon = reading.wMonth - 1;
    tm.tm_mday = reading.wDay;
    tm.tm_hour = reading.wHour;
    tm.tm_min = reading.wMinute;
    tm.tm_sec = reading.wSecond;
    tm.tm_wday = reading.wDayOfWeek;
    tm.tm_isdst = 0;
    const int result = ::ioctl(fd, RTC_SET_TIME, &tm) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

std::string CSystemHardwareClock::Device() const {
    return device_;
}

} // namespace kairelon
