#include "daemons/ClockService.h"

#include "framework/DateTime.h"
#include "framework/Exception.h"
#include "platform/HardwareClock.h"
#include "support/EventPrefix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

using namespace kairelon;

namespace {

std::vector<std::uint8_t> Bytes(const SYSTEMTIME& st) {
    std::vector<std::uint8_t> out;
    for (const std::uint16_t w : {st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute,
                                  st.wSecond, st.wMilliseconds}) {
        out.push_back(static_cast<std::uint8_t>(w & 0xff));
        out.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    return out;
}

std::vector<std::uint8_t> Stamp(std::int64_t ms) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(ms) >> (8 * i)));
    }
    return out;
}

std::vector<std::uint8_t> Bytes(double value) {
    std::vector<std::uint8_t> out(8);
    std::memcpy(out.data(), &value, 8); // the test machine is little endian, like the file
    return out;
}

TDateTime TimeOfDay(int h, int m, int s, int ms = 0) {
    return EncodeTime(h, m, s, ms);
}

const SYSTEMTIME kRemote{2026, 12, 0, 8, 21, 5, 30, 0};

} // namespace

TEST(NewTimeCheck, AcceptsTheRecordAsTheProgramWritesIt) {
    SYSTEMTIME utc;
    EXPECT_EQ(CheckNewTime(Bytes(kRemote), utc), "");
    EXPECT_EQ(utc.wYear, 2026);
    EXPECT_EQ(utc.wDay, 8);
    EXPECT_EQ(utc.wSecond, 30);
}

TEST(NewTimeCheck, RefusesWhatIsNoRealTimeOrNotAsTheProgramWritesIt) {
    SYSTEMTIME utc;
    EXPECT_EQ(CheckNewTime({}, utc), "\"NewTime\" is missing");
    auto shortRecord = Bytes(kRemote);
    shortRecord.pop_back();
    EXPECT_EQ(CheckNewTime(shortRecord, utc), "\"NewTime\" has 15 bytes instead of 16");
    auto longRecord = Bytes(kRemote);
    longRecord.push_back(0);
    EXPECT_NE(CheckNewTime(longRecord, utc), "");

    const auto refused = [&](SYSTEMTIME st, const char* why) {
        const std::string reason = CheckNewTime(Bytes(st), utc);
        EXPECT_NE(reason.find(why), std::string::npos) << reason;
    };
    refused({2026, 2, 0, 30, 0, 0, 0, 0}, "no real date and time");
    refused({2026, 12, 0, 8, 24, 0, 0, 0}, "no real date and time");
    refused({2026, 12, 0, 8, 23, 60, 0, 0}, "no real date and time");
    refused({0, 0, 0, 0, 0, 0, 0, 0}, "no real date and time");
    refused({1969, 12, 0, 31, 23, 59, 59, 0}, "before 1970");
    refused({2026, 12, 2, 8, 21, 5, 30, 0}, "(day of week 0)");
    refused({2026, 12, 0, 8, 21, 5, 30, 1000}, "no real date and time");
    refused({2026, 12, 0, 8, 21, 5, 30, 65535}, "no real date and time");
}

TEST(NewTimeCheck, TakesTheMillisecondsTheProgramNowHandsOver) {
    for (const std::uint16_t ms : {0, 1, 500, 999}) {
        SYSTEMTIME utc;
        SYSTEMTIME st = kRemote;
        st.wMilliseconds = ms;
        EXPECT_EQ(CheckNewTime(Bytes(st), utc), "") << ms;
        EXPECT_EQ(utc.wMilliseconds, ms);
    }
}

namespace {

std::vector<std::uint8_t> Boot(std::int64_t instantNs, std::int64_t stampMs) {
    std::vector<std::uint8_t> out = Stamp(instantNs);
    const std::vector<std::uint8_t> stamp = Stamp(stampMs);
    out.insert(out.end(), stamp.begin(), stamp.end());
    return out;
}

} // namespace

