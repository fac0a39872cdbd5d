// The wake watcher against a mock login manager and a mock NetworkManager on a private bus:
// waking up and the return of full connectivity are reported, going to sleep and lesser
// connectivity are not, a change told twice is one report; and an engine whose scheduled run
// fell into the sleep starts exactly one run after the machine wakes and the network returns.
//
// The test starts its own dbus-daemon and python3-dbusmock with its login manager and
// NetworkManager templates, and skips itself where either is missing. The daytime server is a
// test server on 127.0.0.1; "now" and the clock are fakes.
#include "platform/WakeWatcher.h"

#include "support/EventLoop.h"
#include "support/LoopbackServer.h"
#include "support/PrivateBus.h"
#include "support/SyncEngineFixture.h"

#include "framework/StringTable.h"
#include "settings/SettingsTable.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace kairelon;
using namespace kairelon::test;

namespace {

const QString kMockIface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kNetwork = QStringLiteral("org.freedesktop.NetworkManager");
const QString kControl = QStringLiteral("wake-test-control");

// NetworkManager's global states and connectivity values used here.
constexpr uint kStateDisconnected = 20;
constexpr uint kStateConnectedGlobal = 70;
constexpr uint kConnectivityLimited = 3;
constexpr uint kConnectivityFull = 4;

QString Python() {
    return QFile::exists(QStringLiteral("/usr/bin/python3"))
               ? QStringLiteral("/usr/bin/python3")
               : QStandardPaths::findExecutable(QStringLiteral("python3"));
}

class MockSystemBus : public SyncEngineFixture {
protected:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon); the "
                            "wake watcher test cannot run";
        }
        if (Python().isEmpty() ||
            QProcess::execute(Python(),
                              {QStringLiteral("-c"), QStringLiteral("import dbusmock, gi")}) != 0) {
            GTEST_SKIP() << "python3-dbusmock is not installed (Debian package "
                            "python3-dbusmock); the wake watcher test cannot run";
        }
        ASSERT_TRUE(dir_.isValid());
        address_ = StartPrivateBus(bus_, daemon, dir_.path());
        ASSERT_FALSE(address_.isEmpty()) << "dbus-daemon did not start";
        control_ = QDBusConnection::connectToBus(address_, kControl);
        ASSERT_TRUE(control_.isConnected());
        StartMock(login_, QStringLiteral("logind"), kLogin);
        StartMock(network_, QStringLiteral("networkmanager"), kNetwork);
    }

    void TearDown() override {
        engine.reset();
        QDBusConnection::disconnectFromBus(kControl);
        StopProcess(login_);
        StopProcess(network_);
        StopProcess(bus_);
    }

    void StartMock(QProcess& mock, const QString& templateName, const QString& service) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
        mock.setProcessEnvironment(env);
        mock.setChildProcessModifier(EndWithParent);
        mock.setStandardOutputFile(QProcess::nullDevice());
        mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mock.start(Python(), {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                              QStringLiteral("--system"), QStringLiteral("-t"), templateName});
        ASSERT_TRUE(mock.waitForStarted(10000));
        const QDeadlineTimer deadline(20000);
        while (!control_.interface()->isServiceRegistered(service).value()) {
            ASSERT_FALSE(deadline.hasExpired()) << templateName.toStdString() << " did not appear";
            ASSERT_EQ(mock.state(), QProcess::Running) << templateName.toStdString() << " ended";
            QThread::msleep(50);
        }
    }

    void Call(const QString& service, const QString& path, const QString& method,
              const QVariantList& args) {
        QDBusMessage msg = QDBusMessage::createMethodCall(service, path, kMockIface, method);
        msg.setArguments(args);
        const QDBusMessage reply = control_.call(msg, QDBus::Block, 10000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method.toStdString() << ": " << reply.errorMessage().toStdString();
    }
    void PrepareForSleep(bool goingToSleep) {
        Call(kLogin, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("EmitSignal"),
             {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
              QStringLiteral("b"), QVariantList{QVariant::fromValue(QDBusVariant(goingToSleep))}});
    }
    void SetConnectivity(uint connectivity) {
        Call(kNetwork, QStringLiteral("/org/freedesktop"), QStringLiteral("SetConnectivity"),
             {connectivity});
    }
    void SetGlobalState(uint state) {
        Call(kNetwork, QStringLiteral("/org/freedesktop"),
             QStringLiteral("SetGlobalConnectionState"), {state});
    }

    WakeWatcherLoader BusLoader() {
        const std::string address = address_.toStdString();
        return [address](WakeListener listener) {
            return LoadSystemWakeWatcher(std::move(listener), WakeWatcherOptions{address});
        };
    }

    QTemporaryDir dir_;
    QProcess bus_;
    QProcess login_;
    QProcess network_;
    QString address_;
    QDBusConnection control_{QString()};
};

