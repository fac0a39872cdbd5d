// The synchronisation run and the menu command, end to end against a daytime server on
// 127.0.0.1, with a fake clock, a fake dial-up layer and a temporary registry folder.
#include "support/FakeRasLayer.h"
#include "support/FakeResolver.h"
#include "support/LoopbackServer.h"
#include "support/SyncEngineFixture.h"

#include "daemons/ClockService.h"
#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/DebugOutput.h"
#include "platform/HardwareClock.h"
#include "platform/SystemError.h"
#include "settings/SettingsTable.h"
#include "sync/ClockSetting.h"
#include "sync/TimeConversion.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

using namespace kairelon;
using namespace kairelon::test;

namespace {

class SyncRun : public SyncEngineFixture {
protected:
    // Serves `line` to every connection and points "CurrentServer" at it.
    void ServeLine(const std::string& line) {
        server_ = std::make_unique<LoopbackServer>(LoopbackServer::SendAndClose(line));
        Local().Write(settings::CurrentServer, "127.0.0.1:" + std::to_string(server_->Port()));
    }
    // The daytime line for the fake clock's time moved by `offsetSeconds`.
    std::string LineAtOffset(int offsetSeconds) {
        return DaytimeLine(clock->GetSystemTime(), offsetSeconds);
    }
    void UseLimit(int unit, int size) {
        Local().Write(settings::UseMaxAbweich, true);
        Local().Write(settings::MaxAbweichEinheit, unit);
        Local().Write(settings::MaxAbweichIntervall, size);
    }

