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

std::optional<double> DaytimeAdvanceMs(const std::string& reply) {
    if (!DaytimeHealth(reply)) {
        return std::nullopt;
    }
    constexpr std::size_t kAfterHealth = 30; // column 31, counted from 1
    std::size_t i = kAfterHealth;
    while (i < reply.size() && reply[i] == ' ') {
        ++i;
    }
    const std::size_t start = i;
    int whole = 0;
    while (i < reply.size() && reply[i] >= '0' && reply[i] <= '9' && i - start < 4) {
        whole = whole * 10 + (reply[i] - '0');
        ++i;
    }
    const std::size_t digits = i - start;
    if (digits < 1 || digits > 3 || i + 1 >= reply.size() || reply[i] != '.' ||
        reply[i + 1] < '0' || reply[i + 1] > '9') {
        return std::nullopt;
    }
    const int tenth = reply[i + 1] - '0';
    if (i + 2 < reply.size() && reply[i + 2] != ' ') {
        return std::nullopt; // "50.25" or "50.0x" is no field of this shape
    }
    return whole + tenth / 10.0;
}

TTicks TimeAtReceipt(const SYSTEMTIME& stated, const std::string& reply, std::int64_t roundTripNs) {
    FILETIME ft;
    if (!SystemTimeToFileTime(stated, ft)) {
        return 0;
    }
    TTicks ticks = static_cast<TTicks>(FileTimeToUInt64(ft));
    const std::optional<double> advance = DaytimeAdvanceMs(reply);
    if (advance && *advance > 0) {
        // Tenths of a millisecond are exact in ticks.
        ticks -= static_cast<TTicks>(*advance * 10.0 + 0.5) * (TicksPerMs / 10);
    } else {
        ticks += 500 * TicksPerMs;
    }
    if (roundTripNs > 0) {
        ticks += roundTripNs / 200; // half the trip, in 100-ns intervals
    }
    return ticks;
}

std::int64_t ReceiptInstantNs(const std::string& reply, const TReplyTiming& timing) {
    if (timing.MarkerNs != 0 && DaytimeHealth(reply)) {
        return timing.MarkerNs;
    }
    return timing.LastDataNs;
}

SYSTEMTIME TimeAfter(TTicks receipt, std::int64_t receivedNs, std::int64_t nowNs,
                     std::int64_t& trueAtNs) {
    const std::int64_t elapsedNs = nowNs > receivedNs ? nowNs - receivedNs : 0;
    const TTicks exact = receipt + elapsedNs / 100;
    const TTicks rounded = (exact + TicksPerMs / 2) / TicksPerMs * TicksPerMs;
    // The rounded millisecond is true a little before or after now.
    trueAtNs = nowNs + (rounded - exact) * 100;
    SYSTEMTIME st;
    const auto unsignedTicks = static_cast<std::uint64_t>(rounded < 0 ? 0 : rounded);
    FileTimeToSystemTime(FILETIME{static_cast<std::uint32_t>(unsignedTicks),
                                  static_cast<std::uint32_t>(unsignedTicks >> 32)},
                         st);
    st.wDayOfWeek = 0; // as every hand-over writes it
    return st;
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
