// kairelon-daytimed as a program: its help and usage errors, serving on a loopback port, the
// client's query against it, a port in use, and the orderly stop on SIGTERM and SIGINT.
#include "support/DaytimeDaemon.h"
#include "support/RawClient.h"
#include "support/TestSupport.h"

#include "daemons/DaytimeServer.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

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
          QStringList{"--bind", "10.1"}, QStringList{"--user"}, QStringList{"--user="},
          QStringList{"--frobnicate"}}) {
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
    // The line states the next whole second after the daemon's reading, and how long before
    // it the line left.
    const std::time_t after =
        std::chrono::system_clock::to_time_t(
            std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())) +
        1;
    ASSERT_EQ(reply.size(), 54u) << reply;
    const std::string advance = reply.substr(32, 5);
    EXPECT_TRUE(std::regex_match(advance, std::regex(R"([ \d]{2}\d\.\d)"))) << reply;
    EXPECT_NE(advance, "  0.0") << "a stated advance is never 0.0";
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

namespace {

// The "Uid:" or "Gid:" line of /proc/PID/status: real, effective, saved and file-system id.
std::string IdsOf(qint64 pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return line;
        }
    }
    return "";
}

} // namespace

TEST(Daytimed, StartedAsRootItServesAsTheNamedUserWithNoWayBack) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: checks that a daemon started as root gives it up";
    }
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr) << "this check needs the user nobody";
    const std::string uid = std::to_string(nobody->pw_uid);
    const std::string gid = std::to_string(nobody->pw_gid);

    QProcess daemon;
    daemon.start(QString::fromStdString(BuiltProgram("kairelon-daytimed")),
                 {"--bind", "127.0.0.1", "--port", "0", "--user", "nobody"});
    ASSERT_TRUE(daemon.waitForStarted(10000));
    std::string lines;
    while (std::count(lines.begin(), lines.end(), '\n') < 2 && daemon.waitForReadyRead(10000)) {
        lines += daemon.readAllStandardOutput().toStdString();
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        lines, m,
        std::regex(
            R"(^kairelon-daytimed: serving on 127\.0\.0\.1:(\d+)\n)"
            R"(kairelon-daytimed: gave up root, running as user nobody \(uid (\d+), gid (\d+)\)\n$)")))
        << lines;
    EXPECT_EQ(m[2], uid);
    EXPECT_EQ(m[3], gid);
    const std::string all = "\t" + uid + "\t" + uid + "\t" + uid + "\t" + uid;
    EXPECT_EQ(IdsOf(daemon.processId(), "Uid"), "Uid:" + all);
    EXPECT_EQ(IdsOf(daemon.processId(), "Gid"),
              "Gid:\t" + gid + "\t" + gid + "\t" + gid + "\t" + gid);
    EXPECT_EQ(FetchAll(std::stoi(m[1])).size(), 54u) << "it still serves";
    ::kill(static_cast<pid_t>(daemon.processId()), SIGTERM);
    ASSERT_TRUE(daemon.waitForFinished(10000));
    EXPECT_EQ(daemon.exitCode(), 0);
}

TEST(Daytimed, StartedAsRootWithAUserThatCannotBeUsedItStopsBeforeServing) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: as any other user the name is not used";
    }
    for (const QString user : {"kairelon-no-such-user", "root"}) {
        const auto r =
            RunProgram("kairelon-daytimed", {"--bind", "127.0.0.1", "--port", "0", "--user", user});
        EXPECT_EQ(r.exitCode, 1) << user.toStdString();
        EXPECT_NE(r.err.find("cannot give up root"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("serving on"), std::string::npos) << r.out;
    }
}

namespace {

// kairelon-daytimed on a loopback port with the descriptor limit set to (soft, hard) before it
// starts, as a service manager or a shell's ulimit would leave it.
class LimitedDaemon {
public:
    LimitedDaemon(rlim_t soft, rlim_t hard) {
        process_.setChildProcessModifier([soft, hard] {
            const rlimit limit{soft, hard};
            setrlimit(RLIMIT_NOFILE, &limit);
        });
        process_.start(QString::fromStdString(BuiltProgram("kairelon-daytimed")),
                       {"--bind", "127.0.0.1", "--port", "0"});
        if (process_.waitForStarted(10000) && process_.waitForReadyRead(10000)) {
            const std::string line = process_.readLine().toStdString();
            std::smatch m;
            if (std::regex_search(line, m, std::regex(R"(127\.0\.0\.1:(\d+))"))) {
                port = std::stoi(m[1]);
            }
        }
    }
    ~LimitedDaemon() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    // The "Max open files" line of /proc/PID/limits.
    std::string OpenFilesLimit() const {
        std::ifstream limits("/proc/" + std::to_string(process_.processId()) + "/limits");
        for (std::string line; std::getline(limits, line);) {
            if (line.rfind("Max open files", 0) == 0) {
                return line;
            }
        }
        return "";
    }
    bool Running() const { return process_.state() == QProcess::Running; }
    int Stop() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(10000)) {
            return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode()
                                                             : 128 + process_.exitCode();
    }

    int port = 0;

private:
    QProcess process_;
};

} // namespace

// A burst of clients under a low descriptor limit: the daemon raises the soft limit to the hard
// one, serves no more at once than its descriptors allow, and lets a failed accept rest a
// moment; it neither aborts nor stops answering.
TEST(Daytimed, ABurstUnderALowDescriptorLimitIsServedAndTheDaemonLives) {
    {
        LimitedDaemon raised(40, 4096);
        ASSERT_GT(raised.port, 0);
        EXPECT_TRUE(std::regex_search(raised.OpenFilesLimit(), std::regex(R"(\s4096\s+4096\s)")))
            << raised.OpenFilesLimit();
    }
    for (const rlim_t limit : {rlim_t{24}, rlim_t{40}, rlim_t{64}}) {
        LimitedDaemon daemon(limit, limit);
        ASSERT_GT(daemon.port, 0) << "limit " << limit;
        // All connected before any is read, so they are served at the same time.
        constexpr int kClients = 200;
        std::vector<int> clients;
        for (int i = 0; i < kClients; ++i) {
            const int fd = kairelon::test::ConnectLoopback(daemon.port, 10000);
            if (fd < 0) {
                break;
            }
            clients.push_back(fd);
        }
        int served = 0;
        for (const int fd : clients) {
            served +=
                kairelon::test::ReadUntilClosed(fd).find("UTC(Kairelon)") != std::string::npos;
            ::close(fd);
        }
        EXPECT_EQ(static_cast<int>(clients.size()), kClients) << "limit " << limit;
        EXPECT_EQ(served, kClients) << "limit " << limit;
        ASSERT_TRUE(daemon.Running()) << "limit " << limit;
        EXPECT_NE(FetchAll(daemon.port).find("UTC(Kairelon)"), std::string::npos)
            << "answers afterwards, limit " << limit;
        EXPECT_EQ(daemon.Stop(), 0) << "limit " << limit;
    }
}

TEST(Daytimed, ConnectionsKeepWithinTheDescriptors) {
    using kairelon::ConnectionsWithin;
    EXPECT_EQ(ConnectionsWithin(-1), 0); // unknown: no limit of its own
    EXPECT_EQ(ConnectionsWithin(10), 1);
    EXPECT_EQ(ConnectionsWithin(40), 2);
    EXPECT_EQ(ConnectionsWithin(1L << 20), 4096);
}