    std::unique_ptr<LoopbackServer> server_;
};

TEST_F(SyncRun, NotConfiguredEndsAtOnceWithWarning1040) {
    StartUp(); // no "CurrentServer"
    ASSERT_FALSE(engine->Configured);
    EXPECT_EQ(host.boxes, (std::vector<std::string>{"Hinweis: " + LoadStr(1011)}));
    EXPECT_FALSE(engine->tGetTime.isActive());
    Local().Write(settings::ConnectRAS, true);
    host.Reset();

    ASSERT_TRUE(engine->mnuSyncClick());
    EXPECT_EQ(host.Entries(), (std::vector<std::string>{"2|" + LoadStr(1040)}));
    EXPECT_TRUE(host.dialogStates.empty());
    EXPECT_TRUE(ras->calls.empty());
    EXPECT_EQ(engine->LastResultKind, 2);
}

TEST_F(SyncRun, SuccessfulRunWithDialUpLeavesEveryEntryInOrder) {
    ras->entries = {"Provider"};
    ServeLine(LineAtOffset(90));
    Local().Write(settings::ConnectRAS, true);
    Local().WriteRasConnection("Provider");
    StartUp();
    host.Reset();

    ASSERT_TRUE(engine->mnuSyncClick());
    const std::string host127 = "127.0.0.1";
    const auto entries = host.Entries();
    ASSERT_EQ(entries.size(), 7u) << ::testing::PrintToString(entries);
    EXPECT_EQ(entries[0], "1|" + LoadStr(1026));
    EXPECT_EQ(entries[1], "1|" + Format(LoadStr(1016), host127));
    EXPECT_EQ(entries[2], "1|" + Format(LoadStr(1018), host127));
    EXPECT_EQ(entries[3].rfind("1|Datum/Uhrzeit lokal (UTC) : ", 0), 0u);
    EXPECT_EQ(entries[4].rfind("1|Datum/Uhrzeit remote (UTC) : ", 0), 0u);
    EXPECT_EQ(entries[5], "1|" + LoadStr(1028));
    EXPECT_EQ(entries[6].rfind("1|Synchronisation erfolgreich ( ", 0), 0u);
    EXPECT_EQ(host.dialogStates, (std::vector<bool>{false, true}));
    ASSERT_EQ(clock->SetCalls().size(), 1u);
    EXPECT_EQ(clock->SetCalls()[0].wDayOfWeek, 0); // the run does not fill it in
    EXPECT_EQ(ras->hungUp.size(), 1u);
    EXPECT_FALSE(engine->Busy);
}

TEST_F(SyncRun, ClockEntriesShowUtcAndTheSuccessTextLocalTime) {
    clock = std::make_unique<CFakeClock>(SYSTEMTIME{2026, 3, 6, 7, 8, 5, 9, 0});
    ServeLine("61106 26-03-07 09:06:10 00 0 0  50.0 UTC(XX) *");
    StartUp();
    localNow = EncodeDateTime(2026, 3, 7, 10, 6, 10, 0);
    host.Reset();
    engine->mnuSyncClick();
    const auto entries = host.Entries();
    ASSERT_GE(entries.size(), 5u);
    EXPECT_EQ(entries[2], "1|Datum/Uhrzeit lokal (UTC) : 07.03.2026, 08:05:09");
    EXPECT_EQ(entries[3], "1|Datum/Uhrzeit remote (UTC) : 07.03.2026, 09:06:10");
    EXPECT_EQ(entries.back(), "1|Synchronisation erfolgreich ( 07.03.2026, 10:06:10 )");
}

// The reply is true when it arrives; the run sets what is true when it sets: the time that
// passed in between (here 250 ms in the handlers after the reply came) is added.
TEST_F(SyncRun, TheDirectRouteSetsTheEstimateMovedOnByTheTimeSinceTheReply) {
    const SYSTEMTIME start = clock->GetSystemTime(); // 12:00:00.000
    struct Case {
        int pauseMs;
        std::string expected;
    };
    // The line states 12:01:30 sent 50 ms early: 12:01:29.950 at its arrival.
    for (const Case& c : {Case{0, "2026-01-01 12:01:29.950"}, Case{250, "2026-01-01 12:01:30.200"},
                          Case{1080, "2026-01-01 12:01:31.030"}}) {
        SCOPED_TRACE(c.pauseMs);
        clock = std::make_unique<CFakeClock>(start);
        ServeLine(LineAtOffset(90));
        StartUp();
        const TNotifyEvent disconnect = engine->NTP.OnDisconnect;
        engine->NTP.OnDisconnect = [&, disconnect](TObject* sender) {
            clock->Advance(c.pauseMs); // a slow handler after the reply came
            disconnect(sender);
            engine->NTP.OnDisconnect = disconnect;
        };
        ASSERT_TRUE(engine->mnuSyncClick());
        ASSERT_EQ(clock->SetCalls().size(), 1u) << ::testing::PrintToString(host.Entries());
        EXPECT_EQ(SystemTimeText(clock->SetCalls()[0]), c.expected);
        EXPECT_EQ(clock->SetCalls()[0].wDayOfWeek, 0);
        engine.reset();
    }
}

TEST_F(SyncRun, TheHardwareClockIsWrittenAfterTheDirectRouteAndAFailureIsOneWarning) {
    QTemporaryDir dir;
    const std::string adjtime = dir.path().toStdString() + "/adjtime";
    struct Case {
        int refusal;
        std::vector<std::string> warnings;
        std::size_t readings;
    };
    const Case cases[] = {
        {0, {}, 1},
        {ENOENT, {}, 0}, // no RTC (a container): nothing to say
        {EACCES,
         {"2|" +
          Format(LoadStr(HardwareClockFailedText), "/dev/rtc-fake", SystemErrorText(EACCES))},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal);
        CFakeHardwareClock rtc(adjtime);
        rtc.RefuseWith(c.refusal);
        clock->AttachHardwareClock(&rtc);
        ServeLine(LineAtOffset(90));
        StartUp();
        host.Reset();
        ASSERT_TRUE(engine->mnuSyncClick());
        EXPECT_EQ(engine->LastResultKind, 1) << "the clock is set: the run succeeded";
        std::vector<std::string> warnings;
        for (const std::string& entry : host.Entries()) {
            if (entry.rfind("2|", 0) == 0) {
                warnings.push_back(entry);
            }
        }
        EXPECT_EQ(warnings, c.warnings);
        EXPECT_EQ(rtc.Attempts(), 1);
        ASSERT_EQ(rtc.Readings().size(), c.readings);
        if (c.readings == 1) {
            // UTC without /etc/adjtime: the clock just set, to the second.
            SYSTEMTIME set = clock->GetSystemTime();
            EXPECT_EQ(rtc.Readings()[0].wHour, set.wHour);
            EXPECT_EQ(rtc.Readings()[0].wMinute, set.wMinute);
        }
        clock->AttachHardwareClock(nullptr);
        engine.reset();
    }
}

TEST_F(SyncRun, ADryRunNeverWritesTheHardwareClock) {
    CFakeHardwareClock rtc("/nonexistent/adjtime");
    clock->AttachHardwareClock(&rtc);
    ServeLine(LineAtOffset(90));
    StartUp();
    engine->DryRun = true;
    engine->mnuSyncClick();
    EXPECT_EQ(rtc.Attempts(), 0);
    clock->AttachHardwareClock(nullptr);
}

TEST_F(SyncRun, AnotherTimeServiceIsNamedOnceAtStartAndRunsGoOn) {
    timeServices = [] { return std::string("chronyd"); };
    ServeLine(LineAtOffset(90));
    StartUp();
    const std::string note = "1|" + Format(LoadStr(OtherTimeServiceText), "chronyd");
    auto entries = host.Entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2], "1|" + LoadStr(1029));
    EXPECT_EQ(entries.back(), note);
    ASSERT_TRUE(engine->mnuSyncClick());
    ASSERT_TRUE(engine->mnuSyncClick());
    EXPECT_EQ(engine->LastResultKind, 1);
    EXPECT_EQ(clock->SetCalls().size(), 2u);
    entries = host.Entries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), note), 1);
}

