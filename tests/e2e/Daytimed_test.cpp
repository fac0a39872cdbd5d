// kairelon-daytimed as a program: its help and usage errors, serving on a loopback port, the
// client's query against it, a port in use, and the orderly stop on SIGTERM and SIGINT.
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

namespace {

// A running kairelon-daytimed on 127.0.0.1 and a free port.
class Daemon {
public:
    explicit Daemon(QStringList extra = {}) {
        process_.start(QString::fromStdString(BuiltProgram("kairelon-daytimed")),
                       QStringList{"--bind", "127.0.0.1", "--port", "0"} + extra);
        if (process_.waitForStarted(10000) && process_.waitForReadyRead(10000)) {
            firstLine_ = process_.readLine().toStdString();
            const std::smatch m = Match(firstLine_);
            port_ = m.empty() ? 0 : std::stoi(m[1]);
        }
    }
    ~Daemon() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    int Port() const { return port_; }
    const std::string& FirstLine() const { return firstLine_; }
    // Sends the signal and returns the exit code (-1 when it did not end normally in time).
    int StopWith(int signalNumber, std::string* output) {
        ::kill(static_cast<pid_t>(process_.processId()), signalNumber);
        if (!process_.waitForFinished(10000) || process_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        *output = process_.readAllStandardOutput().toStdString();
        return process_.exitCode();
    }

private:
    static std::smatch Match(const std::string& line) {
        static const std::regex serving(R"(^kairelon-daytimed: serving on 127\.0\.0\.1:(\d+)\n$)");
        std::smatch m;
        std::regex_match(line, m, serving);
        return m;
    }

    QProcess process_;
    std::string firstLine_;
    int port_ = 0;
};

} // namespace

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
    const std::time_t before = std::time(nullptr);
    const std::string reply = FetchAll(daemon.Port());
    const std::time_t after = std::time(nullptr);
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
