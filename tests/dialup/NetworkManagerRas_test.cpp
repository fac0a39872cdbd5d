// The NetworkManager dial-up layer against a mock NetworkManager on a private bus: profiles
// listed, an active connection found, a profile activated and deactivated, failure reasons
// turned into dial-up error numbers, credentials handed over for one dial only.
//
// The test starts its own dbus-daemon and python3-dbusmock with the NetworkManager template
// (extended by nm_dialup_mock.py beside this file), and skips itself where either is missing.
#include "dialup/DialUp.h"
#include "dialup/RasApi.h"
#include "framework/StringTable.h"
#include "support/PrivateBus.h"

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
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kairelon;

namespace {

using NMSettings = QMap<QString, QVariantMap>;
using Entries = std::vector<std::pair<std::string, int>>;

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kMockIface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kMainObj = QStringLiteral("/org/freedesktop");

QString Python() {
    return QFile::exists(QStringLiteral("/usr/bin/python3"))
               ? QStringLiteral("/usr/bin/python3")
               : QStandardPaths::findExecutable(QStringLiteral("python3"));
}

class MockNetworkManager : public ::testing::Test {
protected:
    void SetUp() override {
        qDBusRegisterMetaType<NMSettings>();
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon); the "
                            "mock NetworkManager test cannot run";
        }
        const QString python = Python();
        if (python.isEmpty() ||
            QProcess::execute(python,
                              {QStringLiteral("-c"), QStringLiteral("import dbusmock, gi")}) != 0) {
            GTEST_SKIP() << "python3-dbusmock is not installed (Debian package "
                            "python3-dbusmock); the mock NetworkManager test cannot run";
        }
        ASSERT_TRUE(dir.isValid());
        address = test::StartPrivateBus(bus, daemon, dir.path());
        ASSERT_FALSE(address.isEmpty()) << "dbus-daemon did not start";
        control = QDBusConnection::connectToBus(address, QStringLiteral("nm-test-control"));
        ASSERT_TRUE(control.isConnected());
        options.busAddress = address.toStdString();
        options.dialTimeoutMs = 5000;
        options.callTimeoutMs = 5000;
    }

    void StartMock() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        mock.setProcessEnvironment(env);
        mock.setChildProcessModifier(test::EndWithParent);
        mock.setStandardOutputFile(QProcess::nullDevice());
        mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mock.start(Python(),
                   {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                    QStringLiteral("-t"),
                    QStringLiteral(KAIRELON_SOURCE_DIR "/tests/dialup/nm_dialup_mock.py")});
        ASSERT_TRUE(mock.waitForStarted(10000));
        const QDeadlineTimer deadline(20000);
        while (!control.interface()->isServiceRegistered(kService).value()) {
            ASSERT_FALSE(deadline.hasExpired()) << "the mock NetworkManager did not appear";
            ASSERT_EQ(mock.state(), QProcess::Running) << "the mock NetworkManager ended";
            QThread::msleep(50);
        }
    }

    void TearDown() override {
        api.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("nm-test-control"));
        test::StopProcess(mock);
        test::StopProcess(bus);
    }

    QDBusMessage Call(const QString& path, const QString& iface, const QString& method,
                      const QVariantList& args = {}) {
        QDBusMessage msg = QDBusMessage::createMethodCall(kService, path, iface, method);
        msg.setArguments(args);
        QDBusMessage reply = control.call(msg, QDBus::Block, 10000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method.toStdString() << ": " << reply.errorMessage().toStdString();
        return reply;
    }

    QString AddProfile(const QString& id, const QString& type = QStringLiteral("pppoe")) {
        NMSettings settings;
        settings[QStringLiteral("connection")] = {{QStringLiteral("id"), id},
                                                  {QStringLiteral("type"), type}};
        settings[type] = {{QStringLiteral("username"), QStringLiteral("stored-user")}};
        const QDBusMessage reply =
            Call(QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
                 QStringLiteral("org.freedesktop.NetworkManager.Settings"),
                 QStringLiteral("AddConnection"), {QVariant::fromValue(settings)});
        return reply.arguments().value(0).value<QDBusObjectPath>().path();
    }

    void SetOutcome(const QString& id, const QString& kind, uint acReason = 0,
                    uint deviceReason = 0, const QString& password = {}) {
        Call(kMainObj, kMockIface, QStringLiteral("SetDialOutcome"),
             {id, kind, acReason, deviceReason, password});
    }

    QStringList ActiveConnections() {
        const QDBusMessage reply =
            Call(QStringLiteral("/org/freedesktop/NetworkManager"),
                 QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                 {QStringLiteral("org.freedesktop.NetworkManager"),
                  QStringLiteral("ActiveConnections")});
        const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
        QStringList paths;
        for (const QDBusObjectPath& p :
             qdbus_cast<QList<QDBusObjectPath>>(value.value<QDBusArgument>())) {
            paths << p.path();
        }
        return paths;
    }

    // The flags of every Update2 call on a profile, in order.
    std::vector<uint> Update2FlagsOn(const QString& path) {
        const QDBusMessage reply =
            Call(path, kMockIface, QStringLiteral("GetMethodCalls"), {QStringLiteral("Update2")});
        std::vector<uint> flags;
        const QDBusArgument arg = reply.arguments().value(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            qulonglong time = 0;
            QVariantList args;
            arg.beginStructure();
            arg >> time >> args;
            arg.endStructure();
            flags.push_back(args.value(1).toUInt());
        }
        arg.endArray();
        return flags;
    }

    // Waits until no activation is left; false when one stays for `ms` milliseconds.
    bool NoActivationWithin(int ms) {
        const QDeadlineTimer deadline(ms);
        while (!ActiveConnections().isEmpty()) {
            if (deadline.hasExpired()) {
                return false;
            }
            QThread::msleep(50);
        }
        return true;
    }

    // Names of the methods called on a mock object, in order.
    QStringList CallsOn(const QString& path) {
        const QDBusMessage reply = Call(path, kMockIface, QStringLiteral("GetCalls"));
        QStringList names;
        const QDBusArgument arg = reply.arguments().value(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            qulonglong time = 0;
            QString name;
            QVariantList args;
            arg.beginStructure();
            arg >> time >> name >> args;
            arg.endStructure();
            names << name;
        }
        arg.endArray();
        return names;
    }

    void Bind() {
        InitializeRasApi(api, available, Sink(), [this] { return LoadSystemRasLayer(options); });
    }

    bool Connect(const std::string& name, const std::string& user = {},
                 const std::string& password = {}) {
        protocol.clear();
        errorText.clear();
        return RasConnect(*api, Sink(), name, user, errorText, handle, dialledByUs, password);
    }

    ProtocolSink Sink() {
        return [this](const std::string& text, int kind) { protocol.emplace_back(text, kind); };
    }

    QTemporaryDir dir;
    QProcess bus;
    QProcess mock;
    QString address;
    QDBusConnection control{QString()};
    RasLayerOptions options;

    std::unique_ptr<CRasApi> api;
    bool available = false;
    Entries protocol;
    std::string errorText;
    HRASCONN handle = 0;
    bool dialledByUs = false;
};

} // namespace