TEST_F(SyncRun, DeviationLimitAllowsEqualAndRefusesOneMinuteMore) {
    ServeLine(LineAtOffset(30 * 60));
    UseLimit(1, 30);
    StartUp();
    engine->mnuSyncClick();
    EXPECT_EQ(engine->LastResultKind, 1);
    EXPECT_EQ(clock->SetCalls().size(), 1u);

    ServeLine(LineAtOffset(30 * 60));
    engine->SetServer("127.0.0.1:" + std::to_string(server_->Port()));
    UseLimit(1, 29);
    host.Reset();
    engine->mnuSyncClick();
    EXPECT_EQ(host.Entries().back(), "2|" + Format(LoadStr(1081), 30));
    EXPECT_EQ(clock->SetCalls().size(), 1u); // untouched
}

TEST_F(SyncRun, FiftyNineSecondsIsNoDeviationEvenForALimitOfZero) {
    ServeLine(LineAtOffset(59));
    UseLimit(1, 0);
    StartUp();
    engine->mnuSyncClick();
    EXPECT_EQ(engine->LastResultKind, 1);
    EXPECT_EQ(clock->SetCalls().size(), 1u);
}

TEST_F(SyncRun, LimitUnitsHoursAndUnknownUnits) {
    struct Case {
        int unit, size, offsetMinutes;
        bool set;
    };
    for (const Case c : {Case{2, 3, 180, true}, Case{2, 3, 181, false}, Case{0, 1, 360, true},
                         Case{4, 1, 361, false}, Case{3, 1, 1440, true}}) {
        ServeLine(LineAtOffset(c.offsetMinutes * 60));
        UseLimit(c.unit, c.size);
        if (!engine) {
            StartUp();
        } else {
            engine->SetServer("127.0.0.1:" + std::to_string(server_->Port()));
        }
        const auto before = clock->SetCalls().size();
        engine->mnuSyncClick();
        EXPECT_EQ(clock->SetCalls().size() - before, c.set ? 1u : 0u)
            << "unit " << c.unit << " size " << c.size << " offset " << c.offsetMinutes;
    }
}

