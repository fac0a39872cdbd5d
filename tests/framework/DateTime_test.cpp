#include "framework/DateTime.h"
#include "framework/Exception.h"

#include <gtest/gtest.h>

using namespace kairelon;

TEST(DateTime, EpochAndKnownDays) {
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1, 1, 1), -693593.0);
    EXPECT_DOUBLE_EQ(EncodeDate(9999, 12, 31), 2958465.0);
}

TEST(DateTime, InvalidFieldsRaise) {
    EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
    EXPECT_NO_THROW(EncodeDate(2024, 2, 29));
    EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
    EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
    EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
    EXPECT_THROW(EncodeDate(2020, 13, 1), EConvertError);
    EXPECT_THROW(EncodeDate(2020, 4, 31), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
    EXPECT_THROW(EncodeTime(0, 0, 60, 0), EConvertError);
    EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
    EXPECT_THROW(EncodeTime(-1, 0, 0, 0), EConvertError);
}

TEST(DateTime, RoundTripsEveryMillisecondField) {
    for (int year : {1, 1899, 1900, 1970, 2000, 2024, 2026, 9999}) {
        for (int month : {1, 2, 12}) {
            const TDateTime v =
                EncodeDateTime(year, month, DaysInMonth(year, month), 23, 59, 59, 999);
            const DecodedDateTime d = DecodeDateTime(v);
            EXPECT_EQ(d.year, year);
            EXPECT_EQ(d.month, month);
            EXPECT_EQ(d.day, DaysInMonth(year, month));
            EXPECT_EQ(d.hour, 23);
            EXPECT_EQ(d.minute, 59);
            EXPECT_EQ(d.second, 59);
            EXPECT_EQ(d.msec, 999) << year;
        }
    }
}

TEST(DateTime, DayOfWeekStartsOnSunday) {
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7); // a Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 6)), 1);  // a Sunday
    EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 8)), 3);  // a Tuesday
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 24)), 1); // before the epoch
}

TEST(DateTime, ValuesBeforeTheEpochKeepTheirTimeOfDay) {
    const TDateTime v = EncodeDateTime(1899, 12, 29, 6, 0, 0, 0);
    EXPECT_DOUBLE_EQ(v, -1.25);
    const DecodedDateTime d = DecodeDateTime(v);
    EXPECT_EQ(d.day, 29);
    EXPECT_EQ(d.hour, 6);
}

TEST(DateTime, FormatPatterns) {
    const TDateTime v = EncodeDateTime(2026, 3, 7, 8, 5, 9, 42);
    EXPECT_EQ(FormatDateTime("dd.mm.yyyy, hh:mm:ss", v), "07.03.2026, 08:05:09");
    EXPECT_EQ(FormatDateTime("d.m.yy h:n:s.zzz", v), "7.3.26 8:5:9.042");
    EXPECT_EQ(FormatDateTime("'dd' \"mm\" mm", v), "dd mm 03");
    EXPECT_EQ(FormatDateTime("hh:nn", v), "08:05");
}

TEST(DateTime, NowIsTodayPlusTime) {
    const TDateTime now = Now();
    EXPECT_GT(now, EncodeDate(2020, 1, 1));
    EXPECT_LE(Date(), now);
    EXPECT_GE(Time(), 0.0);
    EXPECT_LT(Time(), 1.0);
}
