// `kairelon --query` against daytime servers made by the test on 127.0.0.1: the four lines
// and the server's health where its line has it, the deviation, the failures with their messages
// and exit codes, wrong usage, and that nothing is written.
#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

#include "daemons/DaytimeLine.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <regex>
#include <string>
#include <thread>

using kairelon::test::IsolatedHome;
using kairelon::test::LoopbackServer;
using kairelon::test::RefusedPort;
using kairelon::test::RunProgram;

namespace {

// The daytime line for "now + offsetSeconds", with the fixed columns the client reads.
std::string DaytimeLine(long offsetSeconds, std::string* iso = nullptr) {
    const std::time_t t = std::time(nullptr) + offsetSeconds;
    std::tm utc{};
    gmtime_r(&t, &utc);
    char line[128];
    std::snprintf(line, sizeof line,
                  "\n%05ld %02d-%02d-%02d %02d:%02d:%02d 00 0 0 512.1 UTC(KA) *\n",
                  static_cast<long>(t / 86400 + 40587), utc.tm_year % 100, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    if (iso != nullptr) {
        char text[80];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
        *iso = text;
    }
    return line;
}

QStringList Query(int port, const char* timeout = "3000") {
    return {"--query", QString("127.0.0.1:%1").arg(port), "--timeout", timeout};
}

int FilesBelow(const std::string& path) {
    int count = 0;
    QDirIterator it(QString::fromStdString(path), QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

} // namespace

TEST(QueryMode, PrintsReplyRemoteLocalAndDeviationAndWritesNothing) {
    IsolatedHome home;
    std::string iso;
    const std::string line = DaytimeLine(0, &iso);
    LoopbackServer server(LoopbackServer::SendAndClose(line));
    const auto result = RunProgram("kairelon", Query(server.Port()));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    std::string stripped = line.substr(1, line.size() - 2);
    const std::string expectedStart = "reply: " + stripped + "\nremote: " + iso + "\nlocal: ";
    EXPECT_EQ(result.out.rfind(expectedStart, 0), 0u) << result.out;
    const std::size_t local = result.out.find("local: ");
    ASSERT_NE(local, std::string::npos);
    const std::string all = result.out.substr(local);
    // "local: YYYY-MM-DDThh:mm:ssZ\ndeviation: 0\nhealth: 0\n", then the offset line (and a
    // note where another time service keeps this clock).
    const std::string rest = all.substr(0, all.find("offset: "));
    ASSERT_EQ(rest.size(),
              std::string("local: 2026-01-01T00:00:00Z\ndeviation: 0\nhealth: 0\n").size())
        << rest;
    EXPECT_EQ(rest.substr(rest.size() - 24), "\ndeviation: 0\nhealth: 0\n");
    EXPECT_TRUE(std::regex_search(all, std::regex(R"(\noffset: [+-]\d+\.\d{3} s \(round trip )"
                                                  R"(\d+\.\d ms\)\n)")))
        << all;
    EXPECT_EQ(rest[17], 'T');
    EXPECT_EQ(rest[26], 'Z');
    EXPECT_EQ(FilesBelow(home.Path()), 0) << "a query writes no setting and no log";
}

TEST(QueryMode, PrintsTheServersHealthOnlyWhereItsLineHasTheField) {
    const struct {
        std::string line;
        std::string healthLine; // empty: none expected
    } cases[] = {
        {DaytimeLine(0), "health: 0\n"},
        {DaytimeLine(0).replace(30, 1, "2"), "health: 2\n"},
        {DaytimeLine(0).replace(30, 1, "4"), "health: 4\n"},
        {DaytimeLine(0).substr(0, 24) + "\n", ""}, // date and time only
        {DaytimeLine(0).replace(30, 1, "12"), ""}, // no one-digit field there
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        LoopbackServer server(LoopbackServer::SendAndClose(c.line));
        const auto result = RunProgram("kairelon", Query(server.Port()));
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::size_t deviation = result.out.find("\ndeviation: ");
        ASSERT_NE(deviation, std::string::npos) << result.out;
        const std::size_t end = result.out.find('\n', deviation + 1);
        const std::size_t offset = result.out.find("offset: ");
        ASSERT_NE(offset, std::string::npos) << result.out;
        EXPECT_EQ(result.out.substr(end + 1, offset - end - 1), c.healthLine) << result.out;
    }
}

namespace {

// The offset a query prints, in milliseconds.
double OffsetMs(const std::string& out) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(R"(\noffset: ([+-]\d+\.\d{3}) s )"))) {
        return 1e9;
    }
    return std::stod(m[1].str()) * 1000.0;
}

} // namespace

