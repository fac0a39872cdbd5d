// The scheduler tick: running-time counters, the fixed-time and interval schedules, and the
// guards against overlapping runs. Runs are counted by their result entries; with no server
// configured every run ends at once with text 1040, so no network is involved.
#include "support/SyncEngineFixture.h"

#include "framework/StringTable.h"
#include "settings/SettingsTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>

using namespace kairelon;
using namespace kairelon::test;

namespace {

class Scheduler : public SyncEngineFixture {
protected:
    void SetUp() override {
        StartUp();
        host.Reset();
    }
    int Runs() const {
        const std::string notConfigured = "2|" + LoadStr(1040);
        return static_cast<int>(
            std::count(host.entries.begin(), host.entries.end(), notConfigured));
    }
    // Ticks until the counters reach the given running time, recording the minute counter
    // values at which a run happened.
    std::vector<std::uint32_t> RunCountersOver(int ticks) {
        std::vector<std::uint32_t> at;
        for (int i = 0; i < ticks; ++i) {
            const int before = Runs();
            engine->tGetTimeTimer();
            if (Runs() != before) {
                at.push_back(engine->SyncUnit == 2 ? engine->HourCounter : engine->MinuteCounter);
            }
        }
        return at;
    }
    void Interval(int unit, int interval) {
        Local().Write(settings::SyncModus, 2);
        engine->SyncUnit = unit;
        engine->SyncInterval = interval;
    }
    void FixedTime(int hour, int minute, int weekday) {
        Local().Write(settings::SyncModus, 1);
        Local().Write(settings::Stunde, hour);
        Local().Write(settings::Minute, minute);
        Local().Write(settings::Wochentag, weekday);
    }
    bool RunsAt(int year, int month, int day, int hour, int minute) {
        localNow = EncodeDateTime(year, month, day, hour, minute, 10, 0);
        const int before = Runs();
        engine->tGetTimeTimer();
        return Runs() != before;
    }
};

TEST_F(Scheduler, CountersAndTheRunningTimeLabel) {
    Local().Write(settings::SyncModus, 3); // starts nothing
    for (int i = 0; i < 60 * 24 + 61; ++i) {
        engine->tGetTimeTimer();
    }
    EXPECT_EQ(engine->DayCounter, 1u);
    EXPECT_EQ(engine->HourCounter, 1u);
    EXPECT_EQ(engine->MinuteCounter, 1u);
    EXPECT_EQ(host.uptime.back(), "1 Tage, 1 Stunden, 1 Minuten");
    EXPECT_EQ(Runs(), 0);
}

TEST_F(Scheduler, StartUpShowsZeroRunningTimeAndStartsTheTimerOnlyWhenConfigured) {
    EXPECT_FALSE(engine->tGetTime.isActive());
    EXPECT_EQ(engine->tGetTime.interval(), 60000);
    Local().Write(settings::CurrentServer, "127.0.0.1");
    StartUp();
    EXPECT_TRUE(engine->Configured);
    EXPECT_TRUE(engine->tGetTime.isActive());
    EXPECT_EQ(host.uptime.back(), "0 Tage, 0 Stunden, 0 Minuten");
    EXPECT_EQ(host.entries.back(), "1|" + LoadStr(1029));
}

TEST_F(Scheduler, MinutesEveryFifteenAndEverySeven) {
    Interval(1, 15);
    EXPECT_EQ(RunCountersOver(120), (std::vector<std::uint32_t>{15, 30, 45, 0, 15, 30, 45, 0}));
}

TEST_F(Scheduler, MinutesEverySevenKeepSevenMinutesAcrossTheHour) {
    Interval(1, 7);
    EXPECT_EQ(RunCountersOver(70),
              (std::vector<std::uint32_t>{7, 14, 21, 28, 35, 42, 49, 56, 3, 10}));
}

TEST_F(Scheduler, HoursEverySix) {
    Interval(2, 6);
    EXPECT_EQ(RunCountersOver(60 * 25), (std::vector<std::uint32_t>{6, 12, 18, 0}));
}

// Every interval runs after each full interval of running time in its unit, counted from the
// start of the timer, and at no other tick; an interval that is not positive runs nothing.
TEST_F(Scheduler, IntervalsCountRunningTimeOfTheirUnit) {
    struct Case {
        int unit;
        int interval;
    };
    const Case cases[] = {
        {1, 1},  {1, 7},   {1, 15},   {1, 20},   {1, 30},   {1, 45}, {1, 59}, {1, 60}, {1, 61},
        {1, 90}, {1, 120}, {1, 1000}, {1, 1440}, {1, 2000}, {2, 1},  {2, 5},  {2, 6},  {2, 12},
        {2, 23}, {2, 24},  {2, 25},   {2, 30},   {2, 48},   {2, 50}, {3, 1},  {3, 2},  {3, 3},
        {3, 7},  {1, 0},   {1, -1},   {2, 0},    {2, -6},   {3, 0},  {3, -7}, {0, 5},  {4, 5},
    };
    constexpr std::int64_t kHorizon = 60 * 24 * 8; // eight days of running time
    for (const Case& c : cases) {
        StartUp();
        host.Reset();
        Interval(c.unit, c.interval);
        std::vector<std::int64_t> ranAt; // running minutes at each run
        for (std::int64_t minute = 1; minute <= kHorizon; ++minute) {
            const int before = Runs();
            engine->tGetTimeTimer();
            if (Runs() != before) {
                ranAt.push_back(minute);
            }
        }
        const std::int64_t unitMinutes = c.unit == 1 ? 1 : c.unit == 2 ? 60 : 1440;
        std::vector<std::int64_t> expected;
        if ((c.unit >= 1 && c.unit <= 3) && c.interval > 0) {
            for (std::int64_t at = unitMinutes * c.interval; at <= kHorizon;
                 at += unitMinutes * c.interval) {
                expected.push_back(at);
            }
        }
        EXPECT_EQ(ranAt, expected) << "Einheit " << c.unit << ", Intervall " << c.interval;
    }
}

TEST_F(Scheduler, ChangingTheUnitOrTheIntervalKeepsCountingFromTheTimerStart) {
    Interval(1, 90);
    EXPECT_EQ(RunCountersOver(90), std::vector<std::uint32_t>{30}); // 1 hour 30 minutes
    Interval(2, 2);                                                 // now every two hours
    EXPECT_EQ(RunCountersOver(30), std::vector<std::uint32_t>{2});  // at 2 hours of running
    EXPECT_EQ(RunCountersOver(119).size(), 0u);
    EXPECT_EQ(RunCountersOver(1), std::vector<std::uint32_t>{4});
    Interval(1, 1); // every minute from the next tick on
    EXPECT_EQ(RunCountersOver(2), (std::vector<std::uint32_t>{1, 2}));
}

TEST_F(Scheduler, AnIntervalOfZeroStartsNoRunInsteadOfDividingByZero) {
    Interval(1, 0);
    EXPECT_TRUE(RunCountersOver(120).empty());
    Interval(2, 0);
    EXPECT_TRUE(RunCountersOver(60 * 3).empty());
}

TEST_F(Scheduler, FixedTimeRunsOnceInTheMinuteOrTheOneAfter) {
    FixedTime(12, 30, 0);
    EXPECT_FALSE(RunsAt(2026, 12, 8, 12, 29));
    EXPECT_TRUE(RunsAt(2026, 12, 8, 12, 30));
    EXPECT_FALSE(RunsAt(2026, 12, 8, 12, 31)); // already ran today
    EXPECT_FALSE(RunsAt(2026, 12, 8, 12, 32));
    EXPECT_FALSE(RunsAt(2026, 12, 8, 13, 30));
    EXPECT_TRUE(RunsAt(2026, 12, 9, 12, 30)); // the next day runs again
    EXPECT_FALSE(RunsAt(2026, 12, 9, 12, 31));
}

TEST_F(Scheduler, FixedTimeForgivesALostTickInTheMinuteBefore) {
    FixedTime(12, 30, 0);
    EXPECT_FALSE(RunsAt(2026, 12, 8, 12, 29));
    // The tick in 12:30 was lost (a run in progress, a busy system).
    EXPECT_TRUE(RunsAt(2026, 12, 8, 12, 31));
    EXPECT_FALSE(RunsAt(2026, 12, 8, 12, 32));
    EXPECT_TRUE(RunsAt(2026, 12, 9, 12, 31));
}

TEST_F(Scheduler, FixedTimeDoesNotRunAgainWhenTheRunSetTheClockBack) {
    FixedTime(12, 30, 0);
    EXPECT_TRUE(RunsAt(2026, 12, 8, 12, 30));
    EXPECT_FALSE(RunsAt(2026, 12, 8, 12, 30));
    EXPECT_FALSE(RunsAt(2026, 12, 8, 12, 31));
}

TEST_F(Scheduler, FixedTimeMovedLaterOnTheSameDayRunsAtTheNewTime) {
    FixedTime(12, 30, 0);
    EXPECT_TRUE(RunsAt(2026, 12, 8, 12, 30));
    FixedTime(12, 45, 0);
    EXPECT_FALSE(RunsAt(2026, 12, 8, 12, 44));
    EXPECT_TRUE(RunsAt(2026, 12, 8, 12, 45));
    EXPECT_FALSE(RunsAt(2026, 12, 8, 12, 46));
}

TEST_F(Scheduler, FixedTimeAtMinute59DoesNotWrap) {
    FixedTime(12, 59, 0);
    EXPECT_TRUE(RunsAt(2026, 12, 8, 12, 59));
    EXPECT_FALSE(RunsAt(2026, 12, 8, 13, 0));
}

TEST_F(Scheduler, FixedTimeWithAMinuteNoClockShowsNeverRunsAndDoesNotOverflow) {
    for (const int minute : {INT32_MAX, INT32_MAX - 1, INT32_MIN, 60, 100}) {
        FixedTime(12, minute, 0);
        for (int now = 0; now < 60; ++now) {
            EXPECT_FALSE(RunsAt(2026, 12, 8, 12, now)) << "Minute " << minute << " at " << now;
        }
    }
}

TEST_F(Scheduler, FixedTimeWeekdays) {
    // 2026-12-07 is a Monday, 2026-12-13 a Sunday.
    const int monday = 7;
    for (int weekday = 0; weekday <= 8; ++weekday) {
        FixedTime(12, 30, weekday);
        std::vector<int> ranOn;
        for (int day = monday; day < monday + 7; ++day) {
            if (RunsAt(2026, 12, day, 12, 30)) {
                ranOn.push_back(day - monday + 1); // 1 Monday .. 7 Sunday
            }
        }
        if (weekday == 0) {
            EXPECT_EQ(ranOn.size(), 7u);
        } else if (weekday <= 7) {
            EXPECT_EQ(ranOn, std::vector<int>{weekday}) << "Wochentag " << weekday;
        } else {
            EXPECT_TRUE(ranOn.empty());
        }
    }
}

TEST_F(Scheduler, TickDuringARunIsDroppedAndLeavesTheCountersAlone) {
    Interval(1, 1);
    engine->Busy = true;
    engine->tGetTimeTimer();
    EXPECT_EQ(engine->MinuteCounter, 0u);
    EXPECT_TRUE(host.uptime.empty());
    EXPECT_EQ(Runs(), 0);
    engine->Busy = false;
    engine->tGetTimeTimer();
    EXPECT_EQ(Runs(), 1);
    EXPECT_FALSE(engine->Busy);
}

TEST_F(Scheduler, TickAfterClosingDoesNothing) {
    Interval(1, 1);
    engine->FormDestroy();
    engine->tGetTimeTimer();
    EXPECT_EQ(engine->MinuteCounter, 0u);
    EXPECT_FALSE(engine->tGetTime.isActive());
    EXPECT_EQ(engine->LocalOptions, nullptr);
    EXPECT_EQ(engine->RasApi, nullptr);
}

} // namespace

