// The hidden-window timer: when it runs, periodic ticks, restarts, failures.
#include "framework/Exception.h"
#include "net/ThreadTimer.h"
#include "support/EventLoop.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace kairelon;
using kairelon::test::PumpFor;
using kairelon::test::PumpUntil;

TEST(ThreadTimer, RunsOnlyWithEnabledANonZeroIntervalAndAHandler) {
    TThreadTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.Running()) << "no handler yet";

    int ticks = 0;
    timer.SetInterval(0);
    timer.SetOnTimer([&ticks](TObject*) { ++ticks; });
    EXPECT_FALSE(timer.Running()) << "interval 0";
    timer.SetInterval(10);
    EXPECT_TRUE(timer.Running());
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Running());
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Running());
    timer.SetOnTimer(nullptr);
    EXPECT_FALSE(timer.Running()) << "handler removed";
    PumpFor(60);
    EXPECT_EQ(ticks, 0);
}

TEST(ThreadTimer, TicksRepeatedlyWithItselfAsSenderUntilDisabled) {
    TThreadTimer timer;
    std::vector<qint64> at;
    QElapsedTimer clock;
    TObject* sender = nullptr;
    timer.SetInterval(40);
    clock.start();
    timer.SetOnTimer([&](TObject* s) {
        sender = s;
        at.push_back(clock.elapsed());
    });
    ASSERT_TRUE(PumpUntil([&] { return at.size() >= 5; }, 5000));
    EXPECT_EQ(sender, &timer);
    EXPECT_GE(at[0], 35);
    EXPECT_GE(at[4], 5 * 40 - 10) << "ticks come an interval apart, not all at once";
    timer.SetEnabled(false);
    const std::size_t seen = at.size();
    PumpFor(150);
    EXPECT_EQ(at.size(), seen);
}

TEST(ThreadTimer, SettingEnabledToItsValueKeepsTheCountdownWhileSettingOnTimerRestartsIt) {
    QElapsedTimer clock;
    qint64 firstTick = -1;
    auto handler = [&](TObject*) {
        if (firstTick < 0) {
            firstTick = clock.elapsed();
        }
    };

    TThreadTimer kept;
    kept.SetInterval(600);
    clock.start();
    kept.SetOnTimer(handler);
    PumpFor(300);
    kept.SetEnabled(true); // no change
    kept.SetInterval(600); // no change
    ASSERT_TRUE(PumpUntil([&] { return firstTick >= 0; }, 5000));
    EXPECT_GE(firstTick, 590);
    EXPECT_LT(firstTick, 880) << "the countdown was restarted by an unchanged value";
    kept.SetEnabled(false);

    firstTick = -1;
    TThreadTimer restarted;
    restarted.SetInterval(600);
    clock.restart();
    restarted.SetOnTimer(handler);
    PumpFor(300);
    restarted.SetOnTimer(handler); // always restarts
    ASSERT_TRUE(PumpUntil([&] { return firstTick >= 0; }, 5000));
    EXPECT_GE(firstTick, 890);
}

TEST(ThreadTimer, AnExceptionInTheHandlerGoesToTheApplicationHandlerAndTicksGoOn) {
    std::vector<std::string> reported;
    TObject* reportedSender = nullptr;
    const TExceptionHandler previous =
        SetExceptionHandler([&](TObject* sender, const std::exception& error) {
            reportedSender = sender;
            reported.push_back(error.what());
        });
    {
        TThreadTimer timer;
        int ticks = 0;
        timer.SetInterval(20);
        timer.SetOnTimer([&ticks](TObject*) {
            ++ticks;
            throw Exception("tick failed");
        });
        ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, 5000));
        EXPECT_GE(reported.size(), 3u);
        EXPECT_EQ(reported.front(), "tick failed");
        EXPECT_EQ(reportedSender, &timer);
    }
    SetExceptionHandler(previous);
}

TEST(ThreadTimer, ARefusedWindowTimerRaisesNoTimerFromTheSetter) {
    TThreadTimer timer;
    timer.SetInterval(50);
    std::string message;
    std::thread other([&] {
        try {
            // The window belongs to this test's thread; another thread cannot set its timer.
            timer.SetOnTimer([](TObject*) {});
        } catch (const Exception& error) {
            message = error.Message();
        }
    });
    other.join();
    EXPECT_EQ(message, "No Timer");
    EXPECT_FALSE(timer.Running());
}

TEST(ThreadTimer, DestroyingTheTimerStopsItsTicks) {
    int ticks = 0;
    {
        TThreadTimer timer;
        timer.SetInterval(10);
        timer.SetOnTimer([&ticks](TObject*) { ++ticks; });
        ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }, 5000));
    }
    const int seen = ticks;
    PumpFor(60);
    EXPECT_EQ(ticks, seen);
}

TEST(ThreadTimer, OwnerFreesTheTimersItStillOwns) {
    auto* owner = new TComponent;
    auto* timer = new TThreadTimer(owner);
    EXPECT_EQ(timer->Owner(), owner);
    int ticks = 0;
    timer->SetInterval(10);
    timer->SetOnTimer([&ticks](TObject*) { ++ticks; });
    delete owner; // frees the timer with it (the sanitizer build would see a leak otherwise)
    PumpFor(40);
    EXPECT_EQ(ticks, 0);
}