// The server's clock is this machine's: the offset is what the estimate misses. A line that
// states the next whole second with the time until it, one that is sent a stated advance
// before the second it names, and one that states only the current second (its middle is the
// estimate, half a second off at worst).
TEST(QueryMode, TheOffsetToTheMillisecondAgainstServersOnThisMachinesClock) {
    using namespace std::chrono;
    LoopbackServer exact([](int fd, LoopbackServer&) {
        LoopbackServer::SendAll(fd, kairelon::DaytimeLine(system_clock::now()));
    });
    LoopbackServer advancing([](int fd, LoopbackServer&) {
        const auto advance = milliseconds(50);
        const auto second =
            ceil<seconds>((system_clock::now() + advance + milliseconds(2)).time_since_epoch());
        std::this_thread::sleep_until(system_clock::time_point(second) - advance);
        LoopbackServer::SendAll(fd, kairelon::DaytimeLine(second.count(), 500));
    });
    LoopbackServer wholeSecond([](int fd, LoopbackServer&) {
        const auto now = floor<seconds>(system_clock::now().time_since_epoch());
        LoopbackServer::SendAll(fd, kairelon::DaytimeLine(now.count(), 0));
    });
    const struct {
        LoopbackServer* server;
        double limitMs;
    } cases[] = {{&exact, 50.0}, {&advancing, 50.0}, {&wholeSecond, 525.0}};
    for (const auto& c : cases) {
        const auto result = RunProgram("kairelon", Query(c.server->Port()));
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_LT(std::fabs(OffsetMs(result.out)), c.limitMs) << result.out;
    }
}

TEST(QueryMode, TheDeviationIsInWholeMinutesWhicheverSideIsAhead) {
    LoopbackServer behind(LoopbackServer::SendAndClose(DaytimeLine(-5 * 60 - 20)));
    const auto a = RunProgram("kairelon", Query(behind.Port()));
    ASSERT_EQ(a.exitCode, 0) << a.err;
    EXPECT_NE(a.out.find("\ndeviation: 5\n"), std::string::npos) << a.out;

    LoopbackServer ahead(LoopbackServer::SendAndClose(DaytimeLine(3 * 3600 + 30)));
    const auto b = RunProgram("kairelon", Query(ahead.Port()));
    ASSERT_EQ(b.exitCode, 0) << b.err;
    EXPECT_NE(b.out.find("\ndeviation: 180\n"), std::string::npos) << b.out;
}

TEST(QueryMode, FailuresGoToStandardErrorWithExitStatus2) {
    LoopbackServer garbage(LoopbackServer::SendAndClose("Tue Dec  8 20:13:43 2026\r\n"));
    const auto bad = RunProgram("kairelon", Query(garbage.Port()));
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "error: NTPtoDateTime() failed\n");

    LoopbackServer empty(LoopbackServer::CloseAtOnce());
    const auto none = RunProgram("kairelon", Query(empty.Port()));
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_EQ(none.err, "error: NTPtoDateTime() failed\n");

    RefusedPort refused;
    QElapsedTimer clock;
    clock.start();
    const auto refusedRun = RunProgram("kairelon", Query(refused.Port(), "20000"));
    EXPECT_EQ(refusedRun.exitCode, 2);
    EXPECT_EQ(refusedRun.err, "error: 10061:Connection refused\n") << "said at once, as refused";
    EXPECT_LT(clock.elapsed(), 10000) << "not after the time-out";

    LoopbackServer silent(LoopbackServer::NeverSend());
    const auto silentRun = RunProgram("kairelon", Query(silent.Port(), "300"), 10000);
    EXPECT_EQ(silentRun.exitCode, 2) << "a silent server must not hang the program";
    EXPECT_EQ(silentRun.err, "error: Socket send aborted\n");
}

TEST(QueryMode, WrongUsageIsRefusedWithExitStatus64) {
    for (const QStringList& args :
         {QStringList{"--query"}, QStringList{"--query", "127.0.0.1:0"},
          QStringList{"--query", "127.0.0.1:65536"}, QStringList{"--query", "127.0.0.1:x"},
          QStringList{"--query", ":13"}, QStringList{"--query", "127.0.0.1", "--timeout", "0"},
          QStringList{"--query", "127.0.0.1", "--timeout", "ten"},
          QStringList{"--query", "127.0.0.1", "--timeout"}, QStringList{"--timeout", "100"}}) {
        const auto result = RunProgram("kairelon", args);
        EXPECT_EQ(result.exitCode, 64) << args.join(' ').toStdString();
        EXPECT_NE(result.err.find("Try 'kairelon --help'"), std::string::npos) << result.err;
    }
    const auto help = RunProgram("kairelon", {"--help"});
    EXPECT_NE(help.out.find("--query HOST[:PORT]"), std::string::npos);
    EXPECT_NE(help.out.find("--timeout MS"), std::string::npos);
}

TEST(QueryMode, OptionValuesMayFollowAnEqualsSign) {
    LoopbackServer server(LoopbackServer::SendAndClose(DaytimeLine(0)));
    const auto result = RunProgram(
        "kairelon", {QString("--query=127.0.0.1:%1").arg(server.Port()), "--timeout=2000"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
}