TEST(NewTimeBootCheck, TheTimeSinceNewTimeWasTrueOrNoneForAnOlderProgramsHandOver) {
    const std::int64_t now = 5000000000000; // boot-time clock, ns
    const std::int64_t stampMs = 1796763930000;
    const std::vector<std::uint8_t> oldTimeUtc = Stamp(stampMs);
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::string reasonPart; // empty: accepted
        std::optional<std::int64_t> elapsed;
    };
    const Case cases[] = {
        {{}, "", std::nullopt},                                  // an older program's
        {Boot(now - 1500000000, stampMs + 1), "", std::nullopt}, // an earlier hand-over's
        {Boot(now, stampMs), "", 0},
        {Boot(now - 3250000, stampMs), "", 3250000},              // 3.25 ms
        {Boot(now - 7999000000, stampMs), "", 7999000000},        // just within 8 s
        {Boot(now + 400000, stampMs), "", -400000},               // a millisecond named ahead
        {Boot(now - 8001000000, stampMs), "stale", std::nullopt}, // the clock is set too late
        {Boot(now + 5000000, stampMs), "ahead", std::nullopt},
        {Boot(INT64_MIN, stampMs), "stale", std::nullopt},
        {Boot(INT64_MAX, stampMs), "ahead", std::nullopt},
        {Stamp(now), "has 8 bytes instead of 16", std::nullopt},
        {std::vector<std::uint8_t>(17, 0), "has 17 bytes instead of 16", std::nullopt},
    };
    for (const Case& c : cases) {
        std::optional<std::int64_t> elapsed = 123;
        const std::string reason = CheckNewTimeBoot(c.bytes, oldTimeUtc, now, elapsed);
        if (c.reasonPart.empty()) {
            EXPECT_EQ(reason, "");
            EXPECT_EQ(elapsed, c.elapsed);
        } else {
            EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << reason;
        }
    }
}

TEST(HandOverAge, FreshWellWithinTheProgramsWaitAndStaleBeyondTheServicesLimit) {
    const TDateTime old = TimeOfDay(12, 0, 0);
    EXPECT_EQ(CheckHandOverAge(Bytes(old), TimeOfDay(12, 0, 0)), "");
    EXPECT_EQ(CheckHandOverAge(Bytes(old), TimeOfDay(12, 0, 7, 900)), "");
    // Taken at 9.9 s the clock would be set after the program (10 s) has reported failure.
    EXPECT_NE(CheckHandOverAge(Bytes(old), TimeOfDay(12, 0, 9, 900)).find("stale"),
              std::string::npos);
    EXPECT_NE(CheckHandOverAge(Bytes(old), TimeOfDay(12, 0, 8, 500)).find("stale"),
              std::string::npos);
    EXPECT_EQ(CheckHandOverAge(Bytes(old), TimeOfDay(11, 59, 59, 600)), ""); // rounding apart
    EXPECT_NE(CheckHandOverAge(Bytes(old), TimeOfDay(12, 0, 10, 500)).find("stale"),
              std::string::npos);
    EXPECT_NE(CheckHandOverAge(Bytes(old), TimeOfDay(13, 0, 0)).find("stale"), std::string::npos);
    // A reading well before the program's is no fresh hand-over but one from yesterday.
    EXPECT_NE(CheckHandOverAge(Bytes(old), TimeOfDay(11, 59, 50)).find("stale"), std::string::npos);
}

TEST(HandOverAge, AllowsForMidnightBetweenWritingAndReading) {
    EXPECT_EQ(CheckHandOverAge(Bytes(TimeOfDay(23, 59, 58)), TimeOfDay(0, 0, 3)), "");
    EXPECT_NE(CheckHandOverAge(Bytes(TimeOfDay(23, 59, 40)), TimeOfDay(0, 0, 5)).find("stale"),
              std::string::npos);
}