TEST_F(SyncRun, RefusedClockIsAWarningWithTheSystemText) {
    ServeLine(LineAtOffset(5));
    StartUp();
    clock->RefuseWith(EPERM);
    engine->mnuSyncClick();
    EXPECT_EQ(host.Entries().back(),
              "2|" + LoadStr(1020) + " ( GetLastError() returned Operation not permitted )");
}

TEST_F(SyncRun, UnconvertibleReplyIsAnErrorAndTheHangUpComesFirst) {
    ras->entries = {"Provider"};
    ServeLine("this is not a daytime line");
    Local().Write(settings::ConnectRAS, true);
    Local().WriteRasConnection("Provider");
    StartUp();
    host.Reset();
    engine->mnuSyncClick();
    const auto entries = host.Entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2], "1|" + LoadStr(1028));
    EXPECT_EQ(entries.back(), "3|" + LoadStr(1020) + " ( NTPtoDateTime() failed )");
    EXPECT_TRUE(clock->SetCalls().empty());
}

TEST_F(SyncRun, DialUpRequiredButUnavailableOrFailing) {
    ServeLine(LineAtOffset(5));
    Local().Write(settings::ConnectRAS, true);
    Local().WriteRasConnection("Provider");
    rasLoader = MissingRasLoader();
    StartUp();
    engine->mnuSyncClick();
    EXPECT_EQ(host.Entries().back(), "3|" + LoadStr(1024) + " " + LoadStr(1073));
    EXPECT_EQ(host.dialogStates, (std::vector<bool>{false, true}));
    EXPECT_TRUE(clock->SetCalls().empty());
}

TEST_F(SyncRun, ServiceNotRunningGives1074) {
    ServeLine(LineAtOffset(5));
    Local().Write(settings::UseService, true);
    StartUp();
    const auto start = std::chrono::steady_clock::now();
    engine->mnuSyncClick();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(host.Entries().back(), "3|" + LoadStr(1074));
    EXPECT_TRUE(clock->SetCalls().empty());
}

TEST_F(SyncRun, UnknownHostGives1019Then1039) {
    auto resolver = std::make_shared<FakeResolver>();
    ResolverScope scope(resolver);
    Local().Write(settings::CurrentServer, "no-such-host.invalid");
    StartUp();
    host.Reset();
    engine->mnuSyncClick();
    EXPECT_EQ(host.Entries(),
              (std::vector<std::string>{"2|" + Format(LoadStr(1019), "no-such-host.invalid"),
                                        "3|" + LoadStr(1039)}));
}

TEST_F(SyncRun, AnIpv6ServerIsNamedAsNotServedWhenItIsTaken) {
    auto resolver = std::make_shared<FakeResolver>();
    ResolverScope scope(resolver);
    for (const std::string server : {"::1", "[::1]:13", "fe80::1%lo"}) {
        Local().Write(settings::CurrentServer, server);
        StartUp();
        const std::string warning = "2|\"CurrentServer\": '" + server +
                                    "' is an IPv6 address: only IPv4 addresses and host names "
                                    "are served";
        EXPECT_EQ(std::count(host.entries.begin(), host.entries.end(), warning), 1) << server;
        EXPECT_EQ(engine->NTP.Host, server) << "not cut at a colon";
        EXPECT_EQ(engine->NTP.Port, 13) << server;
        host.Reset();
        engine->ApplyDialogOptions(); // the dialog's OK takes the server again, and says it again
        EXPECT_EQ(host.Entries(), std::vector<std::string>{warning}) << server;
    }
}

TEST_F(SyncRun, SilentServerEndsWithinTheTimeOut) {
    LoopbackServer silent(LoopbackServer::NeverSend());
    Local().Write(settings::CurrentServer, "127.0.0.1:" + std::to_string(silent.Port()));
    Local().Write(settings::Timeout, 300);
    StartUp();
    const auto start = std::chrono::steady_clock::now();
    engine->mnuSyncClick();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(engine->LastResultKind, 3);
    EXPECT_FALSE(engine->Busy);
    EXPECT_TRUE(clock->SetCalls().empty());
}

