// kairelon-daytimed as a program: its help and usage errors, serving on a loopback port, the
// client's query against it, a port in use, and the orderly stop on SIGTERM and SIGINT.
#include "support/DaytimeDaemon.h"
#include "support/RawClient.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <string>

using kairelon::test::BuiltProgram;
using kairelon::test::FetchAll;
using kairelon::test::RunProgram;

using Daemon = kairelon::test::DaytimeDaemon;

TEST(Daytimed, HelpAndWrongCommandLines) {
    const auto help = RunProgram("kairelon-daytimed", {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: kairelon-daytimed", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--port"), std::string::npos);
    EXPECT_NE(help.out.find("--bind"), std::string::npos);

    for (const QStringList& bad :
         {QStringList{"--port", "70000"}, QStringList{"--port", "x"}, QStringList{"--port"},
          QStringList{"--bind", "10.1"}, QStringList{"--frobnicate"}}) {
        const auto r = RunProgram("kairelon-daytimed", bad);
        EXPECT_EQ(r.exitCode, 64) << bad.join(' ').toStdString();
        EXPECT_NE(r.err.find("kairelon-daytimed: "), std::string::npos) << r.err;
    }
}

TEST(Daytimed, ServesTheCurrentUtcTimeInTheClientsColumns) {
    Daemon daemon;
    ASSERT_GT(daemon.Port(), 0) << daemon.FirstLine();
    // The same clock the daemon reads: time() may lag it by a tick around a second's change.
    const std::time_t before = std::chrono::system_clock::to_time_t(
        std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()));
    const std::string reply = FetchAll(daemon.Port());
    const std::time_t after = std::chrono::system_clock::to_time_t(
        std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()));
    ASSERT_EQ(reply.size(), 54u) << reply;
    char expectBefore[32], expectAfter[32];
    std::tm tm{};
    gmtime_r(&before, &tm);
    std::strftime(expectBefore, sizeof expectBefore, "%y-%m-%d %H:%M:%S", &tm);
    gmtime_r(&after, &tm);
    std::strftime(expectAfter, sizeof expectAfter, "%y-%m-%d %H:%M:%S", &tm);
    const std::string served = reply.substr(7, 17);
    EXPECT_TRUE(served >= expectBefore && served <= expectAfter)
        << served << " not within " << expectBefore << " .. " << expectAfter;
}

TEST(Daytimed, QueryOfTheClientAgainstItGivesDeviationZero) {
    Daemon daemon;
    ASSERT_GT(daemon.Port(), 0) << daemon.FirstLine();
    const auto query = RunProgram(
        "kairelon", {"--query", QString("127.0.0.1:%1").arg(daemon.Port()), "--timeout", "5000"});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_NE(query.out.find("deviation: 0\n"), std::string::npos) << query.out;
    EXPECT_NE(query.out.find("UTC(Kairelon)"), std::string::npos) << query.out;
}

TEST(Daytimed, APortInUseIsAClearError) {
    Daemon first;
    ASSERT_GT(first.Port(), 0) << first.FirstLine();
    const auto second = RunProgram(
        "kairelon-daytimed", {"--bind", "127.0.0.1", "--port", QString::number(first.Port())});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("in use"), std::string::npos) << second.err;
    EXPECT_FALSE(FetchAll(first.Port()).empty()) << "the first one still serves";
}

TEST(Daytimed, StopsInOrderOnSigtermAndSigint) {
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        Daemon daemon;
        ASSERT_GT(daemon.Port(), 0) << daemon.FirstLine();
        ASSERT_FALSE(FetchAll(daemon.Port()).empty());
        std::string output;
        EXPECT_EQ(daemon.StopWith(signalNumber, &output), 0) << "signal " << signalNumber;
        EXPECT_NE(output.find("stopping"), std::string::npos) << output;
        EXPECT_TRUE(FetchAll(daemon.Port(), 1000).empty()) << "no longer listening";
    }
}
