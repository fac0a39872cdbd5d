// The tray program as a whole, in this process: the order of its start-up, its lines on
// standard output and standard error, one instance per session and quitting over the session
// bus. Each test has its own settings folder, a fake clock and dial-up layer, and (where it
// talks D-Bus) a private bus of its own.
#include "app/MainWindow.h"
#include "app/Plasma.h"
#include "app/Splash.h"
#include "app/TrayProgram.h"
#include "app/frmOptions.h"

#include "controls/UserPrompt.h"
#include "framework/StringTable.h"
#include "settings/Options.h"
#include "settings/ServerList.h"
#include "support/EventLoop.h"
#include "support/EventPrefix.h"
#include "support/FakeRasLayer.h"
#include "support/LoopbackServer.h"
#include "support/PrivateBus.h"
#include "support/SyncEngineFixture.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace kairelon::test {
namespace {

// Everything written to a temporary file, read back.
class Capture {
public:
    Capture() : file(std::tmpfile()) {}
    ~Capture() {
        if (file != nullptr)
            std::fclose(file);
    }
    std::vector<std::string> Lines() {
        std::fflush(file);
        std::rewind(file);
        std::vector<std::string> lines;
        char buffer[1024];
        while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
            std::string line = buffer;
            if (!line.empty() && line.back() == '\n')
                line.pop_back();
            lines.push_back(line);
        }
        std::fseek(file, 0, SEEK_END);
        return lines;
    }
    std::FILE* file;
};

class TrayProgram : public ::testing::Test {
protected:
    TrayProgram() {
        UserPrompt::ResetForTesting();
        store.Open();
    }
    ~TrayProgram() override {
        UserPrompt::ResetForTesting();
        for (const QString& name : names)
            QDBusConnection::disconnectFromBus(name);
        if (bus.state() != QProcess::NotRunning)
            StopProcess(bus);
    }

    // A connection to the private bus (started on first use), as a process of the session
    // would have; without a bus daemon the test is skipped.
    QDBusConnection Connect() {
        if (address.isEmpty()) {
            const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
            if (daemon.isEmpty())
                return NoBus();
            address = StartPrivateBus(bus, daemon, busFolder.path());
        }
        const QString name = QStringLiteral("tray-program-%1").arg(names.size());
        names.push_back(name);
        return QDBusConnection::connectToBus(address, name);
    }
    QDBusConnection NoBus() {
        const QString name = QStringLiteral("tray-program-none-%1").arg(names.size());
        names.push_back(name);
        return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), name);
    }

    std::unique_ptr<TTrayProgram> MakeProgram(const QDBusConnection& connection) {
        auto program = std::make_unique<TTrayProgram>(TrayProgramOptions{}, connection);
        program->Clock = &clock;
        program->ProgramFolder = folder.path().toStdString();
        program->Out = out.file;
        program->Err = err.file;
        program->Arrange = [this](TMainWindow& window) {
            window.Engine().RasLoader = FakeRasLoader(ras);
            window.frmOptions().TimeZoneSource = [] { return TTimeZoneDisplay{"CET", -60, true}; };
            window.Tray().TrayAvailable = [] { return true; };
        };
        return program;
    }

    void Configure(const std::string& server = "time.example.org") {
        store.WriteCurrentServer(server);
        SaveServerListFile({server});
    }

    IsolatedHome home;
    UniqueEventPrefix events;
    CFakeClock clock;
    std::shared_ptr<FakeRasState> ras = std::make_shared<FakeRasState>();
    CLocalOptions store;
    QTemporaryDir folder; // the program's folder: no logo library, no help page
    QTemporaryDir busFolder;
    QProcess bus;
    QString address;
    std::vector<QString> names;
    Capture out;
    Capture err;
};

