// The service's checks of "NewTime", "OldTime", "OldTimeUtc" and "NewTimeBoot" on arbitrary
// bytes, as any member of the service's group could write them: never crash, and accept only
// what the program writes.
#include "daemons/ClockService.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kairelon;
    // The first byte splits the input between the two values.
    const std::size_t split = size == 0 ? 0 : std::min<std::size_t>(data[0], size - 1);
    const std::vector<std::uint8_t> newTime(data + (size ? 1 : 0), data + (size ? 1 + split : 0));
    const std::vector<std::uint8_t> oldTime(data + (size ? 1 + split : 0), data + size);

    SYSTEMTIME utc;
    if (CheckNewTime(newTime, utc).empty()) {
        FILETIME ft;
        if (newTime.size() != 16 || utc.wDayOfWeek != 0 || utc.wMilliseconds > 999 ||
            utc.wYear < 1970 || !SystemTimeToFileTime(utc, ft)) {
            std::abort();
        }
    }
    double now = 0.5;
    if (oldTime.size() >= 8) {
        std::memcpy(&now, oldTime.data(), 8);
        now = std::fmod(now, 1.0); // any time of day; NaN for NaN and the infinities
        if (!(now >= 0.0 && now < 1.0)) {
            now = 0.5;
        }
    }
    CheckHandOverAge(oldTime, now);

    // The same bytes as "OldTimeUtc", against a service clock taken from them as well.
    std::int64_t nowMs = 1796763930000;
    if (newTime.size() >= 8) {
        std::memcpy(&nowMs, newTime.data(), 8);
        nowMs = nowMs % (std::int64_t{1} << 50); // any moment the clock can show
    }
    if (CheckHandOverAgeUtc(oldTime, nowMs).empty()) {
        if (oldTime.size() != 8) {
            std::abort();
        }
        std::int64_t stamp = 0;
        std::memcpy(&stamp, oldTime.data(), 8);   // the fuzzing machine is little endian
        const std::int64_t apart = nowMs - stamp; // both lie within 2^50 when accepted
        if (apart > MaxHandOverAgeMs || apart < -1000) {
            std::abort();
        }
    }

    // The same bytes as "NewTimeBoot" (with the "OldTimeUtc" they name, or another one), against
    // a boot-time clock taken from them: an accepted instant lies at most MaxHandOverAgeMs back
    // and 1 ms ahead, and moving the time on by it gives a real time.
    for (const bool sameStamp : {true, false}) {
        const std::vector<std::uint8_t> stamp =
            newTime.size() >= 16 && sameStamp
                ? std::vector<std::uint8_t>(newTime.begin() + 8, newTime.begin() + 16)
                : std::vector<std::uint8_t>(8, 0x5a);
        const std::int64_t nowNs = static_cast<std::int64_t>(size) * 1000000007LL;
        std::optional<std::int64_t> elapsed;
        if (CheckNewTimeBoot(newTime, stamp, nowNs, elapsed).empty() && elapsed) {
            if (newTime.size() != 16 || *elapsed > std::int64_t{MaxHandOverAgeMs} * 1000000 ||
                *elapsed < -1000000) {
                std::abort();
            }
            FILETIME ft;
            const SYSTEMTIME moved = MovedOn(SYSTEMTIME{2026, 12, 0, 9, 23, 59, 59, 999}, *elapsed);
            if (!SystemTimeToFileTime(moved, ft)) {
                std::abort();
            }
        }
    }
    return 0;
}
