#include "daemons/DaytimeLine.h"

#include "framework/DateTime.h"
#include "framework/Format.h"
#include "sync/TimeConversion.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace kairelon;

namespace {

// What the daytime client reads from a reply: control and non-ASCII bytes removed, then the
// fields at fixed positions counted from 1 (year 7-8, month 10-11, day 13-14, hour 16-17,
// minute 19-20, second 22-23), each through the strict integer conversion.
struct ClientFields {
    int year, month, day, hour, minute, second;
};

ClientFields ReadAsClient(const std::string& reply) {
    std::string text;
    for (unsigned char c : reply) {
        if (c >= 32 && c < 128) {
            text.push_back(static_cast<char>(c));
        }
    }
    const auto field = [&](std::size_t position) {
        return StrToInt(text.size() >= position ? text.substr(position - 1, 2) : "");
    };
    ClientFields f{field(7), field(10), field(13), field(16), field(19), field(22)};
    f.year += f.year > 50 ? 1900 : 2000;
    return f;
}

std::int64_t UnixSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&tm));
}

} // namespace

TEST(DaytimeLine, LayoutIsFixedColumnsBetweenTwoLineFeeds) {
    const std::string line = DaytimeLine(UnixSeconds(2024, 12, 8, 4, 13, 14));
    EXPECT_EQ(line, "\n60652 24-12-08 04:13:14 00 0 0   0.0 UTC(Kairelon) *\n");
    EXPECT_EQ(line.front(), '\n');
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n', 1), line.size() - 1) << "one line only";
}

TEST(DaytimeLine, ModifiedJulianDateOfKnownDays) {
    EXPECT_EQ(ModifiedJulianDate(0), 40587);                                 // 1970-01-01
    EXPECT_EQ(ModifiedJulianDate(86399), 40587);                             // its last second
    EXPECT_EQ(ModifiedJulianDate(-1), 40586);                                // 1969-12-31
    EXPECT_EQ(ModifiedJulianDate(UnixSeconds(2000, 1, 1, 12, 0, 0)), 51544); // J2000 day
    EXPECT_EQ(ModifiedJulianDate(UnixSeconds(1858, 11, 17, 0, 0, 0)), 0);
}

TEST(DaytimeLine, ClientColumnReadingGivesBackTheInstant) {
    struct Case {
        int y, mo, d, h, mi, s;
    };
    // Around midnight, a leap day, the turn of a year and the ends of the client's century
    // window (2000 and 2050 read back as themselves, 1999 as 1999).
    for (const Case c :
         {Case{2024, 12, 8, 4, 13, 14}, Case{2026, 12, 31, 23, 59, 59}, Case{2027, 1, 1, 0, 0, 0},
          Case{2028, 2, 29, 12, 30, 5}, Case{2000, 1, 1, 0, 0, 0}, Case{2050, 6, 15, 8, 9, 10},
          Case{1999, 12, 31, 23, 59, 58}}) {
        const std::string line = DaytimeLine(UnixSeconds(c.y, c.mo, c.d, c.h, c.mi, c.s));
        const ClientFields f = ReadAsClient(line);
        EXPECT_EQ(f.year, c.y) << line;
        EXPECT_EQ(f.month, c.mo) << line;
        EXPECT_EQ(f.day, c.d) << line;
        EXPECT_EQ(f.hour, c.h) << line;
        EXPECT_EQ(f.minute, c.mi) << line;
        EXPECT_EQ(f.second, c.s) << line;
        EXPECT_EQ(line.size(), 54u) << line;
    }
}

TEST(DaytimeLine, AnInstantStatesTheNextWholeSecondWithTheTimeUntilItAsMsAdv) {
    using namespace std::chrono;
    const auto second = system_clock::time_point(seconds(UnixSeconds(2026, 12, 8, 20, 0, 59)));
    struct Case {
        microseconds after;
        const char* stated; // "hh:mm:ss TT L H msADV"
    };
    const Case cases[] = {
        {microseconds(999000), "20:01:00 00 0 0   1.0"},
        {microseconds(257800), "20:01:00 00 0 0 742.2"},
        {microseconds(950000), "20:01:00 00 0 0  50.0"},
        {microseconds(100), "20:01:00 00 0 0 999.9"},
        {microseconds(999960), "20:01:00 00 0 0   0.1"}, // never "0.0": that says "none"
        {microseconds(0), "20:00:59 00 0 0   0.1"},
        {microseconds(30), "20:00:59 00 0 0   0.1"}, // within 0.05 ms of the second
    };
    for (const Case& c : cases) {
        const std::string line = DaytimeLine(second + c.after);
        EXPECT_EQ(line.substr(16, 21), c.stated) << line;
        EXPECT_EQ(line.substr(37), " UTC(Kairelon) *\n") << line;
    }
    const auto before1970 = system_clock::time_point(seconds(-1)) + milliseconds(500);
    EXPECT_EQ(DaytimeLine(before1970).substr(1, 36), "40587 70-01-01 00:00:00 00 0 0 500.0");
}

TEST(DaytimeLine, DayNumberKeepsFiveColumnsOutsideItsRange) {
    // 2132-09-01 is day 100000; the columns of the date must not move.
    const std::string line = DaytimeLine(UnixSeconds(2132, 9, 1, 0, 0, 0));
    EXPECT_EQ(line.substr(1, 23), "00000 32-09-01 00:00:00");
}

TEST(DaytimeLine, TheClientsOwnConversionReadsIt) {
    // The same line through the client's reply handling: strip, then the column conversion.
    for (const std::int64_t t :
         {UnixSeconds(2026, 12, 8, 21, 0, 5), UnixSeconds(2030, 2, 28, 0, 0, 0)}) {
        std::string reply = DaytimeLine(t);
        StripControlCharacters(reply);
        TDateTime date = 0, time = 0;
        ASSERT_TRUE(NTPtoDateTime(reply, date, time)) << reply;
        const DecodedDateTime d = DecodeDateTime(date + time);
        std::tm tm{};
        const time_t tt = static_cast<time_t>(t);
        gmtime_r(&tt, &tm);
        EXPECT_EQ(d.year, tm.tm_year + 1900);
        EXPECT_EQ(d.month, tm.tm_mon + 1);
        EXPECT_EQ(d.day, tm.tm_mday);
        EXPECT_EQ(d.hour, tm.tm_hour);
        EXPECT_EQ(d.minute, tm.tm_min);
        EXPECT_EQ(d.second, tm.tm_sec);
    }
}
