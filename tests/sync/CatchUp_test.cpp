// The catch-up after the machine wakes or the network returns: a scheduled run missed while
// asleep or offline starts once, a few moments after the reports, through the tick's path.
// The watcher's reports come from the test; runs are counted by the connections the daytime
// server on 127.0.0.1 accepted, and "now" and the clock are the fixture's fakes.
#include "support/EventLoop.h"
#include "support/LoopbackServer.h"
#include "support/SyncEngineFixture.h"

#include "framework/StringTable.h"
#include "settings/SettingsTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

using namespace kairelon;
using namespace kairelon::test;

namespace {

constexpr double kMinute = 1.0 / (24 * 60);

// A day of January 2026 (the 5th is a Monday) at a local time.
TDateTime Jan(int day, int hour, int minute, int second = 0) {
    return EncodeDateTime(2026, 1, day, hour, minute, second, 0);
}

class CatchUp : public SyncEngineFixture {
protected:
    void SetUp() override {
        line_ = DaytimeLine(clock->GetSystemTime(), 0);
        server_ = std::make_unique<LoopbackServer>([this](int fd, LoopbackServer&) {
            LoopbackServer::SendAll(fd, offline_ ? std::string("no time here") : line_);
        });
        Local().Write(settings::CurrentServer, "127.0.0.1:" + std::to_string(server_->Port()));
    }

    // Start-up at `start` with the schedule as arranged in the store.
    void StartAt(TDateTime start) {
        localNow = start;
        StartUp();
        ASSERT_TRUE(engine->tGetTime.isActive());
        engine->tCatchUp.setInterval(30);
        host.Reset();
    }
    void FixedTime(int hour, int minute, int weekday) {
        Local().Write(settings::SyncModus, 1);
        Local().Write(settings::Stunde, hour);
        Local().Write(settings::Minute, minute);
        Local().Write(settings::Wochentag, weekday);
    }
    void TickAt(TDateTime when) {
        localNow = when;
        engine->tGetTimeTimer();
    }
    void ReportAt(TDateTime when, WakeEvent event = WakeEvent::Resumed) {
        localNow = when;
        wakeListener(event);
    }
    // Lets the catch-up timer fire and its run end.
    void Settle() {
        PumpUntil([this] { return !engine->tCatchUp.isActive() && !engine->Busy; }, 10000);
    }
    int Runs() const { return server_->Accepted(); }
    int Entries(int kind, const std::string& text) const {
        return static_cast<int>(std::count(host.entries.begin(), host.entries.end(),
                                           std::to_string(kind) + "|" + text));
    }

