// The scheduler's rules on their own: the stored numbers of mode and unit, the latest fixed
// time that the catch-up looks back to, and the catch-up's judgement for the interval. The
// tick and the "next run" line that use them are tested through the engine
// (Scheduler_test.cpp, CatchUp_test.cpp).
#include "sync/Schedule.h"

#include <gtest/gtest.h>

#include <climits>

using namespace kairelon;

namespace {

// A day of January 2026 (the 5th is a Monday) at a local time.
TDateTime Jan(int day, int hour, int minute) {
    return EncodeDateTime(2026, 1, day, hour, minute, 0, 0);
}

} // namespace

// The numbers are what the settings file holds; they must keep their meaning.
TEST(Schedule, StoredModesAndUnitsKeepTheirNumbers) {
    EXPECT_EQ(ToSyncMode(1), SyncMode::FixedTime);
    EXPECT_EQ(ToSyncMode(2), SyncMode::Interval);
    for (const std::int32_t none : {0, 3, -1, INT32_MAX}) {
        EXPECT_EQ(ToSyncMode(none), std::nullopt) << none;
        EXPECT_EQ(UnitMinutes(none == 3 ? 4 : none), 0u) << none;
    }
    EXPECT_EQ(UnitMinutes(1), 1u);
    EXPECT_EQ(UnitMinutes(2), 60u);
    EXPECT_EQ(UnitMinutes(3), 1440u);
}

TEST(Schedule, LatestFixedTimeIsTheLastOneOnAMatchingDayAtOrBeforeNow) {
    struct Case {
        const char* what;
        FixedTimeSetting fixed;
        TDateTime now;
        std::optional<TDateTime> at; // nothing: none
    };
    const Case cases[] = {
        {"today, passed", {12, 30, 0}, Jan(5, 15, 0), Jan(5, 12, 30)},
        {"today, at the minute", {12, 30, 0}, Jan(5, 12, 30), Jan(5, 12, 30)},
        {"today, still to come: yesterday's", {12, 30, 0}, Jan(5, 12, 29), Jan(4, 12, 30)},
        {"Wednesdays, on a Friday", {3, 0, 3}, Jan(9, 9, 0), Jan(7, 3, 0)},
        {"Mondays, on Monday before the time", {3, 0, 1}, Jan(12, 2, 0), Jan(5, 3, 0)},
        {"Sundays, on a Sunday after it", {3, 0, 7}, Jan(11, 4, 0), Jan(11, 3, 0)},
        {"no hour of the clock", {24, 0, 0}, Jan(5, 15, 0), std::nullopt},
        {"no minute of the clock", {12, 60, 0}, Jan(5, 15, 0), std::nullopt},
        {"a negative minute", {12, -1, 0}, Jan(5, 15, 0), std::nullopt},
        {"no weekday", {12, 30, 8}, Jan(5, 15, 0), std::nullopt},
    };
    for (const Case& c : cases) {
        const auto latest = LatestFixedTime(c.fixed, c.now);
        ASSERT_EQ(latest.has_value(), c.at.has_value()) << c.what;
        if (latest) {
            EXPECT_DOUBLE_EQ(latest->at, *c.at) << c.what;
            const DecodedDateTime d = DecodeDateTime(*c.at);
            EXPECT_EQ(latest->run,
                      (FixedTimeRun{d.year, d.month, d.day, c.fixed.hour, c.fixed.minute}))
                << c.what;
        }
    }
}

TEST(Schedule, AnIntervalIsMissedWhenTheClockRanItOutButTheCounterDidNot) {
    struct Case {
        const char* what;
        int unit, interval;
        double passed;
        std::uint64_t counted;
        bool missed;
    };
    const Case cases[] = {
        {"slept over an hour", 2, 1, 180, 30, true},
        {"exactly one interval by the clock", 2, 1, 60, 59, true},
        {"the counter ran it out too (the tick runs it)", 2, 1, 60, 60, false},
        {"not yet by the clock", 2, 1, 59, 10, false},
        {"the clock was set back", 1, 15, -120, 3, false},
        {"days", 3, 2, 2 * 1440, 1440, true},
        {"no unit", 4, 1, 1e6, 0, false},
        {"no interval", 1, 0, 1e6, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IntervalMissed(c.unit, c.interval, c.passed, c.counted), c.missed) << c.what;
    }
}

// A zone whose clock goes from +1 to +2 hours at 01:00 UTC on 28 March 2027 and back at
// 01:00 UTC on 31 October: only the change forward skips local times, exactly 02:00 to 03:00.
TEST(Schedule, OnlyTheChangeForwardSkipsLocalTimes) {
    const TDateTime spring = EncodeDateTime(2027, 3, 28, 1, 0, 0, 0);
    const TDateTime autumn = EncodeDateTime(2027, 10, 31, 1, 0, 0, 0);
    const auto toLocal = [&](TDateTime utc) {
        return utc + (utc >= spring && utc < autumn ? 2.0 : 1.0) / 24;
    };
    const auto at = [](int month, int day, int hour, int minute, int second) {
        return EncodeDateTime(2027, month, day, hour, minute, second, 0);
    };
    const struct {
        const char* what;
        TDateTime previous, now; // UTC
        bool skipped;
    } cases[] = {
        {"the tick across the change", at(3, 28, 0, 59, 20), at(3, 28, 1, 0, 20), true},
        {"across it after a sleep", at(3, 27, 20, 0, 0), at(3, 28, 9, 0, 0), true},
        {"the tick before it", at(3, 28, 0, 58, 20), at(3, 28, 0, 59, 20), false},
        {"the tick after it", at(3, 28, 1, 0, 20), at(3, 28, 1, 1, 20), false},
        {"the change back", at(10, 31, 0, 59, 20), at(10, 31, 1, 0, 20), false},
        {"the clock set back across it", at(3, 28, 1, 0, 20), at(3, 28, 0, 59, 20), false},
    };
    for (const auto& c : cases) {
        const auto skipped = SkippedBetween(c.previous, c.now, toLocal);
        ASSERT_EQ(skipped.has_value(), c.skipped) << c.what;
        if (skipped) {
            // Within a second of 02:00 and 03:00 local time, so that 02:00 is skipped and
            // 03:00 is not.
            EXPECT_NEAR(skipped->from, at(3, 28, 2, 0, 0), 1.0 / 86400) << c.what;
            EXPECT_NEAR(skipped->to, at(3, 28, 3, 0, 0), 1.0 / 86400) << c.what;
            EXPECT_LE(skipped->from, at(3, 28, 2, 0, 0)) << c.what;
            EXPECT_LT(skipped->to, at(3, 28, 3, 0, 0)) << c.what;
        }
    }
}
