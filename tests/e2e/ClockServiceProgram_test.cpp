// The clock-setting service as a whole program: `kairelon-clockd --dry-run` on a temporary
// registry folder and under unique event names, so it never meets an installed service and
// never changes the clock.
#include "framework/DateTime.h"
#include "framework/StringTable.h"
#include "platform/DebugOutput.h"
#include "platform/NamedEvent.h"
#include "settings/Options.h"
#include "support/EventPrefix.h"
#include "support/TestSupport.h"
#include "sync/ClockSetting.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

using namespace kairelon;

namespace {

class ServiceProcess {
public:
    explicit ServiceProcess(const QStringList& args = {QStringLiteral("--dry-run")},
                            const QString& timeZone = {}) {
        if (!timeZone.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TZ"), timeZone);
            process_.setProcessEnvironment(env);
        }
        process_.start(QString::fromStdString(test::BuiltProgram("kairelon-clockd")), args);
    }
    ~ServiceProcess() { Stop(); }

    // Waits until the log holds the text; false after timeoutMs.
    bool WaitForLog(const std::string& text, int timeoutMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (log_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= end ||
                process_.state() == QProcess::NotRunning) {
                Read();
                return log_.find(text) != std::string::npos;
            }
            process_.waitForReadyRead(50);
            Read();
        }
        return true;
    }
    bool WaitUntilReady() { return WaitForLog("kairelon-clockd: ready:"); }

    // Stops it with SIGTERM; the exit code, or -1 when it did not end normally.
    int Stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(5000);
                Read();
                return -1;
            }
        }
        Read();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    // Sends the signal; the exit code, or -1 when it did not end normally within 5 s.
    int StopWith(int signalNumber) {
        ::kill(static_cast<pid_t>(process_.processId()), signalNumber);
        return Finish(5000);
    }
    // Waits for the end by itself; the exit code, or -1 when it did not end normally in time.
    int Finish(int timeoutMs) {
        const bool finished = process_.waitForFinished(timeoutMs);
        Read();
        return finished && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    const std::string& Log() {
        Read();
        return log_;
    }

private:
    void Read() { log_ += process_.readAllStandardError().toStdString(); }

    QProcess process_;
    std::string log_;
};

constexpr SYSTEMTIME kRemote{2026, 12, 0, 8, 21, 5, 30, 0};

class ClockServiceProgram : public testing::Test {
protected:
    void SetUp() override {
        // The service's lock in a folder of the test's own, never /run/kairelon.
        setenv("KAIRELON_RUNTIME_DIR", (home_.Path() + "/run").c_str(), 1);
        ASSERT_TRUE(options_.Open());
    }
    void TearDown() override { unsetenv("KAIRELON_RUNTIME_DIR"); }

    // Writes the values as a program would, then signals the begin event and waits for done.
    TWaitResult Signal(int waitMs) {
        TNamedEvent begin = TNamedEvent::Open(SyncBeginEventName);
        TNamedEvent done = TNamedEvent::Open(SyncDoneEventName);
        EXPECT_TRUE(begin.IsOpen() && done.IsOpen());
        begin.Set();
        return done.Wait(waitMs);
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

    test::IsolatedHome home_;
    test::UniqueEventPrefix prefix_;
    CGlobalOptions options_;
};

} // namespace

TEST_F(ClockServiceProgram, AHandOverRoundTripIsConfirmedWithTheTimeWritten) {
    ServiceProcess service;
    ASSERT_TRUE(service.WaitUntilReady()) << service.Log();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(HandOverToService(options_, kRemote));
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(ServiceReplyTimeoutMs / 1000));

    EXPECT_EQ(Stored("NewTime"),
              (std::vector<std::uint8_t>{0xea, 0x07, 12, 0, 0, 0, 8, 0, 21, 0, 5, 0, 30, 0, 0, 0}));
    EXPECT_EQ(Stored("OldTime").size(), 8u);
    ASSERT_TRUE(service.WaitForLog("confirmed:"));
    EXPECT_EQ(service.Stop(), 0);
    const std::string& log = service.Log();
    // What the service read is what the program wrote: 16 bytes, day of week and milliseconds 0.
    EXPECT_NE(log.find("kairelon-clockd: hand-over: \"NewTime\" "
                       "ea,07,0c,00,00,00,08,00,15,00,05,00,1e,00,00,00, \"OldTime\" "),
              std::string::npos)
        << log;
    EXPECT_NE(
        log.find("would set the clock to 2026-12-08 21:05:30.000 UTC\n"
                 "kairelon-clockd: confirmed: 2026-12-08 21:05:30.000 UTC handed to the clock"),
        std::string::npos)
        << log;
    std::printf("---- service log of the round trip\n%s----\n", log.c_str());
}