namespace {

class NextRun : public Scheduler {
protected:
    // The line as a configured scheduler says it (the runs of these tests stay unconfigured,
    // so they end at once without a network).
    std::string Text() {
        engine->Configured = true;
        std::string text = engine->NextRunText();
        engine->Configured = false;
        return text;
    }
    // Ticks once a minute of "now" until a run happens; the local minute of that run.
    std::string FirstRunMinute(int maxTicks) {
        for (int i = 0; i < maxTicks; ++i) {
            localNow += 1.0 / 1440.0;
            const int before = Runs();
            engine->tGetTimeTimer();
            if (Runs() != before) {
                return FormatDateTime("dd.mm.yyyy, hh:mm", localNow);
            }
        }
        return "no run";
    }
};

} // namespace

// The line names the minute of the first run that the tick's own rules then make, for both
// schedules; an interval's first run comes after a full interval, and the line says so.
TEST_F(NextRun, NamesTheMinuteOfTheRunTheTickMakes) {
    struct Case {
        int modus, unit, interval;  // interval schedule
        int hour, minute, weekday;  // fixed time
        int startHour, startMinute; // "now" at start, 2026-01-01 (a Thursday)
        const char* tail;           // what follows the date and time
    };
    const Case cases[] = {
        {2, 1, 15, 0, 0, 0, 13, 0,
         " local time, after a full interval of 15 minutes of running time (then every 15 "
         "minutes)"},
        {2, 1, 90, 0, 0, 0, 23, 50,
         " local time, after a full interval of 90 minutes of running time (then every 90 "
         "minutes)"},
        {2, 2, 6, 0, 0, 0, 13, 0,
         " local time, after a full interval of 6 hours of running time (then every 6 hours)"},
        {2, 3, 2, 0, 0, 0, 13, 0,
         " local time, after a full interval of 2 days of running time (then every 2 days)"},
        {1, 0, 0, 12, 30, 0, 13, 0, " local time (every day at 12:30)"},
        {1, 0, 0, 13, 0, 0, 12, 59, " local time (every day at 13:00)"},
        // Started within the fixed minute: the first tick comes in the minute after, which
        // still runs (a lost tick is forgiven).
        {1, 0, 0, 13, 0, 0, 13, 0, " local time (every day at 13:00)"},
        {1, 0, 0, 3, 0, 7, 13, 0, " local time (Sundays at 03:00)"},
        {1, 0, 0, 3, 0, 4, 2, 0, " local time (Thursdays at 03:00)"},
    };
    for (const Case& c : cases) {
        StartUp();
        host.Reset();
        localNow = EncodeDateTime(2026, 1, 1, c.startHour, c.startMinute, 20, 0);
        if (c.modus == 2) {
            Interval(c.unit, c.interval);
        } else {
            FixedTime(c.hour, c.minute, c.weekday);
        }
        const std::string text = Text();
        const std::string ran = FirstRunMinute(60 * 24 * 8);
        EXPECT_EQ(text, "next run: " + ran + c.tail)
            << "modus " << c.modus << " unit " << c.unit << " interval " << c.interval;
        // After that run the line names the next one, without "a full interval".
        if (c.modus == 2) {
            const std::string next = Text();
            EXPECT_EQ(next.find("full interval"), std::string::npos) << next;
            EXPECT_EQ(next, "next run: " + FirstRunMinute(60 * 24 * 8) +
                                Format(" local time (every %d %s of running time)", c.interval,
                                       c.unit == 1   ? "minutes"
                                       : c.unit == 2 ? "hours"
                                                     : "days"));
        }
    }
}

