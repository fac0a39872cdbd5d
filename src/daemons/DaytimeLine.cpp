#include "daemons/DaytimeLine.h"

#include "framework/DateTime.h"

namespace kairelon {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMjdOfUnixEpoch = 40587; // 1970-01-01

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int Mod(std::int64_t a, int b) {
    return static_cast<int>(((a % b) + b) % b);
}

} // namespace

std::int64_t ModifiedJulianDate(std::int64_t unixSeconds) {
    return FloorDiv(unixSeconds, kSecondsPerDay) + kMjdOfUnixEpoch;
}

std::string DaytimeLine(std::int64_t unixSeconds, int advanceTenthsMs) {
    const std::int64_t days = FloorDiv(unixSeconds, kSecondsPerDay);
    const std::int64_t secondOfDay = unixSeconds - days * kSecondsPerDay;
    int year = 0, month = 0, day = 0;
    CivilFromDays(days, year, month, day);

    // "\nMMMMM YY-MM-DD hh:mm:ss 00 0 0   0.0 UTC(Kairelon) *\n", digits written in place (the
    // daemon writes one per connection; a formatted print costs more than the rest together).
    std::string line = "\n00000 00-00-00 00:00:00 00 0 0   0.0 UTC(Kairelon) *\n";
    const auto put = [&line](std::size_t end, int value, int digits) {
        for (std::size_t i = end; digits-- > 0; --i, value /= 10) {
            line[i] = static_cast<char>('0' + value % 10);
        }
    };
    put(5, Mod(ModifiedJulianDate(unixSeconds), 100000), 5);
    put(8, Mod(year, 100), 2);
    put(11, month, 2);
    put(14, day, 2);
    put(17, static_cast<int>(secondOfDay / 3600), 2);
    put(20, static_cast<int>(secondOfDay / 60 % 60), 2);
    put(23, static_cast<int>(secondOfDay % 60), 2);
    // msADV "ddd.d" in columns 32-36 (counted without the leading line feed), blank-padded.
    const int advance = advanceTenthsMs < 0 ? 0 : advanceTenthsMs > 9999 ? 9999 : advanceTenthsMs;
    put(36, advance % 10, 1);
    int whole = advance / 10;
    for (std::size_t i = 34; i >= 32; --i, whole /= 10) {
        line[i] = (whole == 0 && i < 34) ? ' ' : static_cast<char>('0' + whole % 10);
    }
    return line;
}

std::string DaytimeLine(std::chrono::system_clock::time_point utc) {
    using namespace std::chrono;
    // Tenths of a millisecond since 1970, rounded; the next whole second at or after them.
    constexpr std::int64_t kTenthsPerSecond = 10000;
    const auto tenths = floor<duration<std::int64_t, std::ratio<1, 10000>>>(
        round<microseconds>(utc.time_since_epoch()) + microseconds(50));
    const std::int64_t t = tenths.count();
    std::int64_t second = FloorDiv(t, kTenthsPerSecond);
    if (t != second * kTenthsPerSecond) {
        ++second;
    }
    std::int64_t advance = second * kTenthsPerSecond - t;
    if (advance == 0) {
        advance = 1; // "0.0" would say no advance is stated
    }
    return DaytimeLine(second, static_cast<int>(advance));
}

} // namespace kairelon
