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

std::string DaytimeLine(std::int64_t unixSeconds) {
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
    return line;
}

std::string DaytimeLine(std::chrono::system_clock::time_point utc) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(utc.time_since_epoch());
    return DaytimeLine(static_cast<std::int64_t>(seconds.count()));
}

} // namespace kairelon