TEST_F(TrayProgram, StartsWithTheIconThenTheStoresAndSplashThenTheWindowsInitialisation) {
    // No server list and no server: the two start-up boxes show what stood when they came.
    struct Seen {
        std::string box;
        bool iconShown;
        bool splashShown;
    };
    std::vector<Seen> seen;
    std::unique_ptr<TTrayProgram> program = MakeProgram(NoBus());
    UserPrompt::SetAnswerFunction([&](const PromptRequest& request) {
        TMainWindow* window = program->MainWindow();
        seen.push_back(Seen{request.caption + ": " + request.text,
                            window != nullptr && window->Tray().IconShown(),
                            program->Splash() != nullptr && program->Splash()->isVisible()});
        return PromptButton::Ok;
    });
    ASSERT_EQ(program->Start(), TTrayProgram::EStart::Started);

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].box, "Hinweis: " + LoadStr(1003));
    EXPECT_EQ(seen[1].box, "Hinweis: " + LoadStr(1011));
    for (const Seen& s : seen) {
        EXPECT_TRUE(s.iconShown) << s.box;
        EXPECT_TRUE(s.splashShown) << s.box;
    }
    // The boxes are also lines on standard error, the protocol lines on standard output.
    EXPECT_EQ(err.Lines(), (std::vector<std::string>{"message: Hinweis: " + LoadStr(1003),
                                                     "message: Hinweis: " + LoadStr(1011)}));
    const std::vector<std::string> lines = out.Lines();
    const std::vector<std::string> expected = {"info: " + LoadStr(1071), "info: " + LoadStr(1072),
                                               "info: " + LoadStr(1029)};
    EXPECT_EQ(lines, expected);

    TMainWindow& window = *program->MainWindow();
    EXPECT_FALSE(window.frmOptions().isVisible());
    EXPECT_FALSE(window.Tray().mnuSync->isEnabled());
    EXPECT_EQ(window.Tray().mnuOptionen->text(), QString::fromStdString(LoadStr(3001)));
    EXPECT_FALSE(window.Plasma().PlasmaBitmap().isNull());
    EXPECT_TRUE(program->Splash()->CloseTimerActive());

    // Quitting ends the event loop with status 0, after which the window is destroyed.
    QTimer::singleShot(0, &window, &TMainWindow::QuitRequest);
    EXPECT_EQ(program->Exec(), 0);
    EXPECT_TRUE(window.Engine().Closing);
    EXPECT_FALSE(window.Tray().IconShown());
}

TEST_F(TrayProgram, TheMenusSynchronisationIsALineOnStandardOutput) {
    LoopbackServer server(LoopbackServer::SendAndClose(DaytimeLine(clock.GetSystemTime(), 90)));
    Configure("127.0.0.1:" + std::to_string(server.Port()));
    std::unique_ptr<TTrayProgram> program = MakeProgram(NoBus());
    ASSERT_EQ(program->Start(), TTrayProgram::EStart::Started);
    out.Lines(); // the start-up's lines
    program->MainWindow()->Tray().mnuSync->trigger();
    const std::vector<std::string> lines = out.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("info: Synchronisation erfolgreich (", 0), 0u) << lines.back();
    ASSERT_EQ(clock.SetCalls().size(), 1u);
}

TEST_F(TrayProgram, ASecondStartShowsTheFirstOnesDialogAndEnds) {
    Configure();
    QDBusConnection firstBus = Connect();
    if (!firstBus.isConnected())
        GTEST_SKIP() << "no dbus-daemon for a private session bus";
    std::unique_ptr<TTrayProgram> first = MakeProgram(firstBus);
    ASSERT_EQ(first->Start(), TTrayProgram::EStart::Started);
    TMainWindow& window = *first->MainWindow();

    bool shownModally = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() == &window.frmOptions()) {
            shownModally = true;
            window.frmOptions().reject();
        }
    });
    watch.start(5);

    std::unique_ptr<TTrayProgram> second = MakeProgram(Connect());
    EXPECT_EQ(second->Start(), TTrayProgram::EStart::HandedOver);
    EXPECT_EQ(second->MainWindow(), nullptr); // no window, no splash, no icon of its own
    EXPECT_EQ(second->Splash(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return shownModally; }, 5000));
}

