#include "framework/DateTime.h"

#include "framework/Exception.h"

#include <cmath>
#include <ctime>

namespace kairelon {
namespace {

// Days from 1970-01-01 for a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr std::int64_t kEpochOffset = 25569; // days from 1899-12-30 to 1970-01-01

// The value as whole days and milliseconds into the day (the time part is always positive,
// as for values before the epoch the fraction counts forwards from midnight).
void Split(TDateTime value, std::int64_t& days, std::int64_t& msOfDay) {
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) {
        throw EConvertError("Invalid date-time value");
    }
    const double whole = std::trunc(value);
    std::int64_t ms = std::llround(std::fabs(value - whole) * MSecsPerDay);
    days = static_cast<std::int64_t>(whole);
    if (ms >= static_cast<std::int64_t>(MSecsPerDay)) {
        ms -= static_cast<std::int64_t>(MSecsPerDay);
        days += value < 0 ? -1 : 1;
    }
    msOfDay = ms;
}

} // namespace

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month)) {
        return false;
    }
    result = static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kEpochOffset);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
        msec > 999) {
        return false;
    }
    result = (((hour * 60.0 + min) * 60.0 + sec) * 1000.0 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime result = 0;
    if (!TryEncodeDate(year, month, day, result)) {
        throw EConvertError("Invalid argument to date encode");
    }
    return result;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime result = 0;
    if (!TryEncodeTime(hour, min, sec, msec, result)) {
        throw EConvertError("Invalid argument to time encode");
    }
    return result;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
    const TDateTime date = EncodeDate(year, month, day);
    const TDateTime time = EncodeTime(hour, min, sec, msec);
    return date >= 0 ? date + time : date - time;
}

DecodedDateTime DecodeDateTime(TDateTime value) {
    std::int64_t days = 0;
    std::int64_t ms = 0;
    Split(value, days, ms);
    DecodedDateTime d;
    CivilFromDays(days - kEpochOffset, d.year, d.month, d.day);
    d.hour = static_cast<int>(ms / 3600000);
    d.minute = static_cast<int>(ms / 60000 % 60);
    d.second = static_cast<int>(ms / 1000 % 60);
    d.msec = static_cast<int>(ms % 1000);
    // 1899-12-30 was a Saturday (7).
    d.dayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
    return d;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    const DecodedDateTime d = DecodeDateTime(value);
    year = d.year;
    month = d.month;
    day = d.day;
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
    const DecodedDateTime d = DecodeDateTime(value);
    hour = d.hour;
    min = d.minute;
    sec = d.second;
    msec = d.msec;
}

int DayOfWeek(TDateTime value) {
    return DecodeDateTime(value).dayOfWeek;
}

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec == 60 ? 59 : local.tm_sec,
                          static_cast<int>(ts.tv_nsec / 1000000));
}

TDateTime NowUtc() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9) / 86400.0 + kEpochOffset;
}

TDateTime UtcToLocal(TDateTime utc) {
    const double seconds = (utc - kEpochOffset) * 86400.0;
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) {
        return utc; // no zone is known that far out
    }
    const std::time_t when = static_cast<std::time_t>(std::floor(seconds));
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return utc;
    }
    return utc + static_cast<double>(local.tm_gmtoff) / 86400.0;
}

TDateTime Date() {
    return std::trunc(Now());
}

TDateTime Time() {
    const TDateTime now = Now();
    return now - std::trunc(now);
}

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
    const DecodedDateTime d = DecodeDateTime(value);
    std::string out;
    auto two = [&](int v) {
        out += static_cast<char>('0' + v / 10 % 10);
        out += static_cast<char>('0' + v % 10);
    };
    bool afterHour = false;
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        auto toLower = [](char ch) {
            return static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
        };
        const char lower = toLower(c);
        std::size_t run = 1;
        while (lower >= 'a' && lower <= 'z' && i + run < pattern.size() &&
               toLower(pattern[i + run]) == lower) {
            ++run;
        }
        switch (lower) {
        case '\'':
        case '"': {
            const std::size_t end = pattern.find(c, i + 1);
            const std::size_t stop = end == std::string_view::npos ? pattern.size() : end;
            out.append(pattern.substr(i + 1, stop - i - 1));
            i = end == std::string_view::npos ? pattern.size() : end + 1;
            continue;
        }
        case 'd':
            if (run >= 2) {
                two(d.day);
                run = 2;
            } else {
                out += std::to_string(d.day);
            }
            break;
        case 'm': {
            const int v = afterHour ? d.minute : d.month;
            if (run >= 2) {
                two(v);
                run = 2;
            } else {
                out += std::to_string(v);
            }
            afterHour = false;
            break;
        }
        case 'y':
            if (run >= 3) {
                std::string y = std::to_string(d.year);
                out += std::string(y.size() < 4 ? 4 - y.size() : 0, '0') + y;
                run = std::min<std::size_t>(run, 4);
            } else {
                two(d.year % 100);
            }
            break;
        case 'h':
            if (run >= 2) {
                two(d.hour);
                run = 2;
            } else {
                out += std::to_string(d.hour);
            }
            afterHour = true;
            i += run;
            continue;
        case 'n':
            if (run >= 2) {
                two(d.minute);
                run = 2;
            } else {
                out += std::to_string(d.minute);
            }
            break;
        case 's':
            if (run >= 2) {
                two(d.second);
                run = 2;
            } else {
                out += std::to_string(d.second);
            }
            break;
        case 'z':
            if (run >= 3) {
                out += static_cast<char>('0' + d.msec / 100);
                two(d.msec % 100);
                run = 3;
            } else {
                out += std::to_string(d.msec);
                run = 1;
            }
            break;
        default:
            out.append(pattern.substr(i, run));
            i += run;
            continue; // separators keep a pending hour for "hh:mm"
        }
        afterHour = false;
        i += run;
    }
    return out;
}

} // namespace kairelon
