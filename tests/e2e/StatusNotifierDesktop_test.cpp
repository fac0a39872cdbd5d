// kairelon without arguments on a desktop whose panel speaks the StatusNotifier protocol on the
// session bus (KDE Plasma, GNOME with its AppIndicator extension, every Wayland session). The
// panel is status_notifier_host.py beside this file, a watcher and host of the test's own on a
// session bus of the test's own; it tells what the item offers and acts as the panel does
// (Activate on a left click, the menu's "clicked" event). Two desktops: a virtual X11 display
// (Xvfb) with a window manager (openbox), where the dialog opened by the panel takes typed
// keys at once; and a Wayland compositor without a screen (weston's headless back end), where
// the item, its menu and `kairelon --quit` are checked.
#include "support/DesktopTest.h"
#include "support/PrivateBus.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <regex>
#include <string>

using namespace kairelon::test;

namespace {

// The menu as the host reads it: label (mnemonic as "_"), enabled, has a picture.
constexpr const char* kMenu = "menu _Optionen...|1|1;_Synchronisieren|1|1;-;_Hilfe|1|1;"
                              "_Info...|1|1;-;_Beenden|1|1";

// A Python 3 with the D-Bus and GLib bindings (python3-dbus, python3-gi); the system's first.
QString PythonWithDBus() {
    for (const QString& candidate :
         {QStringLiteral("/usr/bin/python3"), QStandardPaths::findExecutable("python3")}) {
        if (candidate.isEmpty() || !QFile::exists(candidate))
            continue;
        QProcess probe;
        probe.start(candidate, {"-c", "import dbus, dbus.mainloop.glib, gi.repository.GLib"});
        if (probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0) {
            return candidate;
        }
    }
    return QString();
}

// The panel: status_notifier_host.py, asked one line at a time.
class Host {
public:
    bool Start(const QString& python, const QProcessEnvironment& env) {
        process_.setProcessEnvironment(env);
        process_.setChildProcessModifier(EndWithParent);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(
            python, {QStringLiteral(KAIRELON_SOURCE_DIR) + "/tests/e2e/status_notifier_host.py"});
        return process_.waitForStarted(10000) && Next("ready", 10000).has_value();
    }
    ~Host() { StopProcess(process_); }

    // The first line from now on that starts with `prefix`, within `timeoutMs`.
    std::optional<std::string> Next(const std::string& prefix, int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        while (true) {
            while (process_.canReadLine()) {
                std::string line = process_.readLine().trimmed().toStdString();
                lines_ += line + "\n";
                if (line.rfind(prefix, 0) == 0)
                    return line;
            }
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0 || process_.state() != QProcess::Running)
                return std::nullopt;
            process_.waitForReadyRead(static_cast<int>(left));
        }
    }

    // Sends a command and returns its answer (the next line that is not a registration).
    std::string Ask(const std::string& command) {
        process_.write((command + "\n").c_str());
        process_.waitForBytesWritten(2000);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            const std::optional<std::string> line = Next("", 5000);
            if (!line)
                break;
            if (line->rfind("registered ", 0) != 0)
                return *line;
        }
        return "(no answer)";
    }

    // Waits until an item has registered.
    bool ItemRegistered(int timeoutMs) {
        return WaitFor([&] { return Ask("items") == "items 1"; }, timeoutMs);
    }

    const std::string& Lines() const { return lines_; }

private:
    QProcess process_;
    std::string lines_;
};

class StatusNotifierDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(output.isValid());
        python = PythonWithDBus();
        if (python.isEmpty())
            GTEST_SKIP() << "no python3 with python3-dbus and python3-gi "
                            "(scripts/install-deps.sh installs them)";
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        if (daemon.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        busAddress = StartPrivateBus(bus, daemon, output.path());
        ASSERT_FALSE(busAddress.isEmpty()) << "dbus-daemon did not start";
        env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        // Configured with a server, so start-up asks nothing; no interval run.
        const std::string server = "127.0.0.1:13";
        WriteText(home.RegistryDir() + "/server.ini", server + "\r\n");
        WriteText(home.RegistryDir() + "/user.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel]\r\n"
                  "\"CurrentServer\"=\"" +
                      server +
                      "\"\r\n"
                      "\"SyncModus\"=dword:00000002\r\n"
                      "\"Intervall\"=dword:00000000\r\n");
    }

    void TearDown() override {
        StopProcess(program);
        host.reset();
        StopProcess(bus);
    }

    bool StartHost() {
        host.emplace();
        return host->Start(python, env);
    }

    // kairelon in the desktop's environment (set in `env` by the test), with the test's
    // settings folder.
    void StartProgram() {
        QProcessEnvironment programEnv = env;
        for (const char* name : {"KAIRELON_REGISTRY_DIR", "XDG_CONFIG_HOME", "XDG_STATE_HOME"})
            programEnv.insert(name, qEnvironmentVariable(name));
        programEnv.insert("KAIRELON_DIALUP_BUS", "unix:path=/nonexistent/kairelon-test-bus");
        QString sanitizer = programEnv.value("ASAN_OPTIONS");
        if (!sanitizer.isEmpty()) {
            // As in the X11 tray test: the X keyboard library's own string reads. Full stacks,
            // so the suppressions of the D-Bus and Wayland libraries' process-long allocations
            // (tests/sanitizer/lsan.supp) find the functions that made them.
            programEnv.insert("ASAN_OPTIONS", sanitizer.replace("strict_string_checks=1",
                                                                "strict_string_checks=0") +
                                                  ":fast_unwind_on_malloc=0");
        }
        program.setProcessEnvironment(programEnv);
        program.setChildProcessModifier(EndWithParent);
        program.setStandardOutputFile(output.filePath("out"));
        program.setStandardErrorFile(output.filePath("err"));
        program.start(QString::fromStdString(BuiltProgram("kairelon")), {"--dry-run"});
        ASSERT_TRUE(program.waitForStarted(10000));
    }

    bool Initialised() {
        return WaitFor(
            [&] {
                return ReadText(output.filePath("out"))
                           .find("Kairelon erfolgreich initialisiert") != std::string::npos;
            },
            15000);
    }

    std::string Report() const {
        return "stdout:\n" + ReadText(output.filePath("out")) + "\nstderr:\n" +
               ReadText(output.filePath("err")) + "\nhost:\n" + (host ? host->Lines() : "");
    }

    // A helper program (xdotool, weston's own) in the desktop's environment; its output.
    std::string Tool(const QString& name, const QStringList& args) const {
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start(name, args);
        if (!tool.waitForFinished(5000)) {
            tool.kill();
            tool.waitForFinished(2000);
            return std::string();
        }
        return tool.readAllStandardOutput().toStdString();
    }

    IsolatedHome home;
    QTemporaryDir output;
    QString python;
    QProcess bus;
    QString busAddress;
    QProcessEnvironment env;
    std::optional<Host> host;
    QProcess program;
};

TEST_F(StatusNotifierDesktop, OnX11ThePanelsClickOpensTheDialogAndItsMenuIsOurs) {
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xprop"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    }
    QProcess xvfb;
    xvfb.setChildProcessModifier(EndWithParent);
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForReadyRead(10000)) << "Xvfb did not start";
    env.insert("DISPLAY", ":" + QString::fromUtf8(xvfb.readLine()).trimmed());
    QProcess openbox;
    openbox.setChildProcessModifier(EndWithParent);
    openbox.setProcessEnvironment(env);
    openbox.setProcessChannelMode(QProcess::MergedChannels);
    openbox.start("openbox", {"--sm-disable"});
    ASSERT_TRUE(openbox.waitForStarted(10000));
    ASSERT_TRUE(WaitFor(
        [&] {
            return Tool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") !=
                   std::string::npos;
        },
        10000))
        << "openbox did not come up";
    ASSERT_TRUE(StartHost()) << "the StatusNotifier host did not start\n" << Report();

    StartProgram();
    ASSERT_TRUE(host->ItemRegistered(15000)) << "no item registered\n" << Report();
    ASSERT_TRUE(Initialised()) << Report();

    // The menu is the program's own, exported to the panel.
    EXPECT_EQ(host->Ask("menu"), kMenu) << Report();

    // The panel's left click opens the dialog, centred; typed keys go to the server field.
    EXPECT_EQ(host->Ask("activate"), "activated");
    std::string dialog;
    ASSERT_TRUE(WaitFor(
        [&] {
            dialog =
                Tool("xdotool", {"search", "--onlyvisible", "--name", "^Kairelon Einstellungen$"});
            return !dialog.empty();
        },
        10000))
        << "no dialog on the panel's click\n"
        << Report();
    dialog = dialog.substr(0, dialog.find('\n'));
    const std::string geometry =
        Tool("xdotool", {"getwindowgeometry", "--shell", QString::fromStdString(dialog)});
    std::smatch m;
    ASSERT_TRUE(std::regex_search(geometry, m,
                                  std::regex(R"(X=(-?\d+)\nY=(-?\d+)\nWIDTH=(\d+)\nHEIGHT=(\d+))")))
        << geometry;
    EXPECT_NEAR(std::stoi(m[1]) + std::stoi(m[3]) / 2, 1024 / 2, 30) << geometry;
    EXPECT_NEAR(std::stoi(m[2]) + std::stoi(m[4]) / 2, 768 / 2, 30) << geometry;
    // The window manager gives the new dialog the keyboard; the user types at once.
    EXPECT_TRUE(
        WaitFor([&] { return Tool("xdotool", {"getactivewindow"}) == dialog + "\n"; }, 5000))
        << "the dialog did not get the keyboard";
    Tool("xdotool", {"key", "ctrl+a"});
    Tool("xdotool", {"type", "--delay", "20", "127.0.0.1:1313"});
    Tool("xdotool", {"key", "Return"});
    EXPECT_TRUE(WaitFor(
        [&] {
            return Tool("xdotool",
                        {"search", "--onlyvisible", "--name", "^Kairelon Einstellungen$"})
                .empty();
        },
        5000))
        << "Enter did not close the dialog";
    EXPECT_NE(ReadText(QString::fromStdString(home.RegistryDir() + "/user.reg"))
                  .find("\"CurrentServer\"=\"127.0.0.1:1313\""),
              std::string::npos)
        << "the typed server was not stored\n"
        << ReadText(QString::fromStdString(home.RegistryDir() + "/user.reg"));

    // "Beenden" chosen in the panel's menu: the question, answered Yes, ends the program.
    EXPECT_EQ(host->Ask("click _Beenden"), "clicked _Beenden");
    std::string question;
    ASSERT_TRUE(WaitFor(
        [&] {
            question = Tool("xdotool", {"search", "--onlyvisible", "--name", "^Beenden$"});
            return !question.empty();
        },
        5000))
        << "no question on the menu's Beenden\n"
        << Report();
    Tool("xdotool", {"windowfocus", QString::fromStdString(question.substr(0, question.find('\n'))),
                     "key", "j"});
    ASSERT_TRUE(program.waitForFinished(5000)) << "Yes did not end the program\n" << Report();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << Report();
    StopProcess(openbox);
    StopProcess(xvfb);
}