TEST(HandOverAge, RefusesAMissingOrMalformedOldTime) {
    const TDateTime now = TimeOfDay(12, 0, 0);
    EXPECT_EQ(CheckHandOverAge({}, now), "\"OldTime\" is missing");
    EXPECT_EQ(CheckHandOverAge({1, 2, 3, 4}, now), "\"OldTime\" has 4 bytes instead of 8");
    EXPECT_EQ(CheckHandOverAge(Bytes(46000.5), now), "\"OldTime\" is no time of day");
    EXPECT_EQ(CheckHandOverAge(Bytes(-0.25), now), "\"OldTime\" is no time of day");
    EXPECT_EQ(CheckHandOverAge(Bytes(std::nan("")), now), "\"OldTime\" is no time of day");
}

TEST(HandOverAgeUtc, FreshUpToTheServicesLimitStaleBeyondAndNeverAhead) {
    const std::int64_t now = 1796763930000; // 2026-12-08 21:05:30 UTC
    struct Case {
        std::int64_t apartMs; // now minus the stamp
        const char* expected; // "" fresh, otherwise a part of the reason
    };
    for (const Case c : {Case{0, ""}, Case{1, ""}, Case{7999, ""}, Case{8000, ""},
                         Case{8001, "stale"}, Case{9900, "stale"}, Case{3600000, "stale"},
                         Case{-1000, ""}, Case{-1001, "ahead"}, Case{-3600000, "ahead"}}) {
        const std::string reason = CheckHandOverAgeUtc(Stamp(now - c.apartMs), now);
        if (*c.expected == '\0') {
            EXPECT_EQ(reason, "") << c.apartMs;
        } else {
            EXPECT_NE(reason.find(c.expected), std::string::npos) << c.apartMs << ": " << reason;
        }
    }
    EXPECT_EQ(CheckHandOverAgeUtc(Stamp(now - 9900), now),
              "the hand-over is stale: \"OldTimeUtc\" lies 9.9 s back (more than 8 s)");
}

TEST(HandOverAgeUtc, RefusesAMissingMalformedOrExtremeStamp) {
    const std::int64_t now = 1796763930000;
    EXPECT_EQ(CheckHandOverAgeUtc({}, now), "\"OldTimeUtc\" is missing");
    EXPECT_EQ(CheckHandOverAgeUtc({1, 2, 3}, now), "\"OldTimeUtc\" has 3 bytes instead of 8");
    EXPECT_NE(CheckHandOverAgeUtc(Stamp(INT64_MIN), now).find("stale"), std::string::npos);
    EXPECT_NE(CheckHandOverAgeUtc(Stamp(INT64_MAX), now).find("ahead"), std::string::npos);
    EXPECT_NE(CheckHandOverAgeUtc(Stamp(-1), now).find("stale"), std::string::npos);
}

TEST(HandOverAgeUtc, TheMomentInUtcDecidesWhateverTheZonesSay) {
    const std::int64_t now = 1796763930000;
    // The program's session runs nine hours ahead of the service; its hand-over is fresh.
    THandOverValues values{Bytes(kRemote), Bytes(TimeOfDay(6, 5, 29)), Stamp(now - 1000)};
    EXPECT_EQ(CheckHandOverAge(values, now, TimeOfDay(21, 5, 30)), "");
    // Written just before the clocks went back an hour, read just after.
    values.OldTime = Bytes(TimeOfDay(2, 59, 59));
    EXPECT_EQ(CheckHandOverAge(values, now, TimeOfDay(2, 0, 1)), "");
    // A stale moment stays stale even where the local times of day agree.
    values.OldTime = Bytes(TimeOfDay(21, 5, 30));
    values.OldTimeUtc = Stamp(now - 60000);
    EXPECT_NE(CheckHandOverAge(values, now, TimeOfDay(21, 5, 30)).find("stale"), std::string::npos);
    // A program that does not write the moment is judged by its local time of day.
    values.OldTimeUtc.clear();
    EXPECT_EQ(CheckHandOverAge(values, now, TimeOfDay(21, 5, 31)), "");
    EXPECT_NE(CheckHandOverAge(values, now, TimeOfDay(22, 5, 30)).find("stale"), std::string::npos);
}

