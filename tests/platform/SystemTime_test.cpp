#include "platform/SystemTime.h"

#include <gtest/gtest.h>

using namespace kairelon;

TEST(SystemTime, FileTimeCountsFrom1601) {
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(SYSTEMTIME{1601, 1, 1, 1, 0, 0, 0, 0}, ft));
    EXPECT_EQ(FileTimeToUInt64(ft), 0u);
    // The Unix epoch is 11644473600 s after 1601-01-01.
    ASSERT_TRUE(SystemTimeToFileTime(SYSTEMTIME{1970, 1, 4, 1, 0, 0, 0, 0}, ft));
    EXPECT_EQ(FileTimeToUInt64(ft), 116444736000000000ULL);
    ASSERT_TRUE(SystemTimeToFileTime(SYSTEMTIME{1970, 1, 4, 1, 0, 0, 1, 5}, ft));
    EXPECT_EQ(FileTimeToUInt64(ft), 116444736000000000ULL + 10050000ULL);
}

TEST(SystemTime, InvalidRecordsAreRefused) {
    FILETIME ft{7, 9};
    EXPECT_FALSE(SystemTimeToFileTime(SYSTEMTIME{1600, 12, 0, 31, 0, 0, 0, 0}, ft));
    EXPECT_FALSE(SystemTimeToFileTime(SYSTEMTIME{2023, 2, 0, 29, 0, 0, 0, 0}, ft));
    EXPECT_FALSE(SystemTimeToFileTime(SYSTEMTIME{2024, 1, 0, 1, 24, 0, 0, 0}, ft));
    EXPECT_FALSE(SystemTimeToFileTime(SYSTEMTIME{2024, 1, 0, 1, 0, 0, 0, 1000}, ft));
    EXPECT_EQ(ft.dwLowDateTime, 7u);
    EXPECT_EQ(ft.dwHighDateTime, 9u);
}

TEST(SystemTime, RoundTripThroughFileTimeAndDateTime) {
    const SYSTEMTIME st{2026, 12, 2, 8, 19, 42, 38, 123};
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(st, ft));
    SYSTEMTIME back;
    ASSERT_TRUE(FileTimeToSystemTime(ft, back));
    EXPECT_EQ(back.wYear, 2026);
    EXPECT_EQ(back.wDayOfWeek, 2); // a Tuesday
    EXPECT_EQ(back.wMilliseconds, 123);
    const SYSTEMTIME viaDate = DateTimeToSystemTime(SystemTimeToDateTime(st));
    EXPECT_EQ(viaDate.wSecond, 38);
    EXPECT_EQ(viaDate.wMilliseconds, 123);
    EXPECT_EQ(viaDate.wDayOfWeek, 2);
}
