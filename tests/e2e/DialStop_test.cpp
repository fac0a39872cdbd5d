// A stop (SIGTERM) while `kairelon --sync-now` or a run of `kairelon --headless` dials, or
// waits for the server after dialling: the program ends at once and leaves no line up that it
// brought up. The dial-up layer is a
// mock NetworkManager (python3-dbusmock with tests/dialup/nm_dialup_mock.py) on a private bus;
// the test skips itself where either is missing.
#include "support/LoopbackServer.h"
#include "support/PrivateBus.h"
#include "support/TestSupport.h"

#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/RasLayer.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

#include <sstream>

using namespace kairelon;
using namespace kairelon::test;

namespace {

using NMSettings = QMap<QString, QVariantMap>;

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");

class DialStop : public ::testing::Test {
protected:
    void SetUp() override {
        qDBusRegisterMetaType<NMSettings>();
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        // The system's interpreter, where the Debian package puts dbusmock.
        const QString python = QFile::exists(QStringLiteral("/usr/bin/python3"))
                                   ? QStringLiteral("/usr/bin/python3")
                                   : QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (daemon.isEmpty() || python.isEmpty() ||
            QProcess::execute(python,
                              {QStringLiteral("-c"), QStringLiteral("import dbusmock, gi")}) != 0) {
            GTEST_SKIP() << "dbus-daemon or python3-dbusmock is not installed; the dial-up stop "
                            "test cannot run";
        }
        ASSERT_TRUE(dir_.isValid());
        address_ = StartPrivateBus(bus_, daemon, dir_.path());
        ASSERT_FALSE(address_.isEmpty()) << "dbus-daemon did not start";
        control_ = QDBusConnection::connectToBus(address_, QStringLiteral("dial-stop-control"));
        ASSERT_TRUE(control_.isConnected());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
        mock_.setProcessEnvironment(env);
        mock_.setChildProcessModifier(EndWithParent);
        mock_.setStandardOutputFile(QProcess::nullDevice());
        mock_.start(python,
                    {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                     QStringLiteral("-t"),
                     QStringLiteral(KAIRELON_SOURCE_DIR "/tests/dialup/nm_dialup_mock.py")});
        ASSERT_TRUE(mock_.waitForStarted(10000));
        const QDeadlineTimer deadline(20000);
        while (!control_.interface()->isServiceRegistered(kService).value()) {
            ASSERT_FALSE(deadline.hasExpired()) << "the mock NetworkManager did not appear";
            QThread::msleep(50);
        }
    }

    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("dial-stop-control"));
        StopProcess(mock_);
        StopProcess(bus_);
    }

    QDBusMessage Call(const QString& path, const QString& iface, const QString& method,
                      const QVariantList& args = {}) {
        QDBusMessage msg = QDBusMessage::createMethodCall(kService, path, iface, method);
        msg.setArguments(args);
        QDBusMessage reply = control_.call(msg, QDBus::Block, 10000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method.toStdString();
        return reply;
    }

    void AddProfile(const QString& id, const QString& outcome) {
        NMSettings settings;
        settings[QStringLiteral("connection")] = {
            {QStringLiteral("id"), id}, {QStringLiteral("type"), QStringLiteral("pppoe")}};
        Call(QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
             QStringLiteral("org.freedesktop.NetworkManager.Settings"),
             QStringLiteral("AddConnection"), {QVariant::fromValue(settings)});
        Call(QStringLiteral("/org/freedesktop"), QStringLiteral("org.freedesktop.DBus.Mock"),
             QStringLiteral("SetDialOutcome"), {id, outcome, 0u, 0u, QString()});
    }

    int ActiveConnections() {
        const QDBusMessage reply =
            Call(QStringLiteral("/org/freedesktop/NetworkManager"),
                 QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                 {kService, QStringLiteral("ActiveConnections")});
        const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
        return static_cast<int>(
            qdbus_cast<QList<QDBusObjectPath>>(value.value<QDBusArgument>()).size());
    }

    void WriteSettings(const std::string& values) {
        QSaveFile file(QString::fromStdString(home_.RegistryDir() + "/user.reg"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel]\r\n" +
            values));
        ASSERT_TRUE(file.commit());
    }

    IsolatedHome home_;
    QTemporaryDir dir_;
    QProcess bus_;
    QProcess mock_;
    QString address_;
    QDBusConnection control_{QString()};
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST_F(DialStop, SigtermDuringTheDialOrAfterItEndsAtOnceAndLeavesNoLineUp) {
    LoopbackServer silent(LoopbackServer::NeverSend());
    const std::string server = "127.0.0.1:" + std::to_string(silent.Port());
    const std::vector<std::string> stoppedDial = {"error: " + LoadStr(1027),
                                                  "error: " + LoadStr(1024) + " " +
                                                      RasErrorText(ERROR_USER_DISCONNECTION)};
    const struct {
        const char* what;
        const char* mode;    // --sync-now, or --headless with a run every minute
        const char* outcome; // of the profile's activation
        // The last lines before "stopped on SIGTERM", after the stop.
        std::vector<std::string> tail;
        int exitCode;
    } cases[] = {
        {"--sync-now, the activation hangs", "--sync-now", "hang", stoppedDial, 2},
        {"--sync-now, dialled, waiting for the server",
         "--sync-now",
         "ok",
         {"info: " + LoadStr(1028), "error: " + Format(LoadStr(1052), "Socket send aborted")},
         2},
        // The scheduler's first run comes after a minute of running time.
        {"--headless, the activation hangs", "--headless", "hang", stoppedDial, 0},
    };
    QStringList profiles;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString profile = QString::fromLatin1(c.outcome);
        if (!profiles.contains(profile)) {
            AddProfile(profile, profile);
            profiles << profile;
        }
        WriteSettings("\"ConnectRAS\"=dword:00000001\r\n\"RASConnection\"=\"" +
                      std::string(c.outcome) +
                      "\"\r\n\"Timeout\"=dword:0000ea60\r\n\"SyncModus\"=dword:00000002\r\n"
                      "\"Intervall\"=dword:00000001\r\n\"Einheit\"=dword:00000001\r\n");
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KAIRELON_DIALUP_BUS"), address_);
        program.setProcessEnvironment(env);
        program.setChildProcessModifier(EndWithParent);
        program.start(QString::fromStdString(BuiltProgram("kairelon")),
                      {c.mode, "--dry-run", "--server", QString::fromStdString(server)});
        ASSERT_TRUE(program.waitForStarted(10000));
        // The activation has started; with "ok" the run then waits for the silent server.
        const QDeadlineTimer started(90000);
        while (ActiveConnections() == 0 || (*c.outcome == 'o' && silent.Accepted() == 0)) {
            ASSERT_FALSE(started.hasExpired()) << program.readAllStandardOutput().toStdString();
            QThread::msleep(50);
        }
        QElapsedTimer stopping;
        stopping.start();
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_LT(stopping.elapsed(), 3000);
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), c.exitCode);
        const std::vector<std::string> lines = Lines(program.readAllStandardOutput().toStdString());
        ASSERT_GE(lines.size(), c.tail.size() + 1);
        EXPECT_EQ(std::vector<std::string>(lines.end() - 1 - static_cast<long>(c.tail.size()),
                                           lines.end() - 1),
                  c.tail);
        EXPECT_EQ(lines.back(), "stopped on SIGTERM");
        EXPECT_EQ(ActiveConnections(), 0) << "the line stays up after the program ended";
    }
}