namespace {

// A service with a fake clock, values given by the test and its log kept.
class ServiceTest : public testing::Test {
protected:
    ServiceTest()
        : service_(
              clock_,
              [this](const std::string& line) {
                  std::lock_guard lock(mutex_);
                  log_ += line + "\n";
              },
              [this] {
                  if (readFails_) {
                      throw ERegistryException("the store is gone");
                  }
                  return values_;
              },
              [this] { return now_; }, [this] { return nowUtc_; }) {}

    std::string Log() {
        std::lock_guard lock(mutex_);
        return log_;
    }
    // What a program does: signal the begin event, then see whether done is signalled.
    static TWaitResult Program(int waitMs) {
        TNamedEvent begin = TNamedEvent::Open(SyncBeginEventName);
        TNamedEvent done = TNamedEvent::Open(SyncDoneEventName);
        EXPECT_TRUE(begin.IsOpen() && done.IsOpen());
        begin.Set();
        return done.Wait(waitMs);
    }

    test::UniqueEventPrefix prefix_;
    CFakeClock clock_;
    THandOverValues values_{Bytes(kRemote), Bytes(TimeOfDay(21, 5, 29)), {}};
    TDateTime now_ = TimeOfDay(21, 5, 31);
    std::int64_t nowUtc_ = 1796763931000;
    bool readFails_ = false;
    std::mutex mutex_;
    std::string log_;
    CClockService service_;
};

} // namespace

TEST_F(ServiceTest, SetsTheClockAndOnlyThenConfirms) {
    ASSERT_TRUE(service_.Start(-1));
    std::thread program([] { EXPECT_EQ(Program(5000), TWaitResult::Signalled); });
    EXPECT_TRUE(service_.ServeOnce(5000));
    program.join();
    ASSERT_EQ(clock_.SetCalls().size(), 1u);
    EXPECT_EQ(clock_.SetCalls()[0].wHour, 21);
    EXPECT_EQ(clock_.SetCalls()[0].wSecond, 30);
    EXPECT_NE(Log().find("hand-over: \"NewTime\" ea,07,0c,00,00,00,08,00,15,00,05,00,1e,00,00,00, "
                         "\"OldTime\" "),
              std::string::npos)
        << Log();
    EXPECT_NE(Log().find("confirmed: 2026-12-08 21:05:30.000 UTC handed to the clock"),
              std::string::npos)
        << Log();
}

// The program names the instant at which "NewTime" was true; what passed until the service
// sets the clock is added. A hand-over as older programs write it is set as it stands.
TEST_F(ServiceTest, AddsTheTimePassedSinceNewTimeWasTrue) {
    struct Case {
        std::uint16_t ms;
        int passedMs;        // since the instant, on the service's clock
        bool withInstant;    // "NewTimeBoot" written for this hand-over
        const char* setTime; // what the service sets
    };
    const Case cases[] = {
        {0, 0, true, "2026-12-08 21:05:30.000"},
        {250, 1234, true, "2026-12-08 21:05:31.484"},
        {999, 1, true, "2026-12-08 21:05:31.000"},
        {250, 1234, false, "2026-12-08 21:05:30.250"},
    };
    ASSERT_TRUE(service_.Start(-1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setTime);
        SYSTEMTIME newTime = kRemote;
        newTime.wMilliseconds = c.ms;
        values_.NewTime = Bytes(newTime);
        values_.OldTimeUtc = Stamp(nowUtc_ - 500);
        const std::int64_t instant = clock_.MonotonicNs();
        values_.NewTimeBoot = c.withInstant ? Boot(instant, nowUtc_ - 500) : Boot(instant, 1);
        clock_.Advance(c.passedMs);
        const std::size_t before = clock_.SetCalls().size();
        EXPECT_EQ(service_.HandOver(), THandOverOutcome::Confirmed) << Log();
        ASSERT_EQ(clock_.SetCalls().size(), before + 1);
        EXPECT_EQ(SystemTimeText(clock_.SetCalls().back()), c.setTime);
    }
    EXPECT_NE(Log().find("confirmed: 2026-12-08 21:05:31.484 UTC handed to the clock (\"NewTime\" "
                         "2026-12-08 21:05:30.250 and 1234.000 ms since it was true)"),
              std::string::npos)
        << Log();
}

