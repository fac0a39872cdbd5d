#include "platform/Clock.h"
#include "platform/DebugOutput.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

using namespace kairelon;

namespace {

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

struct CapturedDebugOutput {
    CapturedDebugOutput() {
        previous = SetDebugOutputSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~CapturedDebugOutput() { SetDebugOutputSink(previous); }
    std::vector<std::string> lines;
    DebugOutputSink previous;
};

} // namespace

TEST(FakeClock, TakesValidTimesAndRefusesAsTold) {
    CFakeClock clock;
    const SYSTEMTIME target{2026, 12, 0, 8, 20, 30, 15, 0};
    EXPECT_EQ(clock.SetSystemTime(target), 0);
    EXPECT_TRUE(SameTime(clock.GetSystemTime(), target));
    EXPECT_EQ(clock.GetSystemTime().wDayOfWeek, 2); // a Tuesday, as a real clock would say

    EXPECT_EQ(clock.SetSystemTime(SYSTEMTIME{2026, 2, 0, 30, 0, 0, 0, 0}), EINVAL);
    clock.RefuseWith(EPERM);
    EXPECT_EQ(clock.SetSystemTime(SYSTEMTIME{2027, 1, 0, 1, 0, 0, 0, 0}), EPERM);
    ASSERT_EQ(clock.SetCalls().size(), 1u);
    EXPECT_TRUE(SameTime(clock.GetSystemTime(), target));

    clock.Advance(45000);
    EXPECT_TRUE(SameTime(clock.GetSystemTime(), SYSTEMTIME{2026, 12, 0, 8, 20, 31, 0, 0}));
}

TEST(DryRunClock, SaysWhatItWouldSetAndChecksTheRecordLikeTheRealClock) {
    CapturedDebugOutput output;
    CDryRunClock clock;
    EXPECT_EQ(clock.SetSystemTime(SYSTEMTIME{2031, 5, 0, 17, 6, 7, 8, 9}), 0);
    ASSERT_EQ(output.lines.size(), 1u);
    EXPECT_EQ(output.lines[0], "would set the clock to 2031-05-17 06:07:08.009 UTC");

    EXPECT_EQ(clock.SetSystemTime(SYSTEMTIME{2031, 13, 0, 1, 0, 0, 0, 0}), EINVAL);
    EXPECT_EQ(clock.SetSystemTime(SYSTEMTIME{1969, 12, 0, 31, 23, 59, 59, 0}), EINVAL);
    EXPECT_EQ(output.lines.size(), 1u);
}

TEST(RealClock, ReadsTheMachinesUtcTime) {
    CRealClock clock;
    // Not time(): it may read a coarse clock a tick behind the one the program reads.
    const auto readRealtime = [] {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return ts.tv_sec;
    };
    const std::time_t before = readRealtime();
    const SYSTEMTIME now = clock.GetSystemTime();
    const std::time_t after = readRealtime();
    std::tm tm{};
    tm.tm_year = now.wYear - 1900;
    tm.tm_mon = now.wMonth - 1;
    tm.tm_mday = now.wDay;
    tm.tm_hour = now.wHour;
    tm.tm_min = now.wMinute;
    tm.tm_sec = now.wSecond;
    const std::time_t read = timegm(&tm);
    EXPECT_GE(read, before);
    EXPECT_LE(read, after);
    std::tm utc{};
    gmtime_r(&read, &utc);
    EXPECT_EQ(now.wDayOfWeek, utc.tm_wday);
}

TEST(DebugOutput, WritesOneLinePerMessageToTheSinkOrStandardError) {
    {
        CapturedDebugOutput output;
        OutputDebugString("first\n");
        OutputDebugString("second");
        EXPECT_EQ(output.lines, (std::vector<std::string>{"first", "second"}));
    }
    testing::internal::CaptureStderr();
    OutputDebugString("to standard error\n");
    OutputDebugString("again");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to standard error\nagain\n");
}