// A schedule that never runs says so, naming the value, instead of waiting in silence.
TEST_F(NextRun, SaysWhenNothingWillEverRun) {
    struct Case {
        int modus, unit, interval, hour, minute, weekday;
        const char* text;
    };
    const Case cases[] = {
        {3, 1, 15, 0, 0, 0,
         "next run: none: \"SyncModus\" holds 3, which never runs (1 fixed time, 2 interval)"},
        {0, 1, 15, 0, 0, 0,
         "next run: none: \"SyncModus\" holds 0, which never runs (1 fixed time, 2 interval)"},
        {2, 4, 15, 0, 0, 0,
         "next run: none: \"Einheit\" holds 4, which never runs (1 minutes, 2 hours, 3 days)"},
        {2, 1, 0, 0, 0, 0, "next run: none: \"Intervall\" holds 0, which never runs"},
        {2, 2, -6, 0, 0, 0, "next run: none: \"Intervall\" holds -6, which never runs"},
        {1, 0, 0, 24, 0, 0,
         "next run: none: the fixed time \"Stunde\" 24, \"Minute\" 0, \"Wochentag\" 0 never "
         "comes (0 to 23, 0 to 59, 0 every day or 1 Monday to 7 Sunday)"},
        {1, 0, 0, 12, 75, 0,
         "next run: none: the fixed time \"Stunde\" 12, \"Minute\" 75, \"Wochentag\" 0 never "
         "comes (0 to 23, 0 to 59, 0 every day or 1 Monday to 7 Sunday)"},
        {1, 0, 0, 12, 30, 8,
         "next run: none: the fixed time \"Stunde\" 12, \"Minute\" 30, \"Wochentag\" 8 never "
         "comes (0 to 23, 0 to 59, 0 every day or 1 Monday to 7 Sunday)"},
    };
    for (const Case& c : cases) {
        StartUp();
        if (c.modus == 1) {
            FixedTime(c.hour, c.minute, c.weekday);
        } else {
            Local().Write(settings::SyncModus, c.modus);
            engine->SyncUnit = c.unit;
            engine->SyncInterval = c.interval;
        }
        EXPECT_EQ(Text(), c.text);
        host.Reset();
        EXPECT_EQ(FirstRunMinute(60 * 24 * 8), "no run") << c.text;
    }
    StartUp(); // no "CurrentServer"
    EXPECT_EQ(engine->NextRunText(), "next run: none: no server is configured (\"CurrentServer\")");
}