TEST_F(ServiceTest, AStaleOrMalformedInstantIsRefused) {
    ASSERT_TRUE(service_.Start(-1));
    values_.OldTimeUtc = Stamp(nowUtc_ - 500);
    values_.NewTimeBoot = Boot(clock_.MonotonicNs(), nowUtc_ - 500);
    clock_.Advance(MaxHandOverAgeMs + 1);
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Refused);
    values_.NewTimeBoot = {1, 2, 3};
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Refused);
    EXPECT_TRUE(clock_.SetCalls().empty());
    EXPECT_NE(Log().find("refused: the hand-over is stale: \"NewTime\" was true 8.0 s ago"),
              std::string::npos)
        << Log();
    EXPECT_NE(Log().find("refused: \"NewTimeBoot\" has 3 bytes instead of 16"), std::string::npos)
        << Log();
}

TEST_F(ServiceTest, WritesTheHardwareClockAfterASetAndAFailureIsOneLogLine) {
    ASSERT_TRUE(service_.Start(-1));
    CFakeHardwareClock rtc("/nonexistent/adjtime");
    clock_.AttachHardwareClock(&rtc);
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Confirmed);
    ASSERT_EQ(rtc.Readings().size(), 1u);
    EXPECT_EQ(SystemTimeText(rtc.Readings()[0]), "2026-12-08 21:05:30.000");

    rtc.RefuseWith(EACCES);
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Confirmed) << "the clock is set";
    const std::string line = "the clock is set, but the hardware clock /dev/rtc-fake cannot be: ";
    const std::string log = Log();
    ASSERT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find(line), log.rfind(line)) << "one line";

    rtc.RefuseWith(ENOENT); // no RTC: nothing to say
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Confirmed);
    EXPECT_EQ(Log().find("hardware clock", log.size()), std::string::npos);
    clock_.AttachHardwareClock(nullptr);
}

TEST_F(ServiceTest, NeverConfirmsATimeItDidNotSetButAnswersWithTheRefusal) {
    ASSERT_TRUE(service_.Start(-1));
    TNamedEvent done = TNamedEvent::Open(SyncDoneEventName);
    TNamedEvent refused = TNamedEvent::Open(SyncRefusedEventName);
    ASSERT_TRUE(refused.IsOpen()) << refused.Error();
    // Each refusal is answered: the refusal is set, and then the done event.
    const auto answeredAsRefused = [&] {
        return refused.Wait(0) == TWaitResult::Signalled && done.Wait(0) == TWaitResult::Signalled;
    };

    values_.NewTime = Bytes(SYSTEMTIME{2026, 12, 3, 8, 21, 5, 30, 0});
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Refused);
    EXPECT_TRUE(answeredAsRefused());
    now_ = TimeOfDay(21, 6, 0);
    values_.NewTime = Bytes(kRemote);
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Refused);
    EXPECT_TRUE(answeredAsRefused());
    now_ = TimeOfDay(21, 5, 31);
    clock_.RefuseWith(EPERM);
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Failed);
    EXPECT_TRUE(answeredAsRefused());
    clock_.RefuseWith(0);
    readFails_ = true;
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Failed);
    EXPECT_TRUE(answeredAsRefused());

    EXPECT_EQ(done.Wait(0), TWaitResult::TimedOut);
    EXPECT_TRUE(clock_.SetCalls().empty());
    const std::string log = Log();
    EXPECT_NE(log.find("refused: \"NewTime\" 2026-12-08 21:05:30.000 (day of week 3) is not as the "
                       "program writes it"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("refused: the hand-over is stale"), std::string::npos) << log;
    EXPECT_NE(log.find("Operation not permitted"), std::string::npos) << log;
    EXPECT_NE(log.find("refused: the machine-wide store cannot be read: the store is gone"),
              std::string::npos)
        << log;
}

