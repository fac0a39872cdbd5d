// One tray program per session: the first start owns the bus name, later starts ask it to
// show its dialog or to quit. Every test runs on a private session bus of its own.
#include "app/SingleInstance.h"
#include "support/EventLoop.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace kairelon {
namespace {

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon); the "
                            "single-instance test cannot run";
        }
        ASSERT_TRUE(dir.isValid());
        address = test::StartPrivateBus(bus, daemon, dir.path());
        ASSERT_FALSE(address.isEmpty()) << "dbus-daemon did not start";
    }

    void TearDown() override {
        for (const QString& name : names)
            QDBusConnection::disconnectFromBus(name);
        test::StopProcess(bus);
    }

    // A connection of its own, as another process would have.
    QDBusConnection Connect() {
        const QString name = QStringLiteral("single-instance-%1").arg(names.size());
        names.push_back(name);
        QDBusConnection connection = QDBusConnection::connectToBus(address, name);
        EXPECT_TRUE(connection.isConnected());
        return connection;
    }

    // Runs dbus-send against the private bus, as a second start in another process would
    // call; returns its exit code, or -1 when it did not end within `timeoutMs`. The event
    // loop runs meanwhile, so the instance of this process can answer.
    int DbusSend(const QString& method, int timeoutMs, qint64* elapsedMs = nullptr) {
        QProcess send;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        send.setProcessEnvironment(env);
        send.setChildProcessModifier(test::EndWithParent);
        QElapsedTimer clock;
        clock.start();
        send.start(QStringLiteral("dbus-send"),
                   {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                    QStringLiteral("--reply-timeout=10000"),
                    QStringLiteral("--dest=example.quarnel.Kairelon"), QStringLiteral("/Kairelon"),
                    QStringLiteral("example.quarnel.Kairelon.") + method});
        if (!send.waitForStarted(5000))
            return -2;
        // Taken when the process ends, even inside a nested loop of the instance's handler.
        qint64 endedAfter = -1;
        QObject::connect(&send, &QProcess::finished, [&] { endedAfter = clock.elapsed(); });
        const bool done =
            test::PumpUntil([&] { return send.state() == QProcess::NotRunning; }, timeoutMs);
        if (elapsedMs)
            *elapsedMs = endedAfter;
        if (!done) {
            send.kill();
            send.waitForFinished(2000);
            return -1;
        }
        return send.exitCode();
    }

    QTemporaryDir dir;
    QProcess bus;
    QString address;
    std::vector<QString> names;
};

TEST_F(SingleInstance, TheFirstStartOwnsTheNameAndALaterOneDoesNot) {
    CSingleInstance first(Connect());
    CSingleInstance second(Connect());
    EXPECT_EQ(first.Register(), CSingleInstance::ERole::First);
    EXPECT_EQ(second.Register(), CSingleInstance::ERole::Second);
    EXPECT_EQ(CSingleInstance(Connect()).Register(), CSingleInstance::ERole::Second);
    EXPECT_EQ(first.Role(), CSingleInstance::ERole::First);
}

TEST_F(SingleInstance, ALaterStartAsksTheFirstToShowItsDialog) {
    CSingleInstance first(Connect());
    ASSERT_EQ(first.Register(), CSingleInstance::ERole::First);
    int shows = 0;
    int quits = 0;
    QObject::connect(&first, &CSingleInstance::ShowRequested, [&] { ++shows; });
    QObject::connect(&first, &CSingleInstance::QuitRequested, [&] { ++quits; });
    CSingleInstance second(Connect());
    ASSERT_EQ(second.Register(), CSingleInstance::ERole::Second);
    EXPECT_TRUE(second.AskShowDialog());
    EXPECT_TRUE(test::PumpUntil([&] { return shows == 1; }, 2000));
    test::PumpFor(50);
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(quits, 0);
}

TEST_F(SingleInstance, QuitAsksTheFirstToQuit) {
    CSingleInstance first(Connect());
    ASSERT_EQ(first.Register(), CSingleInstance::ERole::First);
    int shows = 0;
    int quits = 0;
    QObject::connect(&first, &CSingleInstance::ShowRequested, [&] { ++shows; });
    QObject::connect(&first, &CSingleInstance::QuitRequested, [&] { ++quits; });
    CSingleInstance asker(Connect());
    EXPECT_TRUE(asker.AskQuit());
    EXPECT_TRUE(test::PumpUntil([&] { return quits == 1; }, 2000));
    EXPECT_EQ(shows, 0);
}

TEST_F(SingleInstance, AskingWithNoInstanceRunningFailsAtOnce) {
    CSingleInstance asker(Connect());
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(asker.AskShowDialog());
    EXPECT_FALSE(asker.AskQuit());
    EXPECT_LT(clock.elapsed(), 2000) << "no owner of the name must not cost the call time-out";
}

TEST_F(SingleInstance, TheAnswerComesBeforeTheDialogsModalLoopEnds) {
    CSingleInstance first(Connect());
    ASSERT_EQ(first.Register(), CSingleInstance::ERole::First);
    bool modalEnded = false;
    QObject::connect(&first, &CSingleInstance::ShowRequested, [&] {
        // What the tray program does: show the dialog modally, here for three seconds.
        QEventLoop modal;
        QTimer::singleShot(3000, &modal, &QEventLoop::quit);
        modal.exec();
        modalEnded = true;
    });
    qint64 elapsed = 0;
    EXPECT_EQ(DbusSend(QStringLiteral("ShowDialog"), 8000, &elapsed), 0);
    EXPECT_LT(elapsed, 2500) << "the asking process waited for the dialog to close";
    EXPECT_TRUE(test::PumpUntil([&] { return modalEnded; }, 5000));
}

TEST_F(SingleInstance, AnotherProcessCanAskForTheDialogAndForQuit) {
    CSingleInstance first(Connect());
    ASSERT_EQ(first.Register(), CSingleInstance::ERole::First);
    int shows = 0;
    int quits = 0;
    QObject::connect(&first, &CSingleInstance::ShowRequested, [&] { ++shows; });
    QObject::connect(&first, &CSingleInstance::QuitRequested, [&] { ++quits; });
    EXPECT_EQ(DbusSend(QStringLiteral("ShowDialog"), 8000), 0);
    EXPECT_EQ(DbusSend(QStringLiteral("Quit"), 8000), 0);
    EXPECT_NE(DbusSend(QStringLiteral("Restart"), 8000), 0) << "unknown methods are refused";
    test::PumpFor(50);
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(quits, 1);
}

TEST_F(SingleInstance, TheNameIsFreeAgainOnceTheFirstHasEnded) {
    auto first = std::make_unique<CSingleInstance>(Connect());
    ASSERT_EQ(first->Register(), CSingleInstance::ERole::First);
    first.reset();
    CSingleInstance next(Connect());
    EXPECT_EQ(next.Register(), CSingleInstance::ERole::First);
}

TEST(SingleInstanceWithoutBus, EveryStartRunsAsWithoutCoordination) {
    QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/kairelon-bus"), QStringLiteral("no-bus"));
    CSingleInstance instance(none);
    EXPECT_EQ(instance.Register(), CSingleInstance::ERole::NoBus);
    EXPECT_FALSE(instance.AskShowDialog());
    EXPECT_FALSE(instance.AskQuit());
    QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
}

} // namespace
} // namespace kairelon
