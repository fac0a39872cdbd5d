// Reading the daytime reply by columns, the century rule, the clock difference, and the strip
// of control and non-ASCII bytes, and the server's health field; the estimate of the true time
// a reply means (the server's advance, the middle of the second, half the round trip, the
// time passed until the clock is set).
#include "sync/TimeConversion.h"

#include "daemons/DaytimeLine.h"
#include "framework/DateTime.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

using namespace kairelon;

namespace {

struct Read {
    bool ok = false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = -1;
    double timeDatePart = -1;
    double dateTimePart = -1;
};

Read Convert(const std::string& reply) {
    Read r;
    TDateTime date = -1;
    TDateTime time = -1;
    r.ok = NTPtoDateTime(reply, date, time);
    if (r.ok) {
        DecodeDate(date, r.year, r.month, r.day);
        DecodeTime(time, r.hour, r.minute, r.second, r.msec);
        r.dateTimePart = date - static_cast<long long>(date);
        r.timeDatePart = static_cast<long long>(time);
    }
    return r;
}

SYSTEMTIME At(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    SYSTEMTIME st;
    st.wYear = static_cast<std::uint16_t>(year);
    st.wMonth = static_cast<std::uint16_t>(month);
    st.wDay = static_cast<std::uint16_t>(day);
    st.wHour = static_cast<std::uint16_t>(hour);
    st.wMinute = static_cast<std::uint16_t>(minute);
    st.wSecond = static_cast<std::uint16_t>(second);
    st.wMilliseconds = static_cast<std::uint16_t>(ms);
    return st;
}

} // namespace

TEST(NTPtoDateTime, ReadsTheFixedColumnsOfADaytimeLine) {
    const Read r = Convert("60652 24-12-08 04:13:14 00 0 0 742.2 UTC(KA) *");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.year, 2024);
    EXPECT_EQ(r.month, 12);
    EXPECT_EQ(r.day, 8);
    EXPECT_EQ(r.hour, 4);
    EXPECT_EQ(r.minute, 13);
    EXPECT_EQ(r.second, 14);
    EXPECT_EQ(r.msec, 0);
    EXPECT_EQ(r.dateTimePart, 0.0) << "the date result has no time of day";
    EXPECT_EQ(r.timeDatePart, 0.0) << "the time result has no date";
}

TEST(NTPtoDateTime, CenturyRuleSplitsAtFifty) {
    EXPECT_EQ(Convert("xxxxx 99-01-01 00:00:00").year, 1999);
    EXPECT_EQ(Convert("xxxxx 51-01-01 00:00:00").year, 1951);
    EXPECT_EQ(Convert("xxxxx 50-01-01 00:00:00").year, 2050);
    EXPECT_EQ(Convert("xxxxx 00-01-01 00:00:00").year, 2000);
    // "+5" is a valid integer: year 2005; "-1" as an unsigned 16-bit year is out of range.
    EXPECT_EQ(Convert("xxxxx +5-01-01 00:00:00").year, 2005);
    EXPECT_FALSE(Convert("xxxxx -1-01-01 00:00:00").ok);
}

TEST(NTPtoDateTime, SeparatorsAreNotChecked) {
    const Read r = Convert("abcdefg24X02Y29Z23#59$58 whatever");
    ASSERT_FALSE(r.ok) << "column 7 holds 'g2'";
    const Read s = Convert("abcdef24X02Y29Z23#59$58 whatever");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.year, 2024);
    EXPECT_EQ(s.month, 2);
    EXPECT_EQ(s.day, 29);
    EXPECT_EQ(s.hour, 23);
    EXPECT_EQ(s.minute, 59);
    EXPECT_EQ(s.second, 58);
}

TEST(NTPtoDateTime, InvalidFieldsMakeItFail) {
    EXPECT_FALSE(Convert("60652 24-12-08 24:00:00").ok) << "hour 24";
    EXPECT_FALSE(Convert("60652 24-12-08 23:60:00").ok) << "minute 60";
    EXPECT_FALSE(Convert("60652 24-12-08 23:00:60").ok) << "second 60";
    EXPECT_FALSE(Convert("60652 24-13-08 23:00:00").ok) << "month 13";
    EXPECT_FALSE(Convert("60652 24-00-08 23:00:00").ok) << "month 0";
    EXPECT_FALSE(Convert("60652 24-02-30 23:00:00").ok) << "30 February";
    EXPECT_FALSE(Convert("60652 23-02-29 23:00:00").ok) << "29 February of a common year";
    EXPECT_TRUE(Convert("60652 24-02-29 23:00:00").ok) << "29 February of a leap year";
    EXPECT_FALSE(Convert("60652 2a-12-08 04:13:14").ok) << "a letter";
    EXPECT_FALSE(Convert("60652 24-12-08 04: 3:14").ok) << "a blank inside a field";
}