TEST_F(StatusNotifierDesktop, OnWaylandTheItemAndItsMenuRegisterAndQuitEndsIt) {
    if (QStandardPaths::findExecutable("weston").isEmpty())
        GTEST_SKIP() << "weston is not installed (scripts/install-deps.sh installs it)";
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    if (!QFile::exists(plugins + "/platforms/libqwayland-generic.so"))
        GTEST_SKIP() << "the Qt Wayland plug-in is not installed (qt6-wayland)";
    QTemporaryDir runtime; // XDG_RUNTIME_DIR: the compositor's socket, mode 0700
    ASSERT_TRUE(runtime.isValid());
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString socket =
        QStringLiteral("kairelon-test-%1").arg(QCoreApplication::applicationPid());
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    QProcess weston;
    weston.setChildProcessModifier(EndWithParent);
    weston.setProcessEnvironment(env);
    weston.setProcessChannelMode(QProcess::MergedChannels);
    weston.setStandardOutputFile(output.filePath("weston"));
    weston.start("weston", {"--backend=headless-backend.so", "--socket=" + socket, "--idle-time=0",
                            "--width=1024", "--height=768"});
    ASSERT_TRUE(weston.waitForStarted(10000));
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(runtime.filePath(socket)); }, 10000))
        << "weston did not start\n"
        << ReadText(output.filePath("weston"));
    env.insert("WAYLAND_DISPLAY", socket);
    env.insert("QT_QPA_PLATFORM", "wayland");
    ASSERT_TRUE(StartHost()) << "the StatusNotifier host did not start\n" << Report();

    StartProgram();
    ASSERT_TRUE(host->ItemRegistered(15000)) << "no item registered\n" << Report();
    ASSERT_TRUE(Initialised()) << Report();
    EXPECT_EQ(host->Ask("menu"), kMenu) << Report();
    // No "Warnung" box: the panel holds the icon.
    EXPECT_EQ(ReadText(output.filePath("err")).find("message:"), std::string::npos) << Report();

    QProcess quit;
    quit.setProcessEnvironment(env);
    quit.start(QString::fromStdString(BuiltProgram("kairelon")), {"--quit"});
    ASSERT_TRUE(quit.waitForFinished(10000));
    EXPECT_EQ(quit.exitCode(), 0) << quit.readAllStandardError().toStdString();
    ASSERT_TRUE(program.waitForFinished(5000)) << "--quit did not end it\n" << Report();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << Report();
    StopProcess(weston);
}

} // namespace