// A hand-edited interval or a "now" near the calendar's end must not end the program: a next
// run past 31.12.9999 is "none", naming the value, and a date that the calendar still holds is
// named as it is.
TEST_F(NextRun, ARunPastTheCalendarsEndIsNoneAndNothingEscapes) {
    struct Case {
        int modus, unit, interval;
        TDateTime now;
        const char* text; // empty: a date is named
    };
    const TDateTime today = EncodeDateTime(2026, 1, 1, 13, 0, 20, 0);
    const Case cases[] = {
        {2, 2, 0x09999999, today,
         "next run: none: \"Intervall\" holds 161061273 hours, so the next run would come "
         "after the calendar's end (31.12.9999)"},
        {2, 3, 2916000, today,
         "next run: none: \"Intervall\" holds 2916000 days, so the next run would come after "
         "the calendar's end (31.12.9999)"},
        {2, 3, 0x7fffffff, today,
         "next run: none: \"Intervall\" holds 2147483647 days, so the next run would come "
         "after the calendar's end (31.12.9999)"},
        {2, 1, 0x7fffffff, today, ""}, // some 4083 years ahead: still on the calendar
        {2, 1, 15, EncodeDateTime(9999, 12, 31, 23, 50, 0, 0),
         "next run: none: \"Intervall\" holds 15 minutes, so the next run would come after the "
         "calendar's end (31.12.9999)"},
        {1, 0, 0, EncodeDateTime(9999, 12, 31, 23, 0, 0, 0),
         "next run: none: the fixed time \"Stunde\" 12, \"Minute\" 30, \"Wochentag\" 0 would "
         "next come after the calendar's end (31.12.9999)"},
    };
    for (const Case& c : cases) {
        StartUp();
        localNow = c.now;
        if (c.modus == 1) {
            FixedTime(12, 30, 0);
        } else {
            Interval(c.unit, c.interval);
        }
        std::string text;
        ASSERT_NO_THROW(text = Text()) << "unit " << c.unit << " interval " << c.interval;
        if (*c.text != '\0') {
            EXPECT_EQ(text, c.text);
        } else {
            EXPECT_TRUE(text.rfind("next run: ", 0) == 0 && text.find("none") == std::string::npos)
                << text;
        }
    }
}