    std::string line_;
    std::atomic<bool> offline_{false};
    std::unique_ptr<LoopbackServer> server_;
};

TEST_F(CatchUp, FixedTimeRunsOnceWhenItsTimePassedWhileAsleep) {
    const struct {
        const char* what;
        int weekday;
        TDateTime lastTick; // the last tick before the sleep
        TDateTime wake;
        int runs; // from the last tick on, including a tick a minute after waking
    } cases[] = {
        {"slept over the fixed time", 0, Jan(5, 11, 0), Jan(5, 15, 0), 1},
        {"woke before the fixed time", 0, Jan(5, 11, 0), Jan(5, 12, 10), 0},
        {"woke in the fixed minute", 0, Jan(5, 12, 29, 50), Jan(5, 12, 30, 40), 1},
        {"slept after the day's run", 0, Jan(5, 12, 30, 10), Jan(5, 15, 0), 1},
        {"slept for days", 0, Jan(5, 11, 0), Jan(8, 9, 0), 1},
        {"slept over another weekday only", 3, Jan(5, 11, 0), Jan(6, 15, 0), 0},
        {"slept over the chosen weekday", 3, Jan(5, 11, 0), Jan(8, 9, 0), 1},
        {"woke on the chosen weekday before the time", 3, Jan(5, 11, 0), Jan(7, 12, 0), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FixedTime(12, 30, c.weekday);
        StartAt(Jan(5, 8, 0));
        const int before = Runs();
        TickAt(c.lastTick);
        ReportAt(c.wake);
        Settle();
        TickAt(c.wake + kMinute);
        ReportAt(c.wake + 2 * kMinute, WakeEvent::NetworkReturned); // nothing is owed now
        Settle();
        EXPECT_EQ(Runs() - before, c.runs);
        EXPECT_EQ(engine->MissedRun(), false);
    }
}

TEST_F(CatchUp, TheRunSaysWhyItStartsAndSetsTheClockOnce) {
    FixedTime(12, 30, 0);
    StartAt(Jan(5, 8, 0));
    TickAt(Jan(5, 11, 0));
    ReportAt(Jan(5, 15, 0));
    EXPECT_TRUE(engine->tCatchUp.isActive());
    EXPECT_EQ(Runs(), 0) << "the run waits a few moments";
    Settle();
    ASSERT_EQ(Runs(), 1);
    const auto entries = host.Entries();
    const auto announced = std::find(entries.begin(), entries.end(), "1|" + LoadStr(4190));
    ASSERT_NE(announced, entries.end());
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().rfind("1|" + LoadStr(1021).substr(0, 20), 0), 0u) << entries.back();
    EXPECT_LT(announced - entries.begin(), static_cast<long>(entries.size()) - 1);
    EXPECT_EQ(clock->SetCalls().size(), 1u);
    EXPECT_FALSE(engine->Busy);
}

TEST_F(CatchUp, ABurstOfReportsStartsOneRun) {
    FixedTime(12, 30, 0);
    StartAt(Jan(5, 8, 0));
    TickAt(Jan(5, 11, 0));
    ReportAt(Jan(5, 15, 0), WakeEvent::Resumed);
    PumpFor(10);
    ReportAt(Jan(5, 15, 0, 1), WakeEvent::NetworkReturned);
    PumpFor(10);
    ReportAt(Jan(5, 15, 0, 2), WakeEvent::NetworkReturned);
    Settle();
    EXPECT_EQ(Runs(), 1);
    EXPECT_EQ(Entries(1, LoadStr(4190)), 1);
}

TEST_F(CatchUp, EachReportStartsTheWaitAnew) {
    FixedTime(12, 30, 0);
    StartAt(Jan(5, 8, 0));
    engine->tCatchUp.setInterval(1000);
    TickAt(Jan(5, 11, 0));
    ReportAt(Jan(5, 15, 0));
    for (int i = 0; i < 4; ++i) { // 4 × 300 ms: longer than one wait, but no wait runs out
        PumpFor(300);
        ReportAt(Jan(5, 15, 0, i + 1), WakeEvent::NetworkReturned);
    }
    EXPECT_EQ(Runs(), 0);
    Settle();
    EXPECT_EQ(Runs(), 1);
}

TEST_F(CatchUp, SettingOffStartsNothing) {
    FixedTime(12, 30, 0);
    Local().Write(settings::NachholenNachStandby, false);
    StartAt(Jan(5, 8, 0));
    TickAt(Jan(5, 11, 0));
    ReportAt(Jan(5, 15, 0));
    Settle();
    EXPECT_EQ(Runs(), 0);
    EXPECT_TRUE(host.Entries().empty());
    EXPECT_TRUE(engine->MissedRun()) << "the setting decides, not the judgement";
}

TEST_F(CatchUp, IntervalRunsOnceWhenItRanOutWhileAsleep) {
    Local().Write(settings::SyncModus, 2);
    Local().Write(settings::Einheit, 2); // hours
    Local().Write(settings::Intervall, 1);
    const struct {
        const char* what;
        int ticks;      // minutes of running time before the sleep
        TDateTime wake; // the schedule started at 08:00
        int runs;
    } cases[] = {
        {"slept for hours", 30, Jan(5, 11, 0), 1},
        {"did not sleep", 30, Jan(5, 8, 30, 30), 0},
        {"slept, but the interval has not run out", 10, Jan(5, 8, 40), 0},
        {"slept for a week", 59, Jan(12, 8, 0), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartAt(Jan(5, 8, 0));
        const int before = Runs();
        for (int i = 1; i <= c.ticks; ++i) {
            TickAt(Jan(5, 8, i));
        }
        ASSERT_EQ(Runs(), before);
        ReportAt(c.wake);
        Settle();
        ReportAt(c.wake + kMinute, WakeEvent::NetworkReturned);
        Settle();
        EXPECT_EQ(Runs() - before, c.runs);
        EXPECT_FALSE(engine->MissedRun());
    }
}

// The interval counts real time, so the catch-up measures real time too: across the change to
// summer time the clock shows an hour more than has passed, across the change back an hour
// less (Europe/Berlin, 2027; "now" is UTC here).
TEST_F(CatchUp, AnIntervalIsMeasuredInRealTimeAcrossTheChangeOfSummerTime) {
    const ZoneScope berlin("Europe/Berlin");
    localFromUtc = UtcToLocal;
    Local().Write(settings::SyncModus, 2);
    Local().Write(settings::Einheit, 2); // every 2 hours
    Local().Write(settings::Intervall, 2);
    const auto utc = [](int month, int day, int hour, int minute) {
        return EncodeDateTime(2027, month, day, hour, minute, 20, 0);
    };
    const struct {
        const char* what;
        TDateTime start;
        TDateTime wake;
        bool missed;
    } cases[] = {
        {"spring: 75 minutes passed, the clock says 135", utc(3, 28, 0, 30), utc(3, 28, 1, 45),
         false},
        {"spring: 125 minutes passed", utc(3, 28, 0, 30), utc(3, 28, 2, 35), true},
        {"autumn: 135 minutes passed, the clock says 75", utc(10, 30, 23, 30), utc(10, 31, 1, 45),
         true},
        {"autumn: 105 minutes passed", utc(10, 30, 23, 30), utc(10, 31, 1, 15), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartAt(c.start);
        localNow = c.wake;
        EXPECT_EQ(engine->MissedRun(), c.missed);
    }
}

TEST_F(CatchUp, ARunThatFailedOfflineIsMadeUpWhenTheNetworkReturns) {
    FixedTime(12, 30, 0);
    StartAt(Jan(5, 8, 0));
    offline_ = true;
    TickAt(Jan(5, 12, 30, 10));
    ASSERT_EQ(Runs(), 1);
    ASSERT_EQ(host.Entries().back().rfind("3|", 0), 0u) << host.Entries().back();

    // The machine woke, but the network is not there yet: the made-up run fails too, and the
    // network's return makes it up once more.
    ReportAt(Jan(5, 12, 45), WakeEvent::Resumed);
    Settle();
    EXPECT_EQ(Runs(), 2);
    offline_ = false;
    ReportAt(Jan(5, 12, 46), WakeEvent::NetworkReturned);
    Settle();
    EXPECT_EQ(Runs(), 3);
    EXPECT_EQ(host.Entries().back().rfind("1|", 0), 0u) << host.Entries().back();
    ReportAt(Jan(5, 13, 0), WakeEvent::NetworkReturned);
    Settle();
    EXPECT_EQ(Runs(), 3) << "nothing is owed after a run that set the clock";
    TickAt(Jan(5, 13, 1));
    EXPECT_EQ(Runs(), 3);
}

TEST_F(CatchUp, ARunInProgressDelaysTheCatchUpAndATickThatRanMeanwhileCancelsIt) {
    FixedTime(12, 30, 0);
    StartAt(Jan(5, 8, 0));
    TickAt(Jan(5, 11, 0));
    engine->Busy = true; // a menu-started run waits for its server
    ReportAt(Jan(5, 15, 0));
    PumpFor(150);
    EXPECT_EQ(Runs(), 0);
    EXPECT_TRUE(engine->tCatchUp.isActive()) << "it looks again later";
    engine->Busy = false;
    Settle();
    EXPECT_EQ(Runs(), 1);

    // A report for an interval that then runs by the tick before the wait is over.
    Local().Write(settings::SyncModus, 2);
    engine->SyncUnit = 1;
    engine->SyncInterval = 1000;
    engine->LastIntervalRunUtc = Jan(4, 0, 0);
    ReportAt(Jan(5, 15, 1));
    ASSERT_TRUE(engine->tCatchUp.isActive());
    engine->SyncInterval = 1;
    TickAt(Jan(5, 15, 1, 1)); // runs: the interval of one minute is due
    EXPECT_EQ(Runs(), 2);
    Settle();
    EXPECT_EQ(Runs(), 2);
}

TEST_F(CatchUp, NothingWhileTheSchedulerIsOffOrAfterClosing) {
    FixedTime(12, 30, 0);
    StartAt(Jan(5, 8, 0));
    TickAt(Jan(5, 11, 0));
    engine->tGetTime.stop();
    ReportAt(Jan(5, 15, 0));
    EXPECT_FALSE(engine->tCatchUp.isActive());
    engine->tGetTime.start();
    ReportAt(Jan(5, 15, 1));
    EXPECT_TRUE(engine->tCatchUp.isActive());
    engine->FormDestroy();
    EXPECT_FALSE(engine->tCatchUp.isActive());
    EXPECT_EQ(engine->Wake, nullptr);
    PumpFor(100);
    EXPECT_EQ(Runs(), 0);
}

} // namespace