TEST_F(ServiceTest, AConfirmationCarriesNoRefusal) {
    ASSERT_TRUE(service_.Start(-1));
    TNamedEvent refused = TNamedEvent::Open(SyncRefusedEventName);
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Confirmed);
    EXPECT_EQ(refused.Wait(0), TWaitResult::TimedOut);
}

TEST_F(ServiceTest, AProgramInAnotherTimeZoneIsServed) {
    ASSERT_TRUE(service_.Start(-1));
    // The program's local time of day is three hours behind the service's; the moment in
    // UTC says the hand-over is a second old.
    values_.OldTime = Bytes(TimeOfDay(18, 5, 30));
    values_.OldTimeUtc = Stamp(nowUtc_ - 1000);
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Confirmed) << Log();
    EXPECT_EQ(clock_.SetCalls().size(), 1u);
}

TEST_F(ServiceTest, AHandOverTheProgramIsAboutToGiveUpOnIsRefused) {
    ASSERT_TRUE(service_.Start(-1));
    values_.OldTimeUtc = Stamp(nowUtc_ - 9900);
    EXPECT_EQ(service_.HandOver(), THandOverOutcome::Refused);
    EXPECT_TRUE(clock_.SetCalls().empty());
    EXPECT_NE(Log().find("refused: the hand-over is stale: \"OldTimeUtc\" lies 9.9 s back"),
              std::string::npos)
        << Log();
}

TEST_F(ServiceTest, ABeginSignalFromBeforeTheStartIsNotActedOn) {
    {
        TNamedEvent leftover = TNamedEvent::Create(SyncBeginEventName, -1);
        ASSERT_TRUE(leftover.Set());
    }
    ASSERT_TRUE(service_.Start(-1));
    EXPECT_FALSE(service_.ServeOnce(200));
    EXPECT_TRUE(clock_.SetCalls().empty());
}

TEST_F(ServiceTest, SeveralSignalsBeforeItWokeAskForOneHandOver) {
    ASSERT_TRUE(service_.Start(-1));
    TNamedEvent begin = TNamedEvent::Open(SyncBeginEventName);
    begin.Set();
    begin.Set();
    EXPECT_TRUE(service_.ServeOnce(1000));
    EXPECT_FALSE(service_.ServeOnce(100));
    EXPECT_EQ(clock_.SetCalls().size(), 1u);
}

TEST_F(ServiceTest, StoppingRemovesTheEventsAndRunEndsOnItsFlag) {
    ASSERT_TRUE(service_.Start(-1));
    std::atomic<bool> stop{false};
    std::thread runner([&] { service_.Run([&] { return stop.load(); }); });
    EXPECT_EQ(Program(5000), TWaitResult::Signalled);
    const auto start = std::chrono::steady_clock::now();
    stop = true;
    runner.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    service_.Stop();
    EXPECT_EQ(TNamedEvent::Open(SyncBeginEventName).Error(), ENOENT);
    EXPECT_EQ(TNamedEvent::Open(SyncDoneEventName).Error(), ENOENT);
    EXPECT_EQ(TNamedEvent::Open(SyncRefusedEventName).Error(), ENOENT);
    EXPECT_NE(Log().find("stopped"), std::string::npos);
}

TEST_F(ServiceTest, AStartThatCannotCreateTheEventsSaysWhy) {
    setenv("KAIRELON_EVENT_PREFIX", "no/such/", 1);
    EXPECT_FALSE(service_.Start(-1));
    EXPECT_NE(Log().find("cannot create the event /no/such/KairelSyncBegin: Invalid argument"),
              std::string::npos)
        << Log();
}