TEST_F(SyncRun, MenuCommandDuringARunIsRefusedWithABeep) {
    ServeLine(LineAtOffset(5));
    StartUp();
    engine->Busy = true;
    EXPECT_FALSE(engine->mnuSyncClick());
    EXPECT_EQ(host.beeps, 1);
    EXPECT_TRUE(clock->SetCalls().empty());
    EXPECT_TRUE(engine->Busy); // still the other run's
}

TEST_F(SyncRun, AStoredTimeOutThatIsNotPositiveBecomesTheDefault) {
    struct Case {
        std::int32_t stored, used;
    };
    for (const Case c : {Case{0, 10000}, Case{-1, 10000}, Case{INT32_MIN, 10000}, Case{1, 1},
                         Case{300, 300}, Case{30000, 30000}, Case{INT32_MAX, INT32_MAX}}) {
        Local().Write(settings::Timeout, c.stored);
        StartUp();
        EXPECT_EQ(engine->NTP.TimeOut, c.used) << "stored " << c.stored << " at start-up";
        engine->NTP.TimeOut = 123;
        engine->ApplyDialogOptions();
        EXPECT_EQ(engine->NTP.TimeOut, c.used) << "stored " << c.stored << " on OK";
    }
}

TEST_F(SyncRun, AStoredTimeOutOfZeroStillEndsARunAgainstASilentServer) {
    LoopbackServer silent(LoopbackServer::NeverSend());
    Local().Write(settings::CurrentServer, "127.0.0.1:" + std::to_string(silent.Port()));
    Local().Write(settings::Timeout, 0);
    StartUp();
    const auto start = std::chrono::steady_clock::now();
    engine->mnuSyncClick();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(9000));
    EXPECT_LT(took, std::chrono::seconds(30));
    EXPECT_EQ(engine->LastResultKind, 3);
}

TEST_F(SyncRun, WithoutAServerTheSyncCommandIsGreyedOutUntilOkAppliesOne) {
    Local().Write(settings::Intervall, 15);
    Local().Write(settings::Einheit, 2);
    StartUp();
    EXPECT_FALSE(host.syncCommandEnabled);
    EXPECT_FALSE(engine->Configured);
    EXPECT_FALSE(engine->tGetTime.isActive());
    EXPECT_EQ(engine->SyncInterval, 15);
    EXPECT_EQ(engine->SyncUnit, 2);

    // The dialog saved a server and other values; OK applies them.
    Local().WriteCurrentServer("127.0.0.1:1313");
    Local().Write(settings::Intervall, 7);
    Local().Write(settings::Einheit, 1);
    Local().Write(settings::Timeout, 2000);
    engine->ApplyDialogOptions();
    EXPECT_TRUE(host.syncCommandEnabled);
    EXPECT_TRUE(engine->Configured);
    EXPECT_TRUE(engine->tGetTime.isActive());
    EXPECT_EQ(engine->NTP.Host, "127.0.0.1");
    EXPECT_EQ(engine->NTP.Port, 1313);
    EXPECT_EQ(engine->NTP.TimeOut, 2000);
    EXPECT_EQ(engine->SyncInterval, 7);
    EXPECT_EQ(engine->SyncUnit, 1);
}

TEST_F(SyncRun, WithAServerTheSyncCommandStaysOffered) {
    Local().WriteCurrentServer("127.0.0.1");
    host.syncCommandEnabled = true;
    StartUp();
    EXPECT_TRUE(host.syncCommandEnabled);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(engine->Configured);
}

namespace {

// The clock-setting service of this process, serving one hand-over on a thread of its own
// with a clock of its own.
class ServiceThread {
public:
    explicit ServiceThread(std::function<std::int64_t()> utcNow = {})
        : service_(
              clock, [](const std::string&) {}, {}, {}, std::move(utcNow)) {
        started = service_.Start(-1);
        if (started) {
            thread_ = std::thread([this] { served = service_.ServeOnce(5000); });
        }
    }
    ~ServiceThread() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    void Join() { thread_.join(); }

