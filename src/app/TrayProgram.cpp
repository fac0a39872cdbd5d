#include "app/TrayProgram.h"

#include "app/Application.h"
#include "app/HeadlessHost.h"
#include "app/MainWindow.h"
#include "app/Splash.h"
#include "platform/Clock.h"
#include "platform/StopSignals.h"
#include "platform/TimeServices.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>

#include <cstdlib>

namespace kairelon {
namespace {

std::unique_ptr<CClock> MakeClock(bool dryRun) {
    if (dryRun)
        return std::make_unique<CDryRunClock>();
    return std::make_unique<CRealClock>();
}

// A display to show windows on: X11 or Wayland, or a platform chosen explicitly.
bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

} // namespace

TTrayProgram::TTrayProgram(const TrayProgramOptions& options, const QDBusConnection& bus)
    : options_(options), clock_(MakeClock(options.dryRun)), instance_(bus) {}

TTrayProgram::~TTrayProgram() {
    // A splash that has not closed itself yet (the program ended within its four seconds).
    delete splash_.data();
    mainWindow_.reset();
}

TTrayProgram::EStart TTrayProgram::Start() {
    // Requests of other starts are taken from the moment the name is ours; those that come
    // while start-up still runs (its boxes let the bus through) wait for its end.
    connect(&instance_, &CSingleInstance::ShowRequested, this, [this] { Request(ERequest::Show); });
    connect(&instance_, &CSingleInstance::QuitRequested, this, [this] { Request(ERequest::Quit); });
    if (instance_.Register() == CSingleInstance::ERole::Second) {
        if (instance_.AskShowDialog())
            return EStart::HandedOver;
        std::fprintf(Err, "kairelon: the Kairelon running in this session does not answer\n");
        std::fflush(Err);
        return EStart::Failed;
    }
    const std::string folder = ProgramFolder.empty()
                                   ? QCoreApplication::applicationDirPath().toStdString()
                                   : ProgramFolder;

    // The main window, hidden; its FormCreate installs the tray icon.
    mainWindow_ = std::make_unique<TMainWindow>(Clock != nullptr ? *Clock : *clock_);
    TMainWindow& window = *mainWindow_;
    window.Engine().DryRun = options_.dryRun;
    if (Clock == nullptr) {
        // Another time service only fights the machine's own clock, not one a caller injected.
        window.Engine().TimeServiceCheck = [] { return OtherTimeService(); };
    }
    window.ProgramFolder = folder;
    connect(&window, &TMainWindow::ProtocolEntryAdded, this, &TTrayProgram::ProtocolEntryAdded);
    connect(&window, &TMainWindow::MessageBoxShown, this, &TTrayProgram::MessageBoxShown);
    connect(&window, &TMainWindow::ApplicationTerminate, this, [] { QCoreApplication::exit(0); });
    connect(&window.Tray(), &TTrayIcon::Placed, this, &TTrayProgram::Placed);
    if (Arrange)
        Arrange(window);
    window.FormCreate();

    const std::string logoLibrary = LogoLibraryPath(folder);
    window.CreateOptionStores();

    // The splash, painted at once; it closes itself once start-up lets events through and its
    // four seconds are over. Input and other processes' requests wait until start-up is done.
    splash_ = new TfrmSplash;
    splash_->PrepareSplash(logoLibrary);
    splash_->show();
    splash_->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::ExcludeSocketNotifiers);

    window.InitializeMainWindow();

    startedUp_ = true;
    // What was asked during start-up is done once the event loop runs: a quit before a show.
    if (quitPending_ || showPending_) {
        const ERequest pending = quitPending_ ? ERequest::Quit : ERequest::Show;
        quitPending_ = showPending_ = false;
        QMetaObject::invokeMethod(
            this, [this, pending] { Request(pending); }, Qt::QueuedConnection);
    }
    return EStart::Started;
}

void TTrayProgram::Request(ERequest request) {
    if (!startedUp_ || !mainWindow_) {
        (request == ERequest::Quit ? quitPending_ : showPending_) = true;
        return;
    }
    if (request == ERequest::Quit)
        mainWindow_->QuitRequest();
    else
        mainWindow_->ShowRequest();
}

void TTrayProgram::Stop() {
    // The session ends: as a quit request, without the question; the caller ends the loops.
    stopRequested_ = true;
    if (startedUp_ && mainWindow_)
        mainWindow_->QuitRequest();
}

int TTrayProgram::Exec() {
    // A stop that came during start-up (its boxes ran the event loop) ends the program now.
    if (!stopRequested_)
        QCoreApplication::exec();
    if (mainWindow_)
        mainWindow_->FormDestroy();
    return 0;
}

void TTrayProgram::ProtocolEntryAdded(const ProtocolItem& item) {
    std::fprintf(Out, "%s\n", HeadlessHost::EntryLine(item).c_str());
    std::fflush(Out);
}

void TTrayProgram::MessageBoxShown(const QString& caption, const QString& text) {
    std::fprintf(Err, "message: %s: %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
    std::fflush(Err);
}

void TTrayProgram::Placed(const QRect& geometry) {
    if (geometry.isEmpty()) {
        std::fprintf(Out, "tray: icon not shown\n");
    } else {
        std::fprintf(Out, "tray: icon shown at %d,%d size %dx%d\n", geometry.x(), geometry.y(),
                     geometry.width(), geometry.height());
    }
    std::fflush(Out);
}

int RunTrayProgram(int argc, char** argv, const TrayProgramOptions& options) {
    if (!HasDisplay()) {
        std::fprintf(stderr, "kairelon: no display for the tray program (DISPLAY is not set); "
                             "without a display use --headless or --sync-now\n");
        return 1;
    }
    int appArgc = argc;
    TApplication app(appArgc, argv);
    try {
        TTrayProgram program(options);
        // The session ends a tray program with SIGTERM at logout: it ends in order, with
        // status 0, as `--quit` ends it.
        QuitOnStopSignals([&program](int) { program.Stop(); });
        switch (program.Start()) {
        case TTrayProgram::EStart::HandedOver:
            return 0;
        case TTrayProgram::EStart::Failed:
            return 1;
        case TTrayProgram::EStart::Started:
            break;
        }
        return program.Exec();
    } catch (const std::exception& error) {
        // Start-up or the end failed: the exception box, then the program ends.
        ShowExceptionBox(error);
    }
    return 0;
}

int RunQuitRequest(const QDBusConnection& bus, std::FILE* err) {
    const QString name = QString::fromLatin1(CSingleInstance::ServiceName);
    if (!bus.isConnected() || bus.interface() == nullptr) {
        std::fprintf(err, "kairelon: no session bus, so no tray program to ask\n");
        return 1;
    }
    if (!bus.interface()->isServiceRegistered(name).value()) {
        std::fprintf(err, "kairelon: no Kairelon runs in this session\n");
        return 1;
    }
    CSingleInstance asker(bus);
    if (!asker.AskQuit()) {
        std::fprintf(err, "kairelon: the Kairelon running in this session did not answer\n");
        return 1;
    }
    return 0;
}

int RunTrayRequest(int argc, char** argv, const TrayRequest& request) {
    if (request.quit) {
        QCoreApplication app(argc, argv); // an event loop for the bus, no display
        return RunQuitRequest();
    }
    return RunTrayProgram(argc, argv, TrayProgramOptions{request.dryRun});
}

} // namespace kairelon
