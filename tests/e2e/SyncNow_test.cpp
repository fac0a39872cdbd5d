// kairelon's headless modes as programs: one dry-run synchronisation against
// kairelon-daytimed, the run without a configured server, the scheduler without a display
// stopped by a signal, and the command-line rules.
#include "support/DaytimeDaemon.h"
#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

#include "framework/Format.h"
#include "framework/StringTable.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <gtest/gtest.h>

#include <signal.h>

#include <functional>
#include <regex>
#include <sstream>

using namespace kairelon;
using namespace kairelon::test;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class Headless : public ::testing::Test {
protected:
    Headless() {
        // No dial-up layer can answer on this address, so the start-up protocol is the same
        // on every machine.
        setenv("KAIRELON_DIALUP_BUS", "unix:path=/nonexistent/kairelon-test-bus", 1);
    }
    ~Headless() override { unsetenv("KAIRELON_DIALUP_BUS"); }

    std::string UserFile() const { return home.RegistryDir() + "/user.reg"; }

    IsolatedHome home;
};

TEST_F(Headless, SyncNowDryRunAgainstTheBundledServer) {
    DaytimeDaemon daemon;
    ASSERT_NE(daemon.Port(), 0) << daemon.FirstLine();
    const std::string server = "127.0.0.1:" + std::to_string(daemon.Port());

    const auto run = RunProgram(
        "kairelon", {"--sync-now", "--server", QString::fromStdString(server), "--dry-run"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    EXPECT_EQ(lines[0], "warning: " + LoadStr(1070));
    EXPECT_EQ(lines[1], "info: " + LoadStr(1029));
    EXPECT_EQ(lines[2], "info: Verbindung zu Host 127.0.0.1 hergestellt");
    EXPECT_EQ(lines[3], "info: Verbindung zu Host 127.0.0.1 getrennt");
    EXPECT_TRUE(std::regex_match(
        lines[4],
        std::regex(R"(info: Datum/Uhrzeit lokal \(UTC\) : \d\d\.\d\d\.\d{4}, \d\d:\d\d:\d\d)")))
        << lines[4];
    EXPECT_TRUE(std::regex_match(
        lines[5],
        std::regex(R"(info: Datum/Uhrzeit remote \(UTC\) : \d\d\.\d\d\.\d{4}, \d\d:\d\d:\d\d)")))
        << lines[5];
    EXPECT_TRUE(std::regex_match(
        lines[6],
        std::regex(R"(info: Synchronisation erfolgreich \( \d\d\.\d\d\.\d{4}, \d\d:\d\d:\d\d \))")))
        << lines[6];
    EXPECT_NE(run.err.find("would set the clock to"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("dry run: direct route"), std::string::npos) << run.err;

    // The server given on the command line is for this run only.
    QFile file(QString::fromStdString(UserFile()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().indexOf(QByteArray::fromStdString(server)), -1);
}

TEST_F(Headless, SyncNowDryRunNamesTheServiceRouteWhenItIsChosen) {
    DaytimeDaemon daemon;
    ASSERT_NE(daemon.Port(), 0) << daemon.FirstLine();
    QFile file(QString::fromStdString(UserFile()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel]\r\n"
               "\"UseService\"=dword:00000001\r\n");
    file.close();
    const auto run = RunProgram(
        "kairelon",
        {"--sync-now", "--server",
         QString::fromStdString("127.0.0.1:" + std::to_string(daemon.Port())), "--dry-run"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(std::regex_search(
        run.err,
        std::regex(R"(dry run: service route \("UseService" on\): would hand )"
                   R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} UTC to the clock-setting service)")))
        << run.err;
    EXPECT_EQ(run.err.find("would set the clock"), std::string::npos) << run.err;
}

TEST_F(Headless, SyncNowWithoutAServerIsAWarning) {
    const auto run = RunProgram("kairelon", {"--sync-now", "--dry-run"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("message: " + LoadStr(2003) + ": " + LoadStr(1011)), std::string::npos)
        << run.err;
    EXPECT_EQ(Lines(run.out).back(), "warning: " + LoadStr(1040));
}

TEST_F(Headless, SyncNowAgainstARefusingPortIsAnError) {
    // A refused connection is a socket error, reported at once (the time-out here is long).
    QFile file(QString::fromStdString(UserFile()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel]\r\n"
               "\"Timeout\"=dword:00004e20\r\n");
    file.close();
    QElapsedTimer clock;
    clock.start();
    const auto run = RunProgram("kairelon", {"--sync-now", "--server", "127.0.0.1:1", "--dry-run"});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_EQ(Lines(run.out).back(), "error: " + LoadStr(1039));
    EXPECT_LT(clock.elapsed(), 10000) << "not after the 20 s time-out";
}

TEST_F(Headless, SchedulerRunsUntilSigterm) {
    QProcess process;
    process.start(QString::fromStdString(BuiltProgram("kairelon")),
                  {"--headless", "--server", "127.0.0.1:1", "--dry-run"});
    ASSERT_TRUE(process.waitForStarted(10000));
    std::string out;
    while (out.find(LoadStr(1029)) == std::string::npos && process.waitForReadyRead(10000)) {
        out += process.readAllStandardOutput().toStdString();
    }
    ASSERT_NE(out.find("info: " + LoadStr(1029)), std::string::npos) << out;
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

TEST_F(Headless, CommandLineRules) {
    for (const QStringList& bad :
         {QStringList{"--sync-now", "--headless"}, QStringList{"--query", "a", "--sync-now"},
          QStringList{"--server", "a"}, QStringList{"--sync-now", "--server", "a:0"},
          QStringList{"--sync-now", "--server", ":13"}, QStringList{"--query", "a", "--dry-run"},
          QStringList{"--quit", "--dry-run"}, QStringList{"--sync-now", "--timeout", "5"},
          QStringList{"--sync-now", "--server"}}) {
        const auto run = RunProgram("kairelon", bad);
        EXPECT_EQ(run.exitCode, 64) << bad.join(' ').toStdString() << run.err;
    }
    const auto help = RunProgram("kairelon", {"--help"});
    for (const char* mode : {"--query", "--sync-now", "--headless", "--server", "--dry-run"}) {
        EXPECT_NE(help.out.find(mode), std::string::npos) << mode;
    }
}

} // namespace

namespace {

// A running `kairelon --headless`, read line by line.
class HeadlessProcess {
public:
    explicit HeadlessProcess(const QStringList& args) {
        process_.start(QString::fromStdString(BuiltProgram("kairelon")),
                       QStringList{"--headless", "--dry-run"} + args);
        process_.waitForStarted(10000);
    }
    ~HeadlessProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    // Waits until a line satisfies `match`; that line, or "" after timeoutMs.
    std::string WaitForLine(const std::function<bool(const std::string&)>& match, int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (process_.canReadLine()) {
                std::string line = process_.readLine().toStdString();
                line.erase(line.find_last_not_of('\n') + 1);
                lines.push_back(line);
                if (match(line)) {
                    return line;
                }
            }
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0 || process_.state() == QProcess::NotRunning) {
                return "";
            }
            process_.waitForReadyRead(static_cast<int>(std::min<qint64>(left, 500)));
        }
    }
    std::string WaitForPrefix(const std::string& prefix, int timeoutMs = 10000) {
        return WaitForLine([&](const std::string& l) { return l.rfind(prefix, 0) == 0; },
                           timeoutMs);
    }
    void Signal(int signalNumber) {
        ::kill(static_cast<pid_t>(process_.processId()), signalNumber);
    }
    // Exit status after a normal end within timeoutMs, else -1; the rest of the output read.
    int Finish(int timeoutMs) {
        const bool finished = process_.waitForFinished(timeoutMs);
        WaitForLine([](const std::string&) { return false; }, 0);
        return finished && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    std::vector<std::string> lines;

private:
    QProcess process_;
};

void WriteSettings(const std::string& path, const std::string& values) {
    QSaveFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel]\r\n" +
        values));
    ASSERT_TRUE(file.commit());
}

} // namespace

// The scheduler without a display as a user leaves it running: it says when it runs next (or
// that it never will), refuses a second scheduler on the same settings, reads the settings
// again on SIGHUP, and SIGTERM in the middle of a run against a server that never answers ends
// it within a second, with a last line that says so.
TEST_F(Headless, SaysWhatItWillDoReloadsOnSighupAndStopsPromptlyDuringARun) {
    kairelon::test::LoopbackServer silent(kairelon::test::LoopbackServer::NeverSend());
    const QStringList server{"--server",
                             QString::fromStdString("127.0.0.1:" + std::to_string(silent.Port()))};
    WriteSettings(UserFile(), "\"SyncModus\"=dword:00000003\r\n");

    HeadlessProcess first(server);
    EXPECT_EQ(first.WaitForPrefix("next run:"),
              "next run: none: \"SyncModus\" holds 3, which never runs (1 fixed time, 2 "
              "interval)");

    const auto second = RunProgram("kairelon", QStringList{"--headless", "--dry-run"} + server);
    EXPECT_EQ(second.exitCode, 1) << second.out << second.err;
    EXPECT_NE(second.err.find("another 'kairelon --headless' (process "), std::string::npos)
        << second.err;
    EXPECT_EQ(second.out.find("info:"), std::string::npos) << "no start-up: " << second.out;

    // Every minute, and a time-out far beyond the test.
    WriteSettings(UserFile(), "\"SyncModus\"=dword:00000002\r\n\"Intervall\"=dword:00000001\r\n"
                              "\"Einheit\"=dword:00000001\r\n\"Timeout\"=dword:0000ea60\r\n");
    first.Signal(SIGHUP);
    ASSERT_EQ(first.WaitForPrefix("settings read again"), "settings read again (SIGHUP)");
    const std::string next = first.WaitForPrefix("next run:");
    EXPECT_TRUE(std::regex_match(
        next, std::regex(R"(next run: \d\d\.\d\d\.\d{4}, \d\d:\d\d local time, after a full )"
                         R"(interval of 1 minutes of running time \(then every 1 minutes\))")))
        << next;

    // The first run comes a minute after the reload; it connects and then waits for a reply.
    ASSERT_EQ(first.WaitForPrefix("info: Verbindung zu Host 127.0.0.1 hergestellt", 75000),
              "info: Verbindung zu Host 127.0.0.1 hergestellt");
    QElapsedTimer stopping;
    stopping.start();
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Finish(5000), 0);
    EXPECT_LT(stopping.elapsed(), 1000);
    ASSERT_FALSE(first.lines.empty());
    EXPECT_EQ(first.lines.back(), "stopped on SIGTERM");
    EXPECT_EQ(first.lines[first.lines.size() - 2],
              "error: " + Format(LoadStr(1052), "Socket send aborted"));

    // The lock went with it: the next scheduler starts, and SIGINT stops it as well.
    HeadlessProcess again(server);
    EXPECT_NE(again.WaitForPrefix("next run:"), "");
    again.Signal(SIGINT);
    EXPECT_EQ(again.Finish(5000), 0);
    EXPECT_EQ(again.lines.back(), "stopped on SIGINT");
}

// Only IPv4 addresses and host names are served: an IPv6 address is a clear usage error, not
// a host ":" on port 1; and an option with a value counts once.
TEST_F(Headless, Ipv6AddressesAndRepeatedOptionsAreUsageErrors) {
    struct Case {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{"--query", "::1"}, "'::1' is an IPv6 address: only IPv4 addresses and host names"},
        {{"--query", "[::1]:13"}, "'[::1]:13' is an IPv6 address"},
        {{"--sync-now", "--server", "fe80::1"}, "'fe80::1' is an IPv6 address"},
        {{"--headless", "--server=[::1]"}, "'[::1]' is an IPv6 address"},
        {{"--query", "127.0.0.1", "--query", "127.0.0.2"}, "option '--query' given twice"},
        {{"--query", "a", "--timeout", "5", "--timeout=6"}, "option '--timeout' given twice"},
        {{"--sync-now", "--server", "a", "--server", "a"}, "option '--server' given twice"},
    };
    for (const Case& c : cases) {
        const auto run = RunProgram("kairelon", c.args);
        EXPECT_EQ(run.exitCode, 64) << c.args.join(' ').toStdString();
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    const auto help = RunProgram("kairelon", {"--help"});
    EXPECT_NE(help.out.find("IPv6 addresses are not served"), std::string::npos) << help.out;
}

// A failed synchronisation is a protocol line on standard output; the error log takes only
// what escapes a run, and the help says so.
TEST_F(Headless, AFailedRunGoesToTheProtocolNotToTheErrorLog) {
    const auto run = RunProgram("kairelon", {"--sync-now", "--server", "127.0.0.1:1", "--dry-run"});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_EQ(Lines(run.out).back(), "error: " + LoadStr(1039));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(home.Path() + "/state/kairelon/error.log")));
    const auto help = RunProgram("kairelon", {"--help"});
    EXPECT_NE(help.out.find("failures included, is a protocol line on standard"), std::string::npos)
        << help.out;
    EXPECT_NE(help.out.find("a failure that escapes a run is appended to"), std::string::npos)
        << help.out;
}

// A hand-edited interval whose next run lies past the calendar's end must not end the
// scheduler, neither at the start nor when SIGHUP reads it again: the line says "none".
TEST_F(Headless, AnIntervalPastTheCalendarsEndIsNoneAtStartAndOnSighup) {
    WriteSettings(UserFile(), "\"SyncModus\"=dword:00000002\r\n\"Intervall\"=dword:09999999\r\n"
                              "\"Einheit\"=dword:00000002\r\n");
    HeadlessProcess scheduler({"--server", "127.0.0.1:1"});
    EXPECT_EQ(scheduler.WaitForPrefix("next run:"),
              "next run: none: \"Intervall\" holds 161061273 hours, so the next run would come "
              "after the calendar's end (31.12.9999)");
    WriteSettings(UserFile(), "\"SyncModus\"=dword:00000002\r\n\"Intervall\"=dword:002c7ea0\r\n"
                              "\"Einheit\"=dword:00000003\r\n");
    scheduler.Signal(SIGHUP);
    ASSERT_EQ(scheduler.WaitForPrefix("settings read again"), "settings read again (SIGHUP)");
    EXPECT_EQ(scheduler.WaitForPrefix("next run:"),
              "next run: none: \"Intervall\" holds 2916000 days, so the next run would come after "
              "the calendar's end (31.12.9999)");
    scheduler.Signal(SIGTERM);
    EXPECT_EQ(scheduler.Finish(5000), 0);
    EXPECT_EQ(scheduler.lines.back(), "stopped on SIGTERM");
}