TEST(NTPtoDateTime, ShortTextsAndOtherLayouts) {
    EXPECT_FALSE(Convert("").ok);
    EXPECT_FALSE(Convert("60652 24-12-08 04:13:").ok) << "21 characters: no second";
    const Read exactly22 = Convert("60652 24-12-08 04:13:7");
    ASSERT_TRUE(exactly22.ok) << "22 characters: the second is column 22 alone";
    EXPECT_EQ(exactly22.second, 7);
    EXPECT_FALSE(Convert("Sun Dec  8 04:13:14 2024").ok);
    // No other layout is recognised.
    EXPECT_FALSE(Convert("Sunday, December 8, 2024 04:13:14-UTC").ok);
}

TEST(GetTimeDifference, WholeMinutesCutTowardsZeroWhicheverIsLater) {
    const SYSTEMTIME base = At(2024, 12, 8, 4, 13, 0);
    EXPECT_EQ(GetTimeDifference(base, At(2024, 12, 8, 4, 13, 59)), 0);
    EXPECT_EQ(GetTimeDifference(At(2024, 12, 8, 4, 13, 59), base), 0);
    EXPECT_EQ(GetTimeDifference(base, At(2024, 12, 8, 4, 14, 59)), 1);
    EXPECT_EQ(GetTimeDifference(At(2024, 12, 8, 4, 14, 59), base), 1);
    EXPECT_EQ(GetTimeDifference(base, At(2024, 12, 8, 4, 13, 59, 999)), 0);
    EXPECT_EQ(GetTimeDifference(base, base), 0);
    // Across a year end and a leap day.
    EXPECT_EQ(GetTimeDifference(At(2023, 12, 31, 23, 59, 0), At(2024, 1, 1, 0, 1, 0)), 2);
    EXPECT_EQ(GetTimeDifference(At(2024, 2, 28, 0, 0, 0), At(2024, 3, 1, 0, 0, 0)), 2 * 1440);
    // The day of week is ignored.
    SYSTEMTIME odd = base;
    odd.wDayOfWeek = 6;
    EXPECT_EQ(GetTimeDifference(odd, At(2024, 12, 8, 5, 13, 0)), 60);
}

TEST(GetTimeDifference, DistancesBeyondThe32BitRangeSaturate) {
    // 1601 to 9999 is about 4.4e9 minutes: more than an int holds.
    EXPECT_EQ(GetTimeDifference(At(1601, 1, 1, 0, 0, 0), At(9999, 12, 31, 23, 59, 59)), INT_MAX);
    EXPECT_EQ(GetTimeDifference(At(9999, 12, 31, 23, 59, 59), At(1601, 1, 1, 0, 0, 0)), INT_MAX);
    // 1951 to 2050, the range of the century rule, fits.
    EXPECT_EQ(GetTimeDifference(At(1951, 1, 1, 0, 0, 0), At(2051, 1, 1, 0, 0, 0)),
              (100LL * 365 + 25) * 1440);
}

TEST(CopyFileTime, CopiesBothHalves) {
    FILETIME source;
    source.dwLowDateTime = 0x89ABCDEFu;
    source.dwHighDateTime = 0x01234567u;
    FILETIME destination;
    CopyFileTime(source, destination);
    EXPECT_EQ(destination.dwLowDateTime, 0x89ABCDEFu);
    EXPECT_EQ(destination.dwHighDateTime, 0x01234567u);
}

TEST(StripControlCharacters, KeepsBytes32To127AndDropsTheRest) {
    std::string text = "\n60652 24-12-08 04:13:14 00 0 0 742.2 UTC(KA) *\r\n";
    StripControlCharacters(text);
    EXPECT_EQ(text, "60652 24-12-08 04:13:14 00 0 0 742.2 UTC(KA) *");

    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    StripControlCharacters(all);
    ASSERT_EQ(all.size(), 96u);
    EXPECT_EQ(all.front(), ' ');
    EXPECT_EQ(all.back(), '\x7F') << "127 is kept";

    std::string utf8 = "caf\xC3\xA9\t!";
    StripControlCharacters(utf8);
    EXPECT_EQ(utf8, "caf!");
    std::string empty;
    StripControlCharacters(empty);
    EXPECT_EQ(empty, "");
}

