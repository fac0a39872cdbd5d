#include "sync/TimeConversion.h"

#include "framework/Exception.h"
#include "framework/Format.h"

#include <cstdint>
#include <limits>
#include <string_view>

namespace kairelon {
namespace {

// Two characters from column `position` (counted from 1); a field that starts beyond the end
// is empty and one that starts on the last character is that character.
std::string_view Field(std::string_view text, std::size_t position) {
    if (position > text.size()) {
        return {};
    }
    return text.substr(position - 1, 2);
}

constexpr std::int64_t kIntervalsPerMinute = 600000000;

} // namespace

void StripControlCharacters(std::string& text) {
    std::string kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (static_cast<signed char>(c) >= 32) {
            kept += c;
        }
    }
    text.swap(kept);
}

bool NTPtoDateTime(const std::string& reply, TDateTime& date, TDateTime& time) {
    try {
        const int year = StrToInt(Field(reply, 7));
        const int month = StrToInt(Field(reply, 10));
        const int day = StrToInt(Field(reply, 13));
        const int hour = StrToInt(Field(reply, 16));
        const int minute = StrToInt(Field(reply, 19));
        const int second = StrToInt(Field(reply, 22));
        // The century rule works on the year as an unsigned 16-bit number ("-1" is 65535).
        const auto shortYear = static_cast<std::uint16_t>(year);
        const int fullYear = shortYear > 50 ? 1900 + shortYear : 2000 + shortYear;
        time = EncodeTime(hour, minute, second, 0);
        date = EncodeDate(fullYear, month, day);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

std::optional<int> DaytimeHealth(const std::string& reply) {
    // Columns counted from 1, as above; "D" is a digit, " " a blank.
    static constexpr std::string_view kShape = " DD D D";
    constexpr std::size_t kFirst = 24;
    constexpr std::size_t kHealth = 30;
    if (reply.size() < kHealth) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const char c = reply[kFirst - 1 + i];
        const bool fits = kShape[i] == ' ' ? c == ' ' : (c >= '0' && c <= '9');
        if (!fits) {
            return std::nullopt;
        }
    }
    if (reply.size() > kHealth && reply[kHealth] != ' ') {
        return std::nullopt; // "0 0 12" is no status field of one digit
    }
    return reply[kHealth - 1] - '0';
}

bool DaytimeHealthy(int health) {
    return health == 0 || health == 1;
}

void CopyFileTime(const FILETIME& source, FILETIME& destination) {
    destination.dwLowDateTime = source.dwLowDateTime;
    destination.dwHighDateTime = source.dwHighDateTime;
}

int GetTimeDifference(const SYSTEMTIME& first, const SYSTEMTIME& second) {
    FILETIME firstTime;
    FILETIME secondTime;
    SystemTimeToFileTime(first, firstTime);
    SystemTimeToFileTime(second, secondTime);
    FILETIME a;
    FILETIME b;
    CopyFileTime(firstTime, a);
    CopyFileTime(secondTime, b);
    const auto from = static_cast<std::int64_t>(FileTimeToUInt64(a));
    const auto to = static_cast<std::int64_t>(FileTimeToUInt64(b));
    const std::int64_t minutes = (to - from) / kIntervalsPerMinute;
    const std::int64_t distance = minutes < 0 ? -minutes : minutes;
    // Keeping only the low 32 bits would turn a distance of thousands of years into an
    // arbitrary small one; a distance that large is as far off as it gets.
    if (distance > std::numeric_limits<int>::max()) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(distance);
}

} // namespace kairelon