TEST_F(MockNetworkManager, WithoutTheServiceTheLayerIsMissing) {
    Bind(); // the bus is there, NetworkManager is not
    EXPECT_FALSE(available);
    EXPECT_EQ(protocol, (Entries{{LoadStr(1070), ekWarning}}));
}

TEST_F(MockNetworkManager, ProfilesAreListedAndAnActiveConnectionIsFound) {
    StartMock();
    const QString provider = AddProfile(QStringLiteral("Provider"));
    AddProfile(QStringLiteral("Büro VPN"), QStringLiteral("vpn"));
    for (int i = 0; i < 3; ++i) {
        AddProfile(QStringLiteral("Modem %1").arg(i), QStringLiteral("gsm"));
    }
    Bind();
    ASSERT_TRUE(available);
    EXPECT_EQ(protocol, (Entries{{LoadStr(1071), ekInformation}, {LoadStr(1072), ekInformation}}));

    std::vector<std::string> items;
    EXPECT_EQ(FillRasEntries(*api, items), 5);
    EXPECT_EQ(items,
              (std::vector<std::string>{"Provider", "Büro VPN", "Modem 0", "Modem 1", "Modem 2"}));

    EXPECT_FALSE(IsRasConnected(*api, "Provider"));
    Call(kMainObj, kMockIface, QStringLiteral("AddActiveConnection"),
         {QStringList(), provider, QStringLiteral("/"), QStringLiteral("byhand"), 2u});
    EXPECT_TRUE(IsRasConnected(*api, "Provider"));
    EXPECT_FALSE(IsRasConnected(*api, "provider"));

    // Connected by hand: no dial, and so nothing to hang up.
    EXPECT_TRUE(Connect("Provider"));
    EXPECT_EQ(protocol, (Entries{{LoadStr(1025), ekInformation}}));
    EXPECT_FALSE(dialledByUs);
    EXPECT_EQ(ActiveConnections().size(), 1);
}