    CFakeClock clock;
    bool started = false;
    bool served = false;

private:
    CClockService service_;
    std::thread thread_;
};

} // namespace

TEST_F(SyncRun, TheServiceRouteSucceedsThroughTheService) {
    const SYSTEMTIME now = clock->GetSystemTime();
    ServeLine(LineAtOffset(90));
    Local().Write(settings::UseService, true);
    StartUp();
    host.Reset();
    ServiceThread service;
    ASSERT_TRUE(service.started);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(engine->mnuSyncClick());
    service.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(service.served);
    EXPECT_EQ(engine->LastResultKind, 1) << ::testing::PrintToString(host.Entries());
    EXPECT_EQ(host.Entries().back().rfind("1|Synchronisation erfolgreich ( ", 0), 0u);
    EXPECT_TRUE(clock->SetCalls().empty()); // the program's clock is left to the service
    ASSERT_EQ(service.clock.SetCalls().size(), 1u);
    const SYSTEMTIME set = service.clock.SetCalls()[0];
    EXPECT_EQ(GetTimeDifference(set, now), 1); // 90 s ahead: one whole minute
    EXPECT_EQ(set.wDayOfWeek, 0);
    // The line's second less its 50 ms advance; no time passed on either fake clock since.
    EXPECT_EQ(set.wMilliseconds, 950);
}

TEST_F(SyncRun, AHandOverTheServiceRefusesIsReportedAsRefusedAtOnce) {
    ServeLine(LineAtOffset(5));
    Local().Write(settings::UseService, true);
    StartUp();
    // The service's clock is a minute ahead: every hand-over looks stale to it.
    ServiceThread service([] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count() +
               60000;
    });
    ASSERT_TRUE(service.started);
    const auto start = std::chrono::steady_clock::now();
    engine->mnuSyncClick();
    service.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(host.Entries().back(), "3|" + LoadStr(ServiceRefusedText));
    EXPECT_NE(LoadStr(ServiceRefusedText), LoadStr(1074));
    EXPECT_TRUE(service.clock.SetCalls().empty());
    EXPECT_TRUE(clock->SetCalls().empty());
}

TEST_F(SyncRun, AMachineWideLockHeldElsewhereEndsTheRunWithTheStoresError) {
    ServeLine(LineAtOffset(5));
    Local().Write(settings::UseService, true);
    StartUp();
    const std::string lockPath = home.RegistryDir() + "/system.reg.lock";
    const int holder = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    engine->mnuSyncClick();
    const auto took = std::chrono::steady_clock::now() - start;
    ::close(holder);
    EXPECT_LT(took, std::chrono::seconds(10));
    const std::string last = host.Entries().back();
    EXPECT_EQ(last.rfind("3|" + Format(LoadStr(1052), ""), 0), 0u) << last;
    EXPECT_NE(last.find("Cannot lock the registry file '" + lockPath +
                        "': another process has held the lock for more than 3 s"),
              std::string::npos)
        << last;
    EXPECT_FALSE(engine->Busy);
}

TEST_F(SyncRun, StartUpDoesNotHangOnAMachineWideLockHeldElsewhere) {
    // The machine-wide file does not exist yet, so opening the store wants to create its key.
    const std::string lockPath = home.RegistryDir() + "/system.reg.lock";
    const int holder = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    StartUp();
    const auto took = std::chrono::steady_clock::now() - start;
    ::close(holder);
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(host.entries.back(), "1|" + LoadStr(1029));
}

