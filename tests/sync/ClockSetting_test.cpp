#include "sync/ClockSetting.h"

#include "daemons/ClockService.h"
#include "framework/DateTime.h"
#include "framework/StringTable.h"
#include "platform/DebugOutput.h"
#include "platform/FileLock.h"
#include "platform/NamedEvent.h"
#include "platform/RegistryFile.h"
#include "platform/StopSignals.h"
#include "settings/Options.h"
#include "support/EventPrefix.h"
#include "support/TestSupport.h"

#include <signal.h>
#include <unistd.h>

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
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
    EXPECT_EQ(message, text.substr(0, slot) +
                           "Die Datei oder das Verzeichnis ist nicht vorhanden." +
                           text.substr(slot + 2));
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

namespace {

long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

struct CapturedDebugOutput {
    CapturedDebugOutput() {
        previous = SetDebugOutputSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~CapturedDebugOutput() { SetDebugOutputSink(previous); }
    std::vector<std::string> lines;
    DebugOutputSink previous;
};

// A hand-over in a temporary registry folder and under unique event names.
class HandOver : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(options_.Open()); }

    // Raises nothing and gives the message of the EServiceError, or "" when confirmed.
    std::string Run(int waitMs) {
        try {
            HandOverToServiceWaiting(options_, kRemote, waitMs);
            return "";
        } catch (const EServiceError& e) {
            return e.Message();
        }
    }
    std::vector<std::uint8_t> Stored(const char* name) {
        CGlobalOptions reader;
        EXPECT_TRUE(reader.Open());
        const int size = reader.GetDataSize(name);
        std::vector<std::uint8_t> bytes(size > 0 ? static_cast<std::size_t>(size) : 0);
        if (size > 0) {
            reader.ReadBinaryData(name, bytes.data(), size);
        }
        return bytes;
    }

    static constexpr SYSTEMTIME kRemote{2026, 12, 0, 8, 21, 5, 30, 0};
    test::IsolatedHome home_;
    test::UniqueEventPrefix prefix_;
    CGlobalOptions options_;
};

} // namespace

TEST_F(HandOver, WithoutAServiceBothOpensFailToTheDebuggerOutputAndNothingIsAwaited) {
    CapturedDebugOutput output;
    const auto start = std::chrono::steady_clock::now();
    try {
        HandOverToService(options_, kRemote); // the product's wait: must not be spent
        FAIL() << "no exception";
    } catch (const EServiceError& e) {
        EXPECT_EQ(e.Message(), LoadStr(1074));
    }
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(output.lines,
              (std::vector<std::string>{"No such file or directory", "No such file or directory"}));
}

TEST_F(HandOver, WritesNewTimeAndOldTimeAsTheServiceReadsThem) {
    CapturedDebugOutput output;
    const TDateTime before = Time();
    Run(0);
    const TDateTime after = Time();
    const std::vector<std::uint8_t> newTime = Stored("NewTime");
    EXPECT_EQ(newTime,
              (std::vector<std::uint8_t>{0xea, 0x07, 12, 0, 0, 0, 8, 0, 21, 0, 5, 0, 30, 0, 0, 0}));
    const std::vector<std::uint8_t> oldTime = Stored("OldTime");
    ASSERT_EQ(oldTime.size(), 8u);
    double value = 0;
    std::memcpy(&value, oldTime.data(), 8);
    EXPECT_GE(value, 0.0);
    EXPECT_LT(value, 1.0);
    if (after >= before) { // not across midnight
        EXPECT_GE(value, before);
        EXPECT_LE(value, after);
    }
}

