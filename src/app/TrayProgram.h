// The tray program: `kairelon` without a mode, and `kairelon --quit`.
//
// `RunTrayProgram` is the program entry: the application object, then `TTrayProgram`, the
// event loop, and the exception box for a failure that escapes them; the exit status is 0.
// `TTrayProgram::Start` makes sure only one tray program runs in the session (a later start
// asks the running one to show its dialog and ends), then starts up in this order: the main
// window (its FormCreate installs the tray icon), the logo library's path, the option stores,
// the splash, the main window's initialisation. `Exec` runs the event loop until the quit
// command ends it and destroys the main window. Requests of later starts (show the dialog,
// quit) that arrive while start-up still runs are kept and done when it has ended; `Stop`
// (SIGTERM or SIGINT, at the session's end) ends the program as a quit request does, without
// the question, also during start-up. The echo lives here, not in the windows: protocol
// entries go to standard output as "info: ..." lines (as in the headless modes), message boxes
// to standard error as "message: <caption>: <text>" and the icon's place as "tray: ..." lines.
// A dry run never changes the clock. `RunQuitRequest` asks the tray program of the session to quit.
#pragma once

#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/Splash.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace kairelon {

class CClock;
class TMainWindow;
struct ProtocolItem;

struct TrayProgramOptions {
    bool dryRun = false; // never change the clock
};

class TTrayProgram : public QObject {
    Q_OBJECT
public:
    enum class EStart {
        Started,    // this is the session's tray program; Exec runs it
        HandedOver, // another one runs and shows its dialog; this one ends (status 0)
        Failed,     // another one runs but did not answer (status 1)
    };

    // `bus` defaults to the session bus; tests give a private one.
    explicit TTrayProgram(const TrayProgramOptions& options,
                          const QDBusConnection& bus = QDBusConnection::sessionBus());
    ~TTrayProgram() override;

    EStart Start();
    // The event loop until the application terminates, then FormDestroy; 0. After a Stop
    // during start-up the loop does not run.
    int Exec();
    // The session's stop (SIGTERM, SIGINT): the dialog closes and a running exchange is
    // aborted; the caller then ends the event loops.
    void Stop();

    TMainWindow* MainWindow() const { return mainWindow_.get(); }
    TfrmSplash* Splash() const { return splash_.data(); }

    // Seams, set before Start: the program's folder (the logo library and the help page are
    // looked for there; the executable's folder when empty), a hook that runs on the main
    // window right after it is made (before FormCreate), a clock instead of the real one (or
    // the dry run's), and where the lines go.
    std::string ProgramFolder;
    CClock* Clock = nullptr;
    std::function<void(TMainWindow&)> Arrange;
    std::FILE* Out = stdout;
    std::FILE* Err = stderr;

private:
    enum class ERequest { Show, Quit };
    // A request of another start: to the main window, or kept until start-up has ended.
    void Request(ERequest request);
    void Placed(const QRect& geometry);
    // The echo of the main window's protocol entries and message boxes.
    void ProtocolEntryAdded(const ProtocolItem& item);
    void MessageBoxShown(const QString& caption, const QString& text);

    TrayProgramOptions options_;
    std::unique_ptr<CClock> clock_;
    CSingleInstance instance_;
    std::unique_ptr<TMainWindow> mainWindow_;
    QPointer<TfrmSplash> splash_;
    bool startedUp_ = false;
    bool showPending_ = false;
    bool quitPending_ = false;
    bool stopRequested_ = false;
};

// The whole program entry of the tray program; the process's exit status.
int RunTrayProgram(int argc, char** argv, const TrayProgramOptions& options);

// `kairelon --quit`: 0 when the session's tray program took the request, 1 when none runs
// or it did not answer (with the reason on `err`).
int RunQuitRequest(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                   std::FILE* err = stderr);

// The runner of the `kairelon-tray` program (see CommandLine.h): the quit request or the
// tray program itself.
int RunTrayRequest(int argc, char** argv, const TrayRequest& request);

} // namespace kairelon