TEST_F(MockNetworkManager, ADialActivatesTheProfileAndTheHangUpDeactivatesIt) {
    StartMock();
    const QString profile = AddProfile(QStringLiteral("Provider"));
    Bind();
    ASSERT_TRUE(available);

    // The dial blocks without handling this thread's events.
    bool timerFired = false;
    QTimer::singleShot(0, [&] { timerFired = true; });
    EXPECT_TRUE(Connect("Provider"));
    EXPECT_FALSE(timerFired);
    EXPECT_EQ(protocol, (Entries{{LoadStr(1026), ekInformation}}));
    EXPECT_TRUE(dialledByUs);
    EXPECT_NE(handle, 0u);

    const QStringList active = ActiveConnections();
    ASSERT_EQ(active.size(), 1);
    const QDBusMessage conn = Call(
        active.first(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
        {QStringLiteral("org.freedesktop.NetworkManager.Connection.Active"),
         QStringLiteral("Connection")});
    EXPECT_EQ(
        conn.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path(),
        profile);
    EXPECT_TRUE(IsRasConnected(*api, "Provider"));
    EXPECT_TRUE(CallsOn(QStringLiteral("/org/freedesktop/NetworkManager/AgentManager")).isEmpty())
        << "no credentials, no secret agent";

    protocol.clear();
    HangUpDialledConnection(api.get(), available, dialledByUs, handle, Sink());
    EXPECT_EQ(protocol, (Entries{{LoadStr(1028), ekInformation}}));
    EXPECT_TRUE(ActiveConnections().isEmpty());
    EXPECT_FALSE(IsRasConnected(*api, "Provider"));
    EXPECT_EQ(api->RasHangUp(handle), ERROR_INVALID_HANDLE) << "the handle is spent";
}

TEST_F(MockNetworkManager, ANameWithoutProfileIsADialErrorOfItsOwn) {
    StartMock();
    AddProfile(QStringLiteral("Provider"));
    Bind();
    EXPECT_FALSE(Connect("Nowhere"));
    EXPECT_EQ(errorText, RasErrorText(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
    EXPECT_EQ(protocol, (Entries{{LoadStr(1027), ekError}}));
    EXPECT_FALSE(Connect(""));
    EXPECT_EQ(errorText, RasErrorText(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
    EXPECT_TRUE(ActiveConnections().isEmpty());
}

TEST_F(MockNetworkManager, FailureReasonsBecomeDialUpErrorNumbers) {
    StartMock();
    struct Case {
        const char* name;
        const char* kind;
        uint acReason;
        uint deviceReason;
        DWORD expected;
    };
    const Case cases[] = {
        {"Login", "fail", 10, 0, ERROR_AUTHENTICATION_FAILURE},
        {"Busy", "fail", 3, 23, ERROR_LINE_BUSY},
        {"Carrier", "fail", 3, 25, ERROR_NO_CARRIER},
        {"Ppp", "fail", 3, 14, ERROR_PPP_LCP_TERMINATED},
        {"Timeout", "fail", 6, 0, ERROR_REQUEST_TIMEOUT},
        {"Unknown", "fail", 0, 0, ERROR_PORT_NOT_CONNECTED},
        {"Vanish", "vanish", 0, 0, ERROR_PORT_NOT_CONNECTED},
        {"NoDevice", "fail", 14, 0, ERROR_DEVICE_DOES_NOT_EXIST},
    };
    for (const Case& c : cases) {
        AddProfile(QString::fromLatin1(c.name));
        SetOutcome(QString::fromLatin1(c.name), QString::fromLatin1(c.kind), c.acReason,
                   c.deviceReason);
    }
    Bind();
    ASSERT_TRUE(available);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(Connect(c.name));
        EXPECT_EQ(errorText, RasErrorText(c.expected));
        EXPECT_FALSE(dialledByUs);
        EXPECT_EQ(handle, 0u);
        EXPECT_EQ(protocol, (Entries{{LoadStr(1027), ekError}}));
    }
}

TEST_F(MockNetworkManager, AnActivationThatNeverEndsIsCalledOffAfterTheTimeOut) {
    StartMock();
    AddProfile(QStringLiteral("Slow"));
    SetOutcome(QStringLiteral("Slow"), QStringLiteral("hang"));
    options.dialTimeoutMs = 1000;
    Bind();
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(Connect("Slow"));
    EXPECT_LT(elapsed.elapsed(), 10000);
    EXPECT_GE(elapsed.elapsed(), 900);
    EXPECT_EQ(errorText, RasErrorText(ERROR_REQUEST_TIMEOUT));
    EXPECT_TRUE(ActiveConnections().isEmpty()) << "the attempt was deactivated";
}

TEST_F(MockNetworkManager, CredentialsReachTheServiceOnlyForThatDial) {
    StartMock();
    const QString profile = AddProfile(QStringLiteral("DSL"));
    SetOutcome(QStringLiteral("DSL"), QStringLiteral("secrets"), 0, 0, QStringLiteral("geheim"));
    Bind();
    ASSERT_TRUE(available);

    EXPECT_TRUE(Connect("DSL", "alice", "geheim"));
    EXPECT_TRUE(dialledByUs);
    // The service took the password from the agent and the user name from the profile.
    const QDBusMessage received = Call(kMainObj, kMockIface, QStringLiteral("GetReceivedSecrets"));
    EXPECT_EQ(received.arguments().value(0).toStringList(),
              QStringList{QStringLiteral("pppoe password=geheim username=alice")});
    EXPECT_EQ(CallsOn(QStringLiteral("/org/freedesktop/NetworkManager/AgentManager")),
              (QStringList{QStringLiteral("Register"), QStringLiteral("Unregister")}));
    // The user name was a change in memory, undone after the dial; nothing went to disk.
    EXPECT_EQ(Update2FlagsOn(profile), (std::vector<uint>{2u, 2u}));

    // The profile itself is as it was: no password, its own user name.
    const QDBusMessage settings =
        Call(profile, QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection"),
             QStringLiteral("GetSettings"));
    const NMSettings map = qdbus_cast<NMSettings>(settings.arguments().value(0));
    EXPECT_FALSE(map.value(QStringLiteral("pppoe")).contains(QStringLiteral("password")));
    EXPECT_EQ(map.value(QStringLiteral("pppoe")).value(QStringLiteral("username")).toString(),
              QStringLiteral("stored-user"));
    HangUpDialledConnection(api.get(), available, dialledByUs, handle, Sink());

    // The profile's own user name needs no change of the profile.
    EXPECT_TRUE(Connect("DSL", "stored-user", "geheim"));
    EXPECT_EQ(Update2FlagsOn(profile).size(), 2u);
    HangUpDialledConnection(api.get(), available, dialledByUs, handle, Sink());

    // A wrong password is refused; without credentials no agent answers at all.
    EXPECT_FALSE(Connect("DSL", "alice", "falsch"));
    EXPECT_EQ(errorText, RasErrorText(ERROR_AUTHENTICATION_FAILURE));
    EXPECT_FALSE(Connect("DSL"));
    EXPECT_EQ(errorText, RasErrorText(ERROR_INTERACTIVE_MODE));
    EXPECT_FALSE(IsRasConnected(*api, "DSL")) << "a failed activation is no connection";
}

TEST_F(MockNetworkManager, ADialEndedByTheServiceFallingSilentCallsItsActivationOff) {
    StartMock();
    AddProfile(QStringLiteral("Slow"));
    SetOutcome(QStringLiteral("Slow"), QStringLiteral("hang"));
    options.callTimeoutMs = 1000;
    options.dialTimeoutMs = 30000;
    Bind();
    ASSERT_TRUE(available);
    const qint64 pid = mock.processId();
    std::thread silence([pid] {
        QThread::msleep(300);
        ::kill(static_cast<pid_t>(pid), SIGSTOP);
    });
    const bool connected = Connect("Slow");
    silence.join();
    ::kill(static_cast<pid_t>(pid), SIGCONT);
    EXPECT_FALSE(connected);
    EXPECT_EQ(errorText, RasErrorText(ERROR_RASMAN_CANNOT_INITIALIZE));
    EXPECT_TRUE(NoActivationWithin(5000)) << "the line stays up, never to be hung up";
}

TEST_F(MockNetworkManager, AnActivationAcceptedButAnsweredTooLateIsCalledOff) {
    StartMock();
    AddProfile(QStringLiteral("Late answer"));
    SetOutcome(QStringLiteral("Late answer"), QStringLiteral("slowreply"), 1500);
    options.callTimeoutMs = 1000;
    Bind();
    ASSERT_TRUE(available);
    EXPECT_FALSE(Connect("Late answer"));
    EXPECT_EQ(errorText, RasErrorText(ERROR_RASMAN_CANNOT_INITIALIZE));
    EXPECT_TRUE(NoActivationWithin(3000)) << "the line stays up, never to be hung up";
}

TEST_F(MockNetworkManager, ADialGivenUpOnByItsCallerCallsItsLateSuccessOff) {
    StartMock();
    AddProfile(QStringLiteral("Late"));
    SetOutcome(QStringLiteral("Late"), QStringLiteral("late"), 1500);
    options.workerWaitMs = 500;
    Bind();
    ASSERT_TRUE(available);
    EXPECT_FALSE(Connect("Late"));
    EXPECT_EQ(errorText, RasErrorText(ERROR_REQUEST_TIMEOUT));
    EXPECT_EQ(handle, 0u);
    EXPECT_FALSE(dialledByUs);
    // The activation succeeds after the caller stopped waiting; nobody could hang it up.
    QThread::msleep(2000);
    EXPECT_TRUE(NoActivationWithin(3000)) << "the line stays up, never to be hung up";
}

// A stop (SIGTERM, SIGINT) must not wait for a dial that hangs: the dial is given up at once,
// before it starts or while it waits, and the activation it started is called off, so no line
// stays up after the program has ended.
TEST_F(MockNetworkManager, AStopEndsTheDialAtOnceAndCallsItsActivationOff) {
    StartMock();
    AddProfile(QStringLiteral("Slow"));
    SetOutcome(QStringLiteral("Slow"), QStringLiteral("hang"));
    options.dialTimeoutMs = 30000;
    std::atomic<bool> stop{false};
    options.stopRequested = [&stop] { return stop.load(); };
    Bind();
    ASSERT_TRUE(available);
    const struct {
        const char* what;
        int stopAfterMs; // -1: asked to stop before the dial
    } cases[] = {{"stop while the activation hangs", 600}, {"stop before the dial", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        stop = c.stopAfterMs < 0;
        std::thread stopper([&] {
            if (c.stopAfterMs >= 0) {
                QThread::msleep(static_cast<unsigned long>(c.stopAfterMs));
                stop = true;
            }
        });
        QElapsedTimer elapsed;
        elapsed.start();
        const bool connected = Connect("Slow");
        const qint64 took = elapsed.elapsed();
        stopper.join();
        EXPECT_FALSE(connected);
        EXPECT_LT(took, c.stopAfterMs + 1000) << "not after the dial's 30 s time-out";
        EXPECT_EQ(errorText, RasErrorText(ERROR_USER_DISCONNECTION));
        EXPECT_FALSE(dialledByUs);
        EXPECT_EQ(handle, 0u);
        EXPECT_TRUE(NoActivationWithin(2000)) << "the line stays up, never to be hung up";
    }
    // The layer's end waits for the stopped dials, which are over by now.
    QElapsedTimer elapsed;
    elapsed.start();
    api.reset();
    EXPECT_LT(elapsed.elapsed(), 2000);
}

TEST(NetworkManagerRasLoad, ABusThatCannotBeReachedMeansNoLayer) {
    QTemporaryDir dir;
    const QByteArray address = "unix:path=" + dir.filePath("no-bus").toUtf8();
    qputenv("KAIRELON_DIALUP_BUS", address);
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(LoadSystemRasLayer(), nullptr);
    EXPECT_LT(elapsed.elapsed(), 5000);
    qunsetenv("KAIRELON_DIALUP_BUS");
}