TEST_F(HandOver, TheInstantAtWhichNewTimeIsTrueGoesBesideItTiedToThisHandOver) {
    CapturedDebugOutput output;
    SYSTEMTIME withMs = kRemote;
    withMs.wMilliseconds = 384;
    try {
        HandOverToServiceWaiting(options_, withMs, 0, std::int64_t{0x0102030405060708});
    } catch (const EServiceError&) {
    }
    EXPECT_EQ(Stored("NewTime")[14], 384 & 0xff);
    EXPECT_EQ(Stored("NewTime")[15], 384 >> 8);
    const std::vector<std::uint8_t> boot = Stored("NewTimeBoot");
    ASSERT_EQ(boot.size(), 16u);
    EXPECT_EQ(std::vector<std::uint8_t>(boot.begin(), boot.begin() + 8),
              (std::vector<std::uint8_t>{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(std::vector<std::uint8_t>(boot.begin() + 8, boot.end()), Stored("OldTimeUtc"))
        << "the instant names the hand-over it belongs to";

    // A hand-over without an instant writes none (the service then sets "NewTime" as it
    // stands: the earlier value names another hand-over).
    Run(0);
    const std::vector<std::uint8_t> later = Stored("NewTimeBoot");
    EXPECT_EQ(later, boot);
}

TEST_F(HandOver, AServiceThatNeverAnswersEndsInTheServiceError) {
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(300), LoadStr(1074));
    EXPECT_GE(MsSince(start), 300);
    EXPECT_EQ(begin.Wait(0), TWaitResult::Signalled); // the service was asked
}

TEST_F(HandOver, TheProductWaitsTenSecondsForTheService) {
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1);
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuBefore = std::clock();
    EXPECT_THROW(HandOverToService(options_, kRemote), EServiceError);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    const long long waited = MsSince(start);
    EXPECT_GE(waited, ServiceReplyTimeoutMs);
    EXPECT_LT(waited, ServiceReplyTimeoutMs + 1500);
    EXPECT_LT(cpuMs, 100.0); // the wait sleeps; it never polls
}

TEST_F(HandOver, AConfirmationInTimeEndsTheWaitAndIsResetAfterwards) {
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1);
    std::thread service([&] {
        if (begin.Wait(5000) == TWaitResult::Signalled) {
            done.Set();
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(5000), "");
    EXPECT_LT(MsSince(start), 4000);
    service.join();
    EXPECT_EQ(done.Wait(0), TWaitResult::TimedOut);
}

TEST_F(HandOver, ALateConfirmationOfAnEarlierHandOverDoesNotCount) {
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1);
    done.Set(); // the service answered after the last hand-over had given up
    EXPECT_EQ(Run(200), LoadStr(1074));
}

TEST_F(HandOver, ARefusedWriteRaisesTheStoresExceptionBeforeAnythingIsSignalled) {
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    setenv("KAIRELON_REGISTRY_DIR", "/dev/null/no-folder", 1);
    CGlobalOptions unwritable;
    unwritable.Open();
    EXPECT_THROW(HandOverToServiceWaiting(unwritable, kRemote, 200), ERegistryException);
    EXPECT_EQ(begin.Wait(0), TWaitResult::TimedOut);
}

namespace {

std::int64_t UtcMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

TEST_F(HandOver, WritesTheMomentInUtcThatNoTimeZoneChanges) {
    CapturedDebugOutput output;
    const std::int64_t before = UtcMs();
    Run(0);
    const std::int64_t after = UtcMs();
    const std::vector<std::uint8_t> stamp = Stored("OldTimeUtc");
    ASSERT_EQ(stamp.size(), 8u);
    std::uint64_t raw = 0;
    for (int i = 7; i >= 0; --i) {
        raw = (raw << 8) | stamp[static_cast<std::size_t>(i)];
    }
    EXPECT_GE(static_cast<std::int64_t>(raw), before);
    EXPECT_LE(static_cast<std::int64_t>(raw), after);
}

TEST_F(HandOver, ARefusalOfTheServiceIsReportedAsSuchAtOnce) {
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1);
    TNamedEvent refused = TNamedEvent::Create(SyncRefusedEventName, -1);
    std::thread service([&] {
        if (begin.Wait(5000) == TWaitResult::Signalled) {
            refused.Set();
            done.Set();
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const std::string message = Run(5000);
    service.join();
    EXPECT_LT(MsSince(start), 4000);
    EXPECT_EQ(message, LoadStr(ServiceRefusedText));
    EXPECT_NE(message, LoadStr(1074));
    EXPECT_FALSE(message.empty());
    // Nothing of the answer is left for the next hand-over.
    EXPECT_EQ(refused.Wait(0), TWaitResult::TimedOut);
    EXPECT_EQ(done.Wait(0), TWaitResult::TimedOut);
}

TEST_F(HandOver, ARefusalLeftFromAnEarlierHandOverDoesNotCount) {
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1);
    TNamedEvent refused = TNamedEvent::Create(SyncRefusedEventName, -1);
    refused.Set();
    std::thread service([&] {
        if (begin.Wait(5000) == TWaitResult::Signalled) {
            done.Set();
        }
    });
    EXPECT_EQ(Run(5000), "");
    service.join();
}

TEST_F(HandOver, EventsAnyoneCouldHaveCreatedAreTreatedAsMissing) {
    // While the service is stopped another user made both events and confirms every begin.
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1);
    SetEventTrust(TEventTrust{{static_cast<long>(geteuid()) + 1}, static_cast<long>(getegid())});
    std::atomic<bool> stop{false};
    std::thread impostor([&] {
        while (!stop) {
            if (begin.Wait(50) == TWaitResult::Signalled) {
                done.Set();
            }
        }
    });
    CapturedDebugOutput output;
    const auto start = std::chrono::steady_clock::now();
    const std::string message = Run(3000);
    stop = true;
    impostor.join();
    EXPECT_EQ(message, LoadStr(1074));
    EXPECT_LT(MsSince(start), 1000); // no event opened: nothing to wait for
    EXPECT_EQ(output.lines,
              (std::vector<std::string>{"Operation not permitted", "Operation not permitted"}));

    std::string boxText;
    EXPECT_FALSE(CheckServiceEvent(boxText)); // the check box finds no service either
    EXPECT_NE(boxText.find("Der Vorgang ist nicht erlaubt."), std::string::npos) << boxText;
}

namespace {

SYSTEMTIME At(int minute, int second) {
    return SYSTEMTIME{
        2026, 12, 0, 8, 21, static_cast<std::uint16_t>(minute), static_cast<std::uint16_t>(second),
        0};
}

} // namespace

// Two programs (two users, or the tray program and the scheduler) hand over at the same moment:
// each is confirmed only for its own time, which the service set.
TEST_F(HandOver, TwoHandOversAtOnceAreEachAnsweredForTheirOwnTime) {
    CFakeClock clock;
    std::mutex logMutex;
    std::string log;
    CClockService service(clock, [&](const std::string& line) {
        std::lock_guard lock(logMutex);
        log += line + "\n";
    });
    ASSERT_TRUE(service.Start(-1));
    std::atomic<bool> stop{false};
    std::thread runner([&] { service.Run([&] { return stop.load(); }); });

    for (int round = 0; round < 5; ++round) {
        const SYSTEMTIME times[2] = {At(10 + round, 1), At(20 + round, 2)};
        std::atomic<int> ready{0};
        std::string results[2];
        std::vector<std::thread> programs;
        for (int i = 0; i < 2; ++i) {
            programs.emplace_back([&, i] {
                CGlobalOptions own;
                EXPECT_TRUE(own.Open());
                ready.fetch_add(1);
                while (ready.load() < 2) {
                }
                try {
                    HandOverToServiceWaiting(own, times[i], 5000);
                } catch (const Exception& e) {
                    results[i] = e.Message();
                }
            });
        }
        for (std::thread& program : programs) {
            program.join();
        }
        const std::size_t before = static_cast<std::size_t>(2 * round);
        EXPECT_EQ(clock.SetCalls().size(), before + 2) << "round " << round << "\n" << log;
        if (clock.SetCalls().size() != before + 2) {
            break; // the service must be stopped below all the same
        }
        std::vector<int> minutesSet;
        for (std::size_t i = before; i < before + 2; ++i) {
            minutesSet.push_back(clock.SetCalls()[i].wMinute);
        }
        std::sort(minutesSet.begin(), minutesSet.end());
        EXPECT_EQ(minutesSet, (std::vector<int>{10 + round, 20 + round})) << "round " << round;
        EXPECT_EQ(results[0], "") << "round " << round;
        EXPECT_EQ(results[1], "") << "round " << round;
    }
    stop = true;
    runner.join();
}

// While another program hands over (or a member of the group holds its lock), a hand-over
// waits for it only so long, then fails without signalling the service.
TEST_F(HandOver, AHandOverLockHeldElsewhereEndsInTheStoresErrorWithoutSignalling) {
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1);
    const std::string lockPath = RegistryFilePath(RegistryRoot::LocalMachine) + ".handover.lock";
    const TFileLock other = TFileLock::Acquire(lockPath, 0660, 0);
    ASSERT_TRUE(other.Held());
    const auto start = std::chrono::steady_clock::now();
    try {
        HandOverToServiceWaiting(options_, kRemote, 5000);
        FAIL() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_NE(e.Message().find("another hand-over has been under way for more than 3 s"),
                  std::string::npos)
            << e.Message();
    }
    EXPECT_GE(MsSince(start), 3000);
    EXPECT_LT(MsSince(start), 4500);
    EXPECT_EQ(begin.Wait(0), TWaitResult::TimedOut);
}

// A stop signal while the program waits for the service ends the wait at once; the hand-over
// fails, saying so, and is never taken for a confirmation. Run in a process of its own, since
// the stop stays pending for the rest of the process.
TEST_F(HandOver, AStopSignalEndsTheWaitForTheServiceAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1); // nobody ever answers
    EXPECT_EXIT(
        {
            QuitOnStopSignals();
            std::thread stopper([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                kill(getpid(), SIGTERM);
            });
            const auto start = std::chrono::steady_clock::now();
            std::string message = "confirmed";
            try {
                HandOverToService(options_, kRemote);
            } catch (const EServiceError& e) {
                message = e.Message();
            }
            const long long waited = MsSince(start);
            stopper.join();
            std::fprintf(stderr, "waited %lld ms: %s\n", waited, message.c_str());
            // exit() skips the fixture's clean-up.
            TNamedEvent::Remove(SyncBeginEventName);
            TNamedEvent::Remove(SyncDoneEventName);
            QDir(QString::fromStdString(home_.Path())).removeRecursively();
            std::exit(waited < 800 && message.find("stop signal (15)") != std::string::npos ? 0
                                                                                            : 1);
        },
        testing::ExitedWithCode(0), "waited [0-9]+ ms: The hand-over .* stop signal \\(15\\)");
}