TEST_F(MockSystemBus, WakingUpAndFullConnectivityAreReportedOnce) {
    std::vector<WakeEvent> events;
    const std::unique_ptr<WakeWatcher> watcher =
        BusLoader()([&events](WakeEvent event) { events.push_back(event); });
    ASSERT_NE(watcher, nullptr);
    PumpFor(200); // the subscriptions reach the bus

    const struct {
        const char* what;
        std::function<void()> act;
        std::vector<WakeEvent> expected;
    } steps[] = {
        {"going to sleep", [this] { PrepareForSleep(true); }, {}},
        {"waking up", [this] { PrepareForSleep(false); }, {WakeEvent::Resumed}},
        {"limited connectivity", [this] { SetConnectivity(kConnectivityLimited); }, {}},
        {"full connectivity, told in two signals",
         [this] { SetConnectivity(kConnectivityFull); },
         {WakeEvent::NetworkReturned}},
        {"full connectivity again: no change", [this] { SetConnectivity(kConnectivityFull); }, {}},
        {"disconnected", [this] { SetGlobalState(kStateDisconnected); }, {}},
        {"connected globally, told in three signals",
         [this] { SetGlobalState(kStateConnectedGlobal); },
         {WakeEvent::NetworkReturned}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        events.clear();
        step.act();
        if (step.expected.empty()) {
            PumpFor(300);
        } else {
            PumpUntil([&] { return events.size() >= step.expected.size(); }, 5000);
            PumpFor(200); // a second report would come now
        }
        EXPECT_EQ(events, step.expected);
    }
}

TEST_F(MockSystemBus, AnEngineThatSleptOverItsFixedTimeRunsOnceAfterWakingAndReconnecting) {
    const std::string line = DaytimeLine(clock->GetSystemTime(), 0);
    LoopbackServer server(LoopbackServer::SendAndClose(line));
    Local().Write(settings::CurrentServer, "127.0.0.1:" + std::to_string(server.Port()));
    Local().Write(settings::SyncModus, 1);
    Local().Write(settings::Stunde, 12);
    Local().Write(settings::Minute, 30);
    Local().Write(settings::Wochentag, 0);
    wakeLoader = BusLoader();
    localNow = EncodeDateTime(2026, 1, 5, 8, 0, 0, 0);
    StartUp();
    ASSERT_NE(engine->Wake, nullptr);
    engine->tCatchUp.setInterval(500);
    localNow = EncodeDateTime(2026, 1, 5, 11, 0, 0, 0);
    engine->tGetTimeTimer();               // the last tick before the sleep
    SetConnectivity(kConnectivityLimited); // the network went with the sleep
    PumpFor(200);

    localNow = EncodeDateTime(2026, 1, 5, 15, 0, 0, 0);
    PrepareForSleep(false);
    PumpFor(100);
    SetConnectivity(kConnectivityFull);
    ASSERT_TRUE(PumpUntil([&] { return server.Accepted() > 0; }, 10000)) << "no run";
    PumpUntil([&] { return !engine->Busy; }, 10000);
    PumpFor(1000); // anything else owed would start now
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_EQ(clock->SetCalls().size(), 1u);
    const auto entries = host.Entries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "1|" + LoadStr(4190)), 1);
}

} // namespace
