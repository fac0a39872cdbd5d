// Fuzz target: the control-character strip and the fixed-column reply conversion never crash;
// the strip leaves only bytes 32..127; a successful conversion always names a real date in
// 1951..2050 and a real time of day; the health field, when read, is one digit that stands in
// column 30 of a line at least 30 characters long, and adding text after a blank in column 31
// does not change it; the server's advance, when read, lies in 0.0..999.9 and needs a health
// field, and the estimate moves the stated second by no more than the advance or the middle of
// the second (plus half the round trip).
#include "framework/DateTime.h"
#include "sync/TimeConversion.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

void CheckConversion(const std::string& text) {
    kairelon::TDateTime date = -1;
    kairelon::TDateTime time = -1;
    if (!kairelon::NTPtoDateTime(text, date, time)) {
        return;
    }
    if (date != std::floor(date) || time < 0 || time >= 1) {
        std::abort();
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    kairelon::DecodeDate(date, year, month, day);
    kairelon::DecodeTime(time, hour, minute, second, msec);
    if (year < 1951 || year > 2050 || month < 1 || month > 12 || day < 1 ||
        day > kairelon::DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59 ||
        msec != 0) {
        std::abort();
    }
}

void CheckHealth(const std::string& text) {
    const std::optional<int> health = kairelon::DaytimeHealth(text);
    if (!health) {
        return;
    }
    if (*health < 0 || *health > 9 || text.size() < 30 || text[29] != '0' + *health ||
        (text.size() > 30 && text[30] != ' ')) {
        std::abort();
    }
    if (kairelon::DaytimeHealth(text.substr(0, 30) + " tail") != health) {
        std::abort();
    }
}

void CheckAdvance(const std::string& text) {
    const std::optional<double> advance = kairelon::DaytimeAdvanceMs(text);
    if (!advance) {
        return;
    }
    if (*advance < 0 || *advance > 999.9 || !kairelon::DaytimeHealth(text)) {
        std::abort();
    }
    const kairelon::SYSTEMTIME stated{2026, 12, 0, 9, 23, 59, 59, 0};
    const kairelon::TTicks moved =
        kairelon::TimeAtReceipt(stated, text, 2000000) - kairelon::TimeAtReceipt(stated, "", 0);
    // Relative to the middle of the second: -advance - 500 ms, plus 1 ms of round trip.
    const double movedMs = static_cast<double>(moved) / 10000.0 + 500.0;
    const double expected = *advance > 0 ? 1.0 - *advance : 501.0;
    if (std::fabs(movedMs - expected) > 0.051) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    std::string stripped = raw;
    kairelon::StripControlCharacters(stripped);
    std::size_t kept = 0;
    for (const char c : raw) {
        kept += static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) <= 127;
    }
    if (stripped.size() != kept) {
        std::abort();
    }
    for (const char c : stripped) {
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 127) {
            std::abort();
        }
    }
    CheckConversion(raw);
    CheckConversion(stripped);
    CheckHealth(raw);
    CheckHealth(stripped);
    CheckAdvance(raw);
    CheckAdvance(stripped);
    return 0;
}
