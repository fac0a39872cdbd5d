#include "sync/ClockSetting.h"

#include "framework/DateTime.h"
#include "framework/StringTable.h"
#include "platform/NamedEvent.h"
#include "support/EventPrefix.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

using namespace kairelon;

TEST(DirectRoute, SetsTheClockToTheRemoteTime) {
    CFakeClock clock;
    const SYSTEMTIME remote{2026, 12, 0, 8, 21, 5, 30, 0};
    SetClockDirectly(clock, remote);
    ASSERT_EQ(clock.SetCalls().size(), 1u);
    EXPECT_EQ(clock.SetCalls()[0].wHour, 21);
    EXPECT_EQ(clock.SetCalls()[0].wSecond, 30);
}

TEST(DirectRoute, ARefusalRaisesSetSystemTimeErrorWithTheSystemText) {
    CFakeClock clock;
    clock.RefuseWith(EPERM);
    try {
        SetClockDirectly(clock, SYSTEMTIME{2026, 12, 0, 8, 21, 5, 30, 0});
        FAIL() << "no exception";
    } catch (const ESetSystemTimeError& e) {
        EXPECT_EQ(e.Message(), "Operation not permitted");
    }
    clock.RefuseWith(0);
    EXPECT_THROW(SetClockDirectly(clock, SYSTEMTIME{2026, 2, 0, 31, 0, 0, 0, 0}),
                 ESetSystemTimeError);
    EXPECT_TRUE(clock.SetCalls().empty());
}

TEST(ServiceCheckBox, WithoutTheServiceTheMessageNamesTheSystemReason) {
    test::UniqueEventPrefix prefix;
    std::string message;
    EXPECT_FALSE(CheckServiceEvent(message));
    const std::string text = LoadStr(1077);
    ASSERT_FALSE(text.empty());
    const auto slot = text.find("%s");
    ASSERT_NE(slot, std::string::npos);
    EXPECT_EQ(message, text.substr(0, slot) + "No such file or directory" + text.substr(slot + 2));
}

TEST(ServiceCheckBox, WithTheServiceRunningThereIsNoMessageAndNothingIsSignalled) {
    test::UniqueEventPrefix prefix;
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    ASSERT_TRUE(begin.IsOpen());
    std::string message = "untouched";
    EXPECT_TRUE(CheckServiceEvent(message));
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(begin.Wait(0), TWaitResult::TimedOut);
}