TEST_F(ServiceTest, AHalfFailedStartLeavesNoEventBehind) {
    // Something that is no semaphore stands where the done event belongs.
    const std::string blocker = "/dev/shm/sem." + EventObjectName(SyncDoneEventName).substr(1);
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    EXPECT_FALSE(service_.Start(-1));
    rmdir(blocker.c_str());
    EXPECT_NE(Log().find("cannot create the event " + EventObjectName(SyncDoneEventName)),
              std::string::npos)
        << Log();
    EXPECT_EQ(TNamedEvent::Open(SyncBeginEventName).Error(), ENOENT);
}

// Any member of the group may write the values, in any size: the sizes are checked first and
// root's log takes only as much of a value as its expected size, and its size.
TEST_F(ServiceTest, AnOversizedValueIsLoggedOnlyAsFarAsItsExpectedSize) {
    ASSERT_TRUE(service_.Start(-1));
    const std::vector<std::uint8_t> huge(1 << 20, 0xab);
    const std::string sixteen = "ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab";
    const std::string eight = "ab,ab,ab,ab,ab,ab,ab,ab";
    struct Case {
        const char* what;
        THandOverValues values;
        std::string shown;  // in the hand-over line
        std::string reason; // of the refusal
    };
    const Case cases[] = {
        {"NewTime of 1 MiB",
         {huge, Bytes(TimeOfDay(21, 5, 29)), {}},
         "\"NewTime\" " + sixteen + ",... (1048576 bytes in all), \"OldTime\"",
         "refused: \"NewTime\" has 1048576 bytes instead of 16"},
        {"NewTime one byte too long",
         {[] {
              auto bytes = Bytes(kRemote);
              bytes.push_back(0xab);
              return bytes;
          }(),
          Bytes(TimeOfDay(21, 5, 29)),
          {}},
         ",00,00,... (17 bytes in all), \"OldTime\"",
         "refused: \"NewTime\" has 17 bytes instead of 16"},
        {"OldTime of 1 MiB",
         {Bytes(kRemote), huge, {}},
         "\"OldTime\" " + eight + ",... (1048576 bytes in all), \"OldTimeUtc\" (missing)",
         "refused: \"OldTime\" has 1048576 bytes instead of 8"},
        {"OldTimeUtc of 1 MiB",
         {Bytes(kRemote), Bytes(TimeOfDay(21, 5, 29)), huge},
         "\"OldTimeUtc\" " + eight + ",... (1048576 bytes in all)\n",
         "refused: \"OldTimeUtc\" has 1048576 bytes instead of 8"},
    };
    for (const Case& c : cases) {
        {
            std::lock_guard lock(mutex_);
            log_.clear();
        }
        values_ = c.values;
        EXPECT_EQ(service_.HandOver(), THandOverOutcome::Refused) << c.what;
        const std::string log = Log();
        EXPECT_LT(log.size(), 400u) << c.what;
        EXPECT_NE(log.find(c.shown), std::string::npos) << c.what << "\n" << log.substr(0, 400);
        EXPECT_NE(log.find(c.reason), std::string::npos) << c.what << "\n" << log.substr(0, 400);
    }
    EXPECT_TRUE(clock_.SetCalls().empty());
}

// A member who damages the events again and again gets them made anew each time, but fills
// no log: one line tells of it, the next only after a minute.
TEST_F(ServiceTest, EventsDamagedAgainAndAgainAreMadeAnewEachTimeAndLoggedOnce) {
    ASSERT_TRUE(service_.Start(-1));
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(TNamedEvent::Remove(SyncBeginEventName)) << round;
        EXPECT_TRUE(service_.MendEvents()) << round;
        EXPECT_TRUE(TNamedEvent::Open(SyncBeginEventName).IsOpen()) << round;
        EXPECT_TRUE(service_.MendEvents()) << "sound again: nothing to do";
    }
    const std::string log = Log();
    const std::string line = "the events are damaged (" + EventObjectName(SyncBeginEventName) +
                             " was removed): made anew\n";
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find("made anew", log.find(line) + line.size()), std::string::npos) << log;
}