// Summer time in Europe/Berlin, 2027: on 28 March the clocks go from 02:00 CET to 03:00 CEST, on
// 31 October from 03:00 CEST back to 02:00 CET. A fixed time in the skipped hour runs once,
// right after the change; one in the hour that comes twice runs once, the first time; an
// interval counts real time. The line names the local minute at which the ticks (once a
// minute of real time, "now" here being UTC) really make the run, and so does the line after.
TEST_F(NextRun, AcrossTheChangeOfSummerTimeTheLineNamesWhenTheRunReallyComes) {
    const ZoneScope berlin("Europe/Berlin");
    localFromUtc = UtcToLocal;
    struct Case {
        const char* what;
        int modus, hour, minute; // interval: every 2 hours
        TDateTime startUtc;
        const char* line;
        const char* ranAt;
        const char* nextLine;
        const char* ranNextAt;
    };
    const auto utc = [](int year, int month, int day, int hour, int minute) {
        return EncodeDateTime(year, month, day, hour, minute, 20, 0);
    };
    const Case cases[] = {
        {"02:30 does not exist on 28 March", 1, 2, 30, utc(2027, 3, 27, 21, 0),
         "next run: 28.03.2027, 03:00 local time (every day at 02:30)", "28.03.2027, 03:00",
         "next run: 29.03.2027, 02:30 local time (every day at 02:30)", "29.03.2027, 02:30"},
        {"02:00 neither", 1, 2, 0, utc(2027, 3, 27, 21, 0),
         "next run: 28.03.2027, 03:00 local time (every day at 02:00)", "28.03.2027, 03:00",
         "next run: 29.03.2027, 02:00 local time (every day at 02:00)", "29.03.2027, 02:00"},
        {"03:00 does", 1, 3, 0, utc(2027, 3, 27, 21, 0),
         "next run: 28.03.2027, 03:00 local time (every day at 03:00)", "28.03.2027, 03:00",
         "next run: 29.03.2027, 03:00 local time (every day at 03:00)", "29.03.2027, 03:00"},
        {"01:59 the minute before the change", 1, 1, 59, utc(2027, 3, 27, 21, 0),
         "next run: 28.03.2027, 01:59 local time (every day at 01:59)", "28.03.2027, 01:59",
         "next run: 29.03.2027, 01:59 local time (every day at 01:59)", "29.03.2027, 01:59"},
        {"every 2 hours from 01:30 CET", 2, 0, 0, utc(2027, 3, 28, 0, 30),
         "next run: 28.03.2027, 04:30 local time, after a full interval of 2 hours of running "
         "time (then every 2 hours)",
         "28.03.2027, 04:30",
         "next run: 28.03.2027, 06:30 local time (every 2 hours of running time)",
         "28.03.2027, 06:30"},
        {"02:30 comes twice on 31 October", 1, 2, 30, utc(2027, 10, 30, 20, 0),
         "next run: 31.10.2027, 02:30 local time (every day at 02:30)", "31.10.2027, 02:30",
         "next run: 01.11.2027, 02:30 local time (every day at 02:30)", "01.11.2027, 02:30"},
        {"every 2 hours from 01:30 CEST", 2, 0, 0, utc(2027, 10, 30, 23, 30),
         "next run: 31.10.2027, 02:30 local time, after a full interval of 2 hours of running "
         "time (then every 2 hours)",
         "31.10.2027, 02:30",
         "next run: 31.10.2027, 04:30 local time (every 2 hours of running time)",
         "31.10.2027, 04:30"},
    };
    // Ticks once a minute of real time until a run happens; the local minute of that run.
    const auto firstRun = [this] {
        for (int i = 0; i < 60 * 24 * 3; ++i) {
            localNow += 1.0 / 1440.0;
            const int before = Runs();
            engine->tGetTimeTimer();
            if (Runs() != before) {
                return FormatDateTime("dd.mm.yyyy, hh:mm", UtcToLocal(localNow));
            }
        }
        return std::string("no run");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        localNow = c.startUtc;
        StartUp();
        host.Reset();
        if (c.modus == 2) {
            Interval(2, 2);
        } else {
            FixedTime(c.hour, c.minute, 0);
        }
        EXPECT_EQ(Text(), c.line);
        EXPECT_EQ(firstRun(), c.ranAt);
        EXPECT_EQ(Text(), c.nextLine);
        EXPECT_EQ(firstRun(), c.ranNextAt);
    }
}