TEST(DaytimeHealth, ReadsTheHealthDigitWhereTheLineHasTheField) {
    const struct {
        const char* reply;
        std::optional<int> health;
    } cases[] = {
        {"61288 26-12-09 18:04:05 00 0 0  50.0 UTC(NIST) *", 0},
        {"61288 26-12-09 18:04:05 50 0 1  50.0 UTC(NIST) *", 1},
        {"61288 26-12-09 18:04:05 00 1 2 888.8 UTC(NIST) *", 2},
        {"61288 26-12-09 18:04:05 00 0 4   0.0 UTC(NIST) *", 4},
        {"61288 26-12-09 18:04:05 00 0 7", 7},                   // ends right after the field
        {"61288 26-12-09 18:04:05 00 0 3 ", 3},                  // a blank after it
        {"61288 26-12-09 18:04:05", std::nullopt},               // date and time only
        {"61288 26-12-09 18:04:05 00 0 ", std::nullopt},         // cut before the field
        {"61288 26-12-09 18:04:05 00 0 12  50.0", std::nullopt}, // two digits are no field
        {"61288 26-12-09 18:04:05 00 0 x  50.0", std::nullopt},
        {"61288 26-12-09 18:04:05 0A 0 0  50.0", std::nullopt},      // TT not two digits
        {"61288 26-12-09 18:04:05 00 - 0  50.0", std::nullopt},      // L not a digit
        {"61288 26-12-09 18:04:05-00 0 0  50.0", std::nullopt},      // no blank before TT
        {"61288 26-12-09 18:04:05 00 0  0 50.0", std::nullopt},      // shifted by one column
        {"Wed Dec  9 18:04:05 2026 (health 2) 0 0 0", std::nullopt}, // another layout
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(DaytimeHealth(c.reply), c.health);
        // The field changes nothing of the date and time a line converts to.
        TDateTime date = 0, time = 0;
        const std::string line = c.reply;
        if (line.rfind("61288 ", 0) == 0) {
            EXPECT_TRUE(NTPtoDateTime(line, date, time));
            EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", date + time), "2026-12-09 18:04:05");
        }
    }
}

TEST(DaytimeHealth, TheBundledServersLineReadsHealthy) {
    std::string line = DaytimeLine(std::int64_t{1796234645}); // 2026-12-02 18:04:05 UTC
    StripControlCharacters(line);
    EXPECT_EQ(DaytimeHealth(line), 0);
}

TEST(DaytimeHealth, OnlyZeroAndOneMaySetTheClock) {
    for (int health = 0; health <= 9; ++health) {
        EXPECT_EQ(DaytimeHealthy(health), health == 0 || health == 1) << health;
    }
}

namespace {

TTicks Ticks(const SYSTEMTIME& st) {
    FILETIME ft;
    EXPECT_TRUE(SystemTimeToFileTime(st, ft));
    return static_cast<TTicks>(FileTimeToUInt64(ft));
}

} // namespace

TEST(TimeAtReceipt, TheStatedSecondLessTheAdvanceOrItsMiddlePlusHalfTheRoundTrip) {
    const SYSTEMTIME stated = At(2024, 12, 8, 4, 13, 14);
    const std::string head = "60652 24-12-08 04:13:14 00 0 0 ";
    struct Case {
        std::string reply;
        std::int64_t roundTripNs;
        double expectedMsAfterStated;
    };
    const Case cases[] = {
        // An advance stated: the marker left that much before the stated time.
        {head + " 50.0 UTC(NIST) *", 0, -50.0},
        {head + "742.2 UTC(NIST) *", 0, -742.2},
        {head + "  0.1 UTC(Kairelon) *", 0, -0.1},
        {head + "742.2 UTC(NIST) *", 80000000, -742.2 + 40.0}, // 80 ms round trip
        {head + "742.2", 400000, -742.2 + 0.2},                // the field ends the text
        // No advance: the true time lay somewhere in the stated second; its middle.
        {head + "  0.0 UTC(NIST) *", 0, 500.0},
        {head + "  0.0 UTC(NIST) *", 2000000000, 500.0 + 1000.0}, // 2 s round trip
        {"60652 24-12-08 04:13:14", 0, 500.0},                    // date and time only
        {head, 0, 500.0},                                         // status without msADV
        // A field of another shape is no advance.
        {head + "74x.2 UTC(NIST) *", 0, 500.0},
        {head + "-50.0 UTC(NIST) *", 0, 500.0},
        {head + "1742.2 UTC(NIST) *", 0, 500.0},
        {head + "50 UTC(NIST) *", 0, 500.0},
        {head + "50.25 UTC(NIST) *", 0, 500.0},
        {head + "50. UTC(NIST) *", 0, 500.0},
        {"60652 24-12-08 04:13:14 00 0 12  50.0 UTC(NIST) *", 0, 500.0}, // no health field
        // A round trip that is not a duration counts as none.
        {head + " 50.0 UTC(NIST) *", -5000000, -50.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply + " / round trip " + std::to_string(c.roundTripNs) + " ns");
        const TTicks estimate = TimeAtReceipt(stated, c.reply, c.roundTripNs);
        EXPECT_EQ(estimate - Ticks(stated),
                  static_cast<TTicks>(std::llround(c.expectedMsAfterStated * 10000.0)));
    }
}