namespace {

struct CapturedOutput {
    CapturedOutput() {
        previous = SetDebugOutputSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~CapturedOutput() { SetDebugOutputSink(previous); }
    std::string All() const {
        std::string all;
        for (const std::string& line : lines) {
            all += line + "\n";
        }
        return all;
    }
    std::vector<std::string> lines;
    DebugOutputSink previous;
};

} // namespace

TEST_F(SyncRun, ADryRunSaysWhichRouteItWouldTake) {
    const SYSTEMTIME remote = clock->GetSystemTime();
    // The line states the whole second, sent 50 ms early: that is the time handed over.
    CFakeClock earlier(remote);
    earlier.Advance(-50);
    SYSTEMTIME sent = earlier.GetSystemTime();
    sent.wDayOfWeek = 0;
    ServeLine(DaytimeLine(remote, 0));
    StartUp();
    engine->DryRun = true;
    for (const bool useService : {false, true}) {
        Local().Write(settings::UseService, useService);
        CapturedOutput output;
        const auto before = clock->SetCalls().size();
        engine->mnuSyncClick();
        EXPECT_EQ(engine->LastResultKind, 1) << useService;
        if (useService) {
            EXPECT_EQ(output.lines,
                      (std::vector<std::string>{
                          "dry run: service route (\"UseService\" on): would hand " +
                          SystemTimeText(sent) + " UTC to the clock-setting service"}));
            EXPECT_EQ(output.All().find("would set the clock"), std::string::npos);
            EXPECT_EQ(clock->SetCalls().size(), before); // the clock is not the route
        } else {
            ASSERT_FALSE(output.lines.empty());
            EXPECT_EQ(output.lines[0], "dry run: direct route (\"UseService\" off)");
            EXPECT_EQ(clock->SetCalls().size(), before + 1); // the dry-run clock's turn
        }
        ServeLine(DaytimeLine(remote, 0));
        engine->SetServer("127.0.0.1:" + std::to_string(server_->Port()));
    }
}

} // namespace

namespace {

class ServerHealth : public SyncRun {};

TEST_F(ServerHealth, AServerThatSaysItsTimeIsWrongSetsNothingAndSaysWhy) {
    const struct {
        char health;
        bool sets;
    } cases[] = {{'0', true}, {'1', true}, {'2', false}, {'4', false}, {'7', false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.health);
        std::string line = LineAtOffset(5);
        ASSERT_EQ(line.substr(23, 7), " 00 0 0");
        line[29] = c.health;
        ServeLine(line);
        StartUp();
        host.Reset();
        const std::size_t setsBefore = clock->SetCalls().size();
        engine->mnuSyncClick();
        const auto entries = host.Entries();
        ASSERT_GE(entries.size(), 3u);
        if (c.sets) {
            EXPECT_EQ(clock->SetCalls().size(), setsBefore + 1);
            EXPECT_EQ(engine->LastResultKind, 1);
        } else {
            EXPECT_EQ(clock->SetCalls().size(), setsBefore);
            EXPECT_EQ(entries.back(),
                      "2|" + Format(LoadStr(4191), std::string("127.0.0.1"), c.health - '0'));
            EXPECT_EQ(engine->LastResultKind, 2);
            // Both clocks are still shown, as for a refused deviation.
            EXPECT_EQ(entries[entries.size() - 2].rfind("1|Datum/Uhrzeit remote", 0), 0u);
        }
    }
}

TEST_F(ServerHealth, UnhealthyWinsOverTheDeviationLimitAndALineWithoutTheFieldSetsTheClock) {
    std::string line = LineAtOffset(3 * 3600);
    line[29] = '2';
    ServeLine(line);
    UseLimit(1, 10);
    StartUp();
    engine->mnuSyncClick();
    EXPECT_EQ(host.Entries().back(), "2|" + Format(LoadStr(4191), std::string("127.0.0.1"), 2));

    ServeLine(LineAtOffset(5).substr(0, 23)); // date and time only
    Local().Write(settings::UseMaxAbweich, false);
    StartUp();
    engine->mnuSyncClick();
    EXPECT_EQ(engine->LastResultKind, 1);
    EXPECT_EQ(clock->SetCalls().size(), 1u);
}

} // namespace