TEST_F(ClockServiceProgram, AnInvalidNewTimeIsRefusedWithItsReasonAndNotConfirmed) {
    ServiceProcess service;
    ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
    const std::uint8_t bad[16] = {0xea, 0x07, 2, 0, 0, 0, 30, 0, 12, 0, 0, 0, 0, 0, 0, 0};
    options_.WriteBinaryData("NewTime", bad, 16); // 30 February
    options_.WriteDateTime("OldTime", Time());
    EXPECT_EQ(Signal(2000), TWaitResult::Signalled); // answered, as refused
    EXPECT_EQ(TNamedEvent::Open(SyncRefusedEventName).Wait(0), TWaitResult::Signalled);
    EXPECT_TRUE(
        service.WaitForLog("refused: \"NewTime\" 2026-02-30 12:00:00.000 (day of week 0) is "
                           "no real date and time"))
        << service.Log();
    EXPECT_EQ(service.Log().find("would set"), std::string::npos);
}

TEST_F(ClockServiceProgram, AStaleHandOverIsRefused) {
    ServiceProcess service;
    ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
    options_.WriteNewTime(kRemote);
    TDateTime stale = Time() - 60000.0 / MSecsPerDay; // a minute ago
    if (stale < 0) {
        stale += 1.0;
    }
    options_.WriteDateTime("OldTime", stale);
    EXPECT_EQ(Signal(2000), TWaitResult::Signalled); // answered, as refused
    EXPECT_EQ(TNamedEvent::Open(SyncRefusedEventName).Wait(0), TWaitResult::Signalled);
    EXPECT_TRUE(service.WaitForLog("refused: the hand-over is stale")) << service.Log();
    EXPECT_EQ(service.Log().find("would set"), std::string::npos);
}