TEST(DaytimeAdvanceMs, ReadsTheFieldAfterTheHealthDigit) {
    const std::string head = "60652 24-12-08 04:13:14 00 0 0 ";
    EXPECT_EQ(DaytimeAdvanceMs(head + " 50.0 UTC(NIST) *"), 50.0);
    EXPECT_EQ(DaytimeAdvanceMs(head + "742.2 UTC(NIST) *"), 742.2);
    EXPECT_EQ(DaytimeAdvanceMs(head + "  0.0 UTC(NIST) *"), 0.0);
    EXPECT_EQ(DaytimeAdvanceMs(head + "9.9"), 9.9);
    EXPECT_EQ(DaytimeAdvanceMs(head + "UTC(NIST) *"), std::nullopt);
    EXPECT_EQ(DaytimeAdvanceMs(head), std::nullopt);
    EXPECT_EQ(DaytimeAdvanceMs("60652 24-12-08 04:13:14"), std::nullopt);
}

// The bundled server states the next whole second with the time until then; the estimate
// of a reply that arrives at once gives back the server's instant wherever in the second it
// fell.
TEST(TimeAtReceipt, TheBundledServersLineGivesBackItsInstantAtAnyPointOfTheSecond) {
    using namespace std::chrono;
    const system_clock::time_point second(seconds(1796234645)); // 2026-12-02 18:04:05 UTC
    for (const int us : {0, 1, 49, 50, 51, 1000, 99999, 250000, 499950, 500000, 742200, 950000,
                         999000, 999949, 999951, 999999}) {
        SCOPED_TRACE(us);
        const system_clock::time_point instant = second + microseconds(us);
        std::string line = DaytimeLine(instant);
        StripControlCharacters(line);
        TDateTime date = 0, time = 0;
        ASSERT_TRUE(NTPtoDateTime(line, date, time)) << line;
        const TTicks estimate =
            TimeAtReceipt(DateTimeToSystemTime(date + time), line, /*roundTripNs=*/0);
        const TTicks truth = 116444736000000000LL + 17962346450000000LL + us * 10LL;
        EXPECT_LE(std::llabs(estimate - truth), 1500) << line; // within 0.15 ms
    }
}

TEST(TimeAfter, MovesTheEstimateOnByTheTimePassedToTheNearestMillisecond) {
    const TTicks receipt = Ticks(At(2026, 12, 9, 23, 59, 59, 700)) + 4000; // .7004
    struct Case {
        std::int64_t receivedNs, nowNs;
        SYSTEMTIME expected;
        std::int64_t trueAtNs;
    };
    const Case cases[] = {
        {1000, 1000, At(2026, 12, 9, 23, 59, 59, 700), 1000 - 400000},
        {1000, 1000 + 250000000, At(2026, 12, 9, 23, 59, 59, 950), 250001000 - 400000},
        // Across midnight.
        {0, 300700000, At(2026, 12, 10, 0, 0, 0, 1), 300700000 - 100000},
        // A monotonic reading before the receipt (it cannot be) adds nothing.
        {5000, 4000, At(2026, 12, 9, 23, 59, 59, 700), 4000 - 400000},
    };
    for (const Case& c : cases) {
        std::int64_t trueAt = 0;
        const SYSTEMTIME st = TimeAfter(receipt, c.receivedNs, c.nowNs, trueAt);
        EXPECT_EQ(SystemTimeText(st), SystemTimeText(c.expected));
        EXPECT_EQ(st.wDayOfWeek, 0);
        EXPECT_EQ(trueAt, c.trueAtNs);
    }
}

TEST(ReceiptInstantNs, TheMarkerForTheLayoutWithStatusFieldsElseTheLastByte) {
    TReplyTiming timing;
    timing.MarkerNs = 100;
    timing.LastDataNs = 300;
    EXPECT_EQ(ReceiptInstantNs("60652 24-12-08 04:13:14 00 0 0  50.0 UTC(NIST) *", timing), 100);
    EXPECT_EQ(ReceiptInstantNs("60652 24-12-08 04:13:14 *", timing), 300);
    timing.MarkerNs = 0;
    EXPECT_EQ(ReceiptInstantNs("60652 24-12-08 04:13:14 00 0 0  50.0 UTC(NIST) ", timing), 300);
}