TEST_F(TrayProgram, QuitOverTheSessionBusEndsTheRunningProgram) {
    Configure();
    QDBusConnection firstBus = Connect();
    if (!firstBus.isConnected())
        GTEST_SKIP() << "no dbus-daemon for a private session bus";
    std::unique_ptr<TTrayProgram> program = MakeProgram(firstBus);
    ASSERT_EQ(program->Start(), TTrayProgram::EStart::Started);

    // Another process of the session asks, as `kairelon --quit` does.
    QProcess quit;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    quit.setProcessEnvironment(env);
    quit.setChildProcessModifier(EndWithParent);
    quit.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                QStringLiteral("--dest=example.quarnel.Kairelon"), QStringLiteral("/Kairelon"),
                QStringLiteral("example.quarnel.Kairelon.Quit")});
    QTimer failsafe;
    failsafe.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(&failsafe, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::exit(0);
    });
    failsafe.start(10000);
    EXPECT_EQ(program->Exec(), 0);
    EXPECT_FALSE(timedOut) << "the request did not end the program";
    EXPECT_TRUE(program->MainWindow()->Engine().Closing);
    EXPECT_EQ(UserPrompt::BoxCount(), 0); // no question
    quit.waitForFinished(5000);
    EXPECT_EQ(quit.exitCode(), 0);
}

TEST_F(TrayProgram, RequestsOfOtherStartsDuringTheStartUpBoxesAreDoneWhenStartUpEnds) {
    // No server list, no server: start-up shows two boxes; while the first stands, a second
    // start asks for the dialog, or `kairelon --quit` asks the program to end. Both are told
    // the request was taken, so it must be done.
    QDBusConnection probe = Connect();
    if (!probe.isConnected())
        GTEST_SKIP() << "no dbus-daemon for a private session bus";
    for (const bool quit : {false, true}) {
        SCOPED_TRACE(quit ? "--quit" : "second start");
        UserPrompt::ResetForTesting();
        std::unique_ptr<TTrayProgram> first = MakeProgram(Connect());
        std::unique_ptr<TTrayProgram> second;
        int asked = -1;
        UserPrompt::SetAnswerFunction([&](const PromptRequest&) {
            if (asked < 0) {
                if (quit) {
                    asked = RunQuitRequest(Connect(), err.file);
                } else {
                    second = MakeProgram(Connect());
                    asked = second->Start() == TTrayProgram::EStart::HandedOver ? 0 : 1;
                }
            }
            return PromptButton::Ok;
        });
        ASSERT_EQ(first->Start(), TTrayProgram::EStart::Started);
        UserPrompt::SetAnswerFunction(nullptr);
        EXPECT_EQ(asked, 0) << "the request was not taken";

        TMainWindow& window = *first->MainWindow();
        bool shownModally = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (QApplication::activeModalWidget() == &window.frmOptions()) {
                shownModally = true;
                window.frmOptions().reject();
            }
        });
        watch.start(5);
        bool timedOut = false;
        QTimer failsafe;
        failsafe.setSingleShot(true);
        QObject::connect(&failsafe, &QTimer::timeout, [&] {
            timedOut = true;
            QCoreApplication::exit(0);
        });
        if (quit) {
            failsafe.start(3000);
            EXPECT_EQ(first->Exec(), 0);
            EXPECT_FALSE(timedOut) << "the quit request was lost";
            EXPECT_TRUE(window.Engine().Closing);
        } else {
            EXPECT_TRUE(PumpUntil([&] { return shownModally; }, 3000))
                << "the show request was lost";
        }
        second.reset();
        first.reset();
    }
}

TEST_F(TrayProgram, TheQuitRequestSaysWhetherAProgramTookIt) {
    QDBusConnection firstBus = Connect();
    if (!firstBus.isConnected())
        GTEST_SKIP() << "no dbus-daemon for a private session bus";
    // None runs: status 1 and the reason.
    EXPECT_EQ(RunQuitRequest(Connect(), err.file), 1);
    EXPECT_EQ(err.Lines(), std::vector<std::string>{"kairelon: no Kairelon runs in this session"});
    EXPECT_EQ(RunQuitRequest(NoBus(), err.file), 1);

    CSingleInstance running(firstBus);
    ASSERT_EQ(running.Register(), CSingleInstance::ERole::First);
    int quits = 0;
    QObject::connect(&running, &CSingleInstance::QuitRequested, [&] { ++quits; });
    EXPECT_EQ(RunQuitRequest(Connect(), err.file), 0);
    EXPECT_TRUE(PumpUntil([&] { return quits == 1; }, 2000));
}

} // namespace
} // namespace kairelon::test