TEST_F(ClockServiceProgram, AProgramRefusedByTheServiceSaysSoAtOnce) {
    ServiceProcess service;
    ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
    const auto start = std::chrono::steady_clock::now();
    try {
        HandOverToService(options_, SYSTEMTIME{1969, 12, 0, 31, 23, 0, 0, 0}); // before 1970
        ADD_FAILURE() << "confirmed";
    } catch (const EServiceError& e) {
        EXPECT_EQ(e.Message(), LoadStr(ServiceRefusedText));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(service.WaitForLog("refused: \"NewTime\"")) << service.Log();
}

TEST_F(ClockServiceProgram, AServiceInAnotherTimeZoneConfirms) {
    // The service's zone is five hours east of UTC, the program's three hours west of it:
    // their local times of day lie eight hours apart.
    setenv("TZ", "XST+3", 1);
    tzset();
    ServiceProcess service({QStringLiteral("--dry-run")}, QStringLiteral("YST-5"));
    ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
    EXPECT_NO_THROW(HandOverToService(options_, kRemote));
    unsetenv("TZ");
    tzset();
    EXPECT_TRUE(service.WaitForLog("confirmed:")) << service.Log();
}

TEST_F(ClockServiceProgram, ABeginSignalSetBeforeTheServiceStartedIsNotActedOn) {
    options_.WriteNewTime(kRemote);
    options_.WriteDateTime("OldTime", Time());
    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent done = TNamedEvent::Create(SyncDoneEventName, -1);
    begin.Set(); // asked while no service ran
    begin.Close();

    ServiceProcess service;
    ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
    EXPECT_EQ(done.Wait(1000), TWaitResult::TimedOut);
    EXPECT_EQ(service.Log().find("would set"), std::string::npos) << service.Log();

    EXPECT_NO_THROW(HandOverToService(options_, kRemote)); // a new hand-over is served
}

TEST_F(ClockServiceProgram, StopsOnSigtermAndRemovesItsEvents) {
    ServiceProcess service;
    ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
    EXPECT_TRUE(TNamedEvent::Open(SyncBeginEventName).IsOpen());
    EXPECT_EQ(service.Stop(), 0);
    EXPECT_EQ(TNamedEvent::Open(SyncBeginEventName).Error(), ENOENT);
    EXPECT_EQ(TNamedEvent::Open(SyncDoneEventName).Error(), ENOENT);
    EXPECT_EQ(TNamedEvent::Open(SyncRefusedEventName).Error(), ENOENT);
    EXPECT_NE(service.Log().find("kairelon-clockd: stopped"), std::string::npos);

    std::string message;
    EXPECT_FALSE(CheckServiceEvent(message)); // the check box finds no service now
}

// Every ending signal stops the service in order: its events are removed, so no program takes
// a stopped service for a running one.
TEST_F(ClockServiceProgram, EveryEndingSignalStopsItInOrder) {
    for (const int signalNumber : {SIGINT, SIGHUP, SIGQUIT}) {
        ServiceProcess service;
        ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
        EXPECT_EQ(service.StopWith(signalNumber), 0) << "signal " << signalNumber;
        EXPECT_EQ(TNamedEvent::Open(SyncBeginEventName).Error(), ENOENT) << signalNumber;
        EXPECT_EQ(TNamedEvent::Open(SyncDoneEventName).Error(), ENOENT) << signalNumber;
        EXPECT_NE(service.Log().find("kairelon-clockd: stopped: events removed"), std::string::npos)
            << service.Log();
    }
}

// A second service refuses to start, naming the first; the first keeps its events and serves
// on, and once it has stopped a new one starts.
TEST_F(ClockServiceProgram, ASecondServiceRefusesToStartAndTheFirstServesOn) {
    ServiceProcess first;
    ASSERT_TRUE(first.WaitUntilReady()) << first.Log();
    ServiceProcess second;
    EXPECT_EQ(second.Finish(5000), 1) << second.Log();
    EXPECT_NE(second.Log().find("another kairelon-clockd (process "), std::string::npos)
        << second.Log();
    EXPECT_EQ(second.Log().find("ready:"), std::string::npos) << second.Log();

    EXPECT_NO_THROW(HandOverToService(options_, kRemote)); // the first answers
    EXPECT_TRUE(first.WaitForLog("confirmed:")) << first.Log();
    EXPECT_EQ(first.Stop(), 0);

    ServiceProcess third;
    EXPECT_TRUE(third.WaitUntilReady()) << third.Log();
}

TEST(ClockServiceCommandLine, HelpAndUnknownOptions) {
    const auto help = test::RunProgram("kairelon-clockd", {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: kairelon-clockd", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--dry-run"), std::string::npos);

    const auto bad = test::RunProgram("kairelon-clockd", {"--set-now"});
    EXPECT_EQ(bad.exitCode, 64);
    EXPECT_NE(bad.err.find("unknown option"), std::string::npos) << bad.err;
}

namespace {

std::string EventPath(const char* name) {
    return "/dev/shm/sem." + EventObjectName(name).substr(1);
}

} // namespace

// Any local user may create files in /dev/shm. Whatever stands where the service once kept its
// lock keeps no service from starting: the lock is in a folder only root writes.
TEST_F(ClockServiceProgram, NothingPlantedInTheSharedMemoryFolderKeepsTheServiceFromStarting) {
    const std::string planted =
        "/dev/shm/sem." + EventObjectName("KairelService").substr(1) + ".lock";
    const std::string elsewhere = home_.Path() + "/elsewhere";
    struct Case {
        const char* what;
        std::function<int()> plant;
    };
    const Case cases[] = {
        {"a link", [&] { return symlink(elsewhere.c_str(), planted.c_str()); }},
        {"a folder", [&] { return mkdir(planted.c_str(), 0755); }},
        {"a FIFO", [&] { return mkfifo(planted.c_str(), 0666); }},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.plant(), 0) << c.what << ": " << std::strerror(errno);
        ServiceProcess service;
        EXPECT_TRUE(service.WaitUntilReady()) << c.what << "\n" << service.Log();
        EXPECT_NO_THROW(HandOverToService(options_, kRemote)) << c.what;
        EXPECT_EQ(service.Stop(), 0) << c.what;
        unlink(planted.c_str());
        rmdir(planted.c_str());
    }
    // The lock is where the runtime folder says, readable by the group's programs.
    ServiceProcess service;
    ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
    struct stat st {};
    ASSERT_EQ(stat(ServiceLockPath().c_str(), &st), 0) << ServiceLockPath();
    EXPECT_EQ(ServiceLockPath().rfind(home_.Path() + "/run/", 0), 0u) << ServiceLockPath();
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// A service that was killed leaves its events behind; a program sees from the service's lock
// that nobody serves them and does not wait its ten seconds.
TEST_F(ClockServiceProgram, EventsLeftByAServiceThatWasKilledAreRecognisedAtOnce) {
    ServiceProcess service;
    ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
    EXPECT_EQ(service.StopWith(SIGKILL), -1);
    ASSERT_TRUE(TNamedEvent::OpenTrusted(SyncBeginEventName).IsOpen()) << "left behind";

    std::vector<std::string> output;
    const DebugOutputSink previous =
        SetDebugOutputSink([&](const std::string& line) { output.push_back(line); });
    const auto start = std::chrono::steady_clock::now();
    try {
        HandOverToService(options_, kRemote);
        ADD_FAILURE() << "confirmed";
    } catch (const EServiceError& e) {
        EXPECT_EQ(e.Message(), LoadStr(1074));
    }
    SetDebugOutputSink(previous);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    ASSERT_EQ(output.size(), 1u);
    EXPECT_NE(output[0].find("is no longer running"), std::string::npos) << output[0];

    ServiceProcess next; // and a new service takes over the place
    ASSERT_TRUE(next.WaitUntilReady()) << next.Log();
    EXPECT_NO_THROW(HandOverToService(options_, kRemote));
}

// The group's members may write the events' files. Whatever one does to them, the service
// keeps running, makes its events anew, and the next hand-over is confirmed.
TEST_F(ClockServiceProgram, WhatAMemberDoesToTheEventsNeitherEndsNorMisleadsTheService) {
    const auto overwrite = [](const char* name, const std::vector<std::uint8_t>& bytes) {
        const int fd = open(EventPath(name).c_str(), O_WRONLY);
        const bool written = fd >= 0 && pwrite(fd, bytes.data(), bytes.size(), 0) ==
                                            static_cast<ssize_t>(bytes.size());
        close(fd);
        return written ? 0 : -1;
    };
    struct Case {
        const char* what;
        std::function<int()> damage;
        const char* logged;
    };
    const Case cases[] = {
        {"begin cut short", [] { return truncate(EventPath(SyncBeginEventName).c_str(), 0); },
         "KairelSyncBegin was cut short"},
        {"done cut short", [] { return truncate(EventPath(SyncDoneEventName).c_str(), 0); },
         "KairelSyncDone was cut short"},
        {"begin removed", [] { return unlink(EventPath(SyncBeginEventName).c_str()); },
         "KairelSyncBegin was removed"},
        {"begin replaced by a regular file",
         [] {
             unlink(EventPath(SyncBeginEventName).c_str());
             const int fd = open(EventPath(SyncBeginEventName).c_str(), O_CREAT | O_WRONLY, 0600);
             const int cut = ftruncate(fd, 32);
             close(fd);
             return fd >= 0 ? cut : -1;
         },
         "KairelSyncBegin was replaced"},
        // Set, with a waiter counted and the flags that make the C library's set of the event
        // sleep for ever.
        {"done filled with foreign content",
         [&] {
             return overwrite(SyncDoneEventName,
                              {0, 0, 0, 0, 1, 0, 0, 0, 0x81, 0, 0, 0, 0, 0, 0, 0});
         },
         "KairelSyncDone holds foreign content"},
        {"begin filled with garbage",
         [&] { return overwrite(SyncBeginEventName, std::vector<std::uint8_t>(32, 0xff)); },
         "KairelSyncBegin holds foreign content"},
    };
    for (const Case& c : cases) {
        ServiceProcess service;
        ASSERT_TRUE(service.WaitUntilReady()) << service.Log();
        ASSERT_EQ(c.damage(), 0) << c.what << ": " << std::strerror(errno);
        EXPECT_TRUE(service.WaitForLog(c.logged, 3000)) << c.what << "\n" << service.Log();
        EXPECT_TRUE(service.WaitForLog("made anew", 3000)) << c.what << "\n" << service.Log();
        EXPECT_NO_THROW(HandOverToService(options_, kRemote)) << c.what << "\n" << service.Log();
        EXPECT_EQ(service.Stop(), 0) << c.what << "\n" << service.Log();
    }
}
