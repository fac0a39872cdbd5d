// kairelon's headless modes as programs: one dry-run synchronisation against
// kairelon-daytimed, the run without a configured server, the scheduler without a display
// stopped by a signal, and the command-line rules.
#include "support/DaytimeDaemon.h"
#include "support/TestSupport.h"

#include "framework/Format.h"
#include "framework/StringTable.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <signal.h>

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
                   R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.000 UTC to the clock-setting service)")))
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
