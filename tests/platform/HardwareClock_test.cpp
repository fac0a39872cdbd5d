// The hardware clock after a set, through the fake RTC: UTC or local time as /etc/adjtime says,
// the reading rounded to the second, a machine without an RTC said nothing of, a refusal
// reported; and the names of the other time services.
#include "platform/Clock.h"
#include "platform/HardwareClock.h"
#include "platform/TimeServices.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace kairelon;

namespace {

// Sets TZ for the life of the object.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

} // namespace

TEST(HardwareClock, WrittenInUtcUnlessAdjtimeSaysLocal) {
    const ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3"); // an hour east of UTC in winter
    QTemporaryDir dir;
    const std::string adjtime = dir.path().toStdString() + "/adjtime";
    const SYSTEMTIME utc{2026, 12, 0, 9, 23, 30, 15, 499};
    struct Case {
        const char* text; // nullptr: no adjtime file
        int hour;
    };
    const Case cases[] = {
        {nullptr, 23},
        {"0.0 0 0.0\n0\nUTC\n", 23},
        {"0.0 0 0.0\n0\nLOCAL\n", 0}, // 00:30 on the 10th in local time
        {"0.0 0 0.0\n0\nLOCAL", 0},
        {"0.0 0 0.0\n0\n  LOCAL \r\n", 0},
        {"0.0 0 0.0\n0\n", 23},
        {"LOCAL\n", 23}, // the word counts on the third line only
        {"0.0 0 0.0\n0\nlocal\n", 23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(no file)");
        std::remove(adjtime.c_str());
        if (c.text != nullptr) {
            std::ofstream(adjtime) << c.text;
        }
        CFakeHardwareClock rtc(adjtime);
        const THardwareClockOutcome outcome = WriteHardwareClock(rtc, utc);
        EXPECT_TRUE(outcome.written);
        EXPECT_EQ(outcome.error, 0);
        ASSERT_EQ(rtc.Readings().size(), 1u);
        const SYSTEMTIME reading = rtc.Readings()[0];
        EXPECT_EQ(reading.wHour, c.hour);
        EXPECT_EQ(reading.wDay, c.hour == 0 ? 10 : 9);
        EXPECT_EQ(reading.wMinute, 30);
        EXPECT_EQ(reading.wSecond, 15); // .499 is nearer 15 than 16
    }
}

TEST(HardwareClock, TheNearestSecondIsWrittenAcrossTheTurnOfTheYear) {
    CFakeHardwareClock rtc("/nonexistent/adjtime");
    WriteHardwareClock(rtc, SYSTEMTIME{2026, 12, 0, 31, 23, 59, 59, 500});
    ASSERT_EQ(rtc.Readings().size(), 1u);
    const SYSTEMTIME r = rtc.Readings()[0];
    EXPECT_EQ(SystemTimeText(r), "2027-01-01 00:00:00.000");
    EXPECT_EQ(r.wDayOfWeek, 5); // a Friday, as the RTC keeps it
}

TEST(HardwareClock, NoRtcIsNormalAndAFailureIsReported) {
    struct Case {
        int refusal;
        bool written;
        int error;
    };
    for (const Case c :
         {Case{0, true, 0}, Case{ENOENT, false, 0}, Case{ENODEV, false, 0}, Case{ENXIO, false, 0},
          Case{EACCES, false, EACCES}, Case{EIO, false, EIO}}) {
        SCOPED_TRACE(c.refusal);
        CFakeHardwareClock rtc("/nonexistent/adjtime");
        rtc.RefuseWith(c.refusal);
        const THardwareClockOutcome outcome =
            WriteHardwareClock(rtc, SYSTEMTIME{2026, 12, 0, 9, 12, 0, 0, 0});
        EXPECT_EQ(outcome.written, c.written);
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.device, "/dev/rtc-fake");
        EXPECT_EQ(rtc.Attempts(), 1);
    }
}

TEST(HardwareClock, OnlyTheRealClockHasTheMachinesRtc) {
    CRealClock real;
    CDryRunClock dryRun;
    CFakeClock fake;
    EXPECT_NE(real.HardwareClock(), nullptr);
    EXPECT_EQ(dryRun.HardwareClock(), nullptr); // a dry run never writes it
    EXPECT_EQ(fake.HardwareClock(), nullptr);
    CFakeHardwareClock rtc("/nonexistent/adjtime");
    fake.AttachHardwareClock(&rtc);
    EXPECT_EQ(fake.HardwareClock(), &rtc);
}

TEST(FakeClock, TheMonotonicClockMovesWithAdvanceOnly) {
    CFakeClock clock;
    const std::int64_t start = clock.MonotonicNs();
    EXPECT_EQ(clock.SetSystemTime(SYSTEMTIME{2020, 1, 0, 1, 0, 0, 0, 0}), 0);
    EXPECT_EQ(clock.MonotonicNs(), start) << "setting the wall clock does not move it";
    clock.Advance(1500);
    EXPECT_EQ(clock.MonotonicNs() - start, 1500000000);
    const std::int64_t a = BootTimeNs();
    const std::int64_t b = BootTimeNs();
    EXPECT_GT(a, 0);
    EXPECT_GE(b, a);
}

TEST(TimeServices, KnownDaemonsByTheirProcessNames) {
    struct Case {
        std::vector<std::string> names;
        std::string found;
    };
    const Case cases[] = {
        {{"systemd", "bash", "systemd-timesyn"}, "systemd-timesyncd"},
        {{"chronyd"}, "chronyd"},
        {{"sshd", "ntpd"}, "ntpd"},
        {{"openntpd"}, "openntpd"},
        {{"bash", "chrony", "ntpdate", "timesyncd"}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KnownTimeDaemon(c.names), c.found);
    }
}
