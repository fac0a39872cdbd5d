// Date-time values of the component framework.
//
// A `TDateTime` counts days since 30 December 1899 00:00 as a double: the integral part is the
// day, the fraction the time of day. This module encodes and decodes such values (raising
// EConvertError on fields that name no real date or time), gives the current local date and
// time, the day of week (1 = Sunday ... 7 = Saturday) and formats values with the date
// patterns the program uses ("dd.mm.yyyy, hh:mm:ss" and the like). It reads the real clock
// only in Now/Date/Time; everything that must be testable takes its time from an injected
// clock instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kairelon {

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;
constexpr int DaysPerWeek = 7;

// The proleptic Gregorian date of a day count from 1970-01-01 (negative before it).
void CivilFromDays(std::int64_t days, int& year, int& month, int& day);

bool IsLeapYear(int year);
int DaysInMonth(int year, int month); // 0 for a month outside 1..12

// Valid years are 1..9999. The Try forms return false instead of raising.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day);         // EConvertError when invalid
TDateTime EncodeTime(int hour, int min, int sec, int msec); // EConvertError when invalid
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);

struct DecodedDateTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, msec = 0;
    int dayOfWeek = 0; // 1 = Sunday ... 7 = Saturday
};
// Decodes to the nearest millisecond; a value that rounds up to midnight belongs to the next
// day.
DecodedDateTime DecodeDateTime(TDateTime value);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
int DayOfWeek(TDateTime value); // 1 = Sunday ... 7 = Saturday

TDateTime Now();    // local date and time of the real clock
TDateTime NowUtc(); // UTC date and time of the real clock
// The local date and time at a UTC moment, by the system's time zone (TZ or /etc/localtime),
// with the offset in effect at that moment (summer time included).
TDateTime UtcToLocal(TDateTime utc);
TDateTime Date(); // local date, time of day 0
TDateTime Time(); // local time of day, day 0

// Formats a value with a date pattern: d dd m mm yy yyyy h hh n nn s ss z zzz; "m"/"mm"
// directly after an hour ("hh:mm") means minutes; text in '...' or "..." is copied as it is;
// every other character is copied unchanged.
std::string FormatDateTime(std::string_view pattern, TDateTime value);

} // namespace kairelon
