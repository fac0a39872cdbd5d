#include "app/HeadlessHost.h"

#include "diag/ProtocolEntry.h"
#include "platform/Clock.h"
#include "platform/InstanceLock.h"
#include "platform/RegistryFile.h"
#include "platform/StopSignals.h"
#include "platform/SystemError.h"
#include "platform/TimeServices.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <functional>
#include <memory>

namespace kairelon {

std::string HeadlessHost::EntryLine(const ProtocolItem& item) {
    const char* prefix = item.kind == ekInformation ? "info: "
                         : item.kind == ekWarning   ? "warning: "
                                                    : "error: ";
    return prefix + item.text;
}

void HeadlessHost::ProtocolChanged(const ProtocolItem* item) {
    if (item != nullptr) {
        std::fprintf(out_, "%s\n", EntryLine(*item).c_str());
        std::fflush(out_);
    }
}

bool HeadlessHost::MessageBox(const std::string& text, const std::string& caption,
                              MessageBoxStyle) {
    std::fprintf(err_, "message: %s: %s\n", caption.c_str(), text.c_str());
    std::fflush(err_);
    return true;
}

void HeadlessHost::Beep() {}

void HeadlessHost::Line(const std::string& text) {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

namespace {

constexpr int kReloadRetryMs = 200;

std::unique_ptr<CClock> MakeClock(bool dryRun) {
    if (dryRun) {
        return std::make_unique<CDryRunClock>();
    }
    return std::make_unique<CRealClock>();
}

void StartUp(TSyncEngine& engine, const HeadlessOptions& options) {
    engine.DryRun = options.dryRun;
    engine.ServerOverride = options.server;
    engine.TimeServiceCheck = [] { return OtherTimeService(); };
    engine.CreateOptionStores();
    engine.InitializeEngine();
}

// "stopped on SIGTERM", "stopped on SIGINT" or "stopped".
std::string StopLine(int signalNumber) {
    return signalNumber == SIGTERM  ? "stopped on SIGTERM"
           : signalNumber == SIGINT ? "stopped on SIGINT"
                                    : "stopped";
}

} // namespace

int RunSyncNow(const HeadlessOptions& options) {
    HeadlessHost host;
    const std::unique_ptr<CClock> clock = MakeClock(options.dryRun);
    TSyncEngine engine(host, *clock);
    // A stop ends the run instead of the process: a dial in progress is given up (the dial-up
    // layer watches for the stop), a wait for the server is aborted, and the run's closing
    // block hangs up what it dialled before the program ends.
    QuitOnStopSignals([&engine](int) { engine.NTP.Abort(); });
    StartUp(engine, options);
    if (ReceivedStopSignal() == 0) {
        engine.mnuSyncClick();
    }
    const std::optional<int> kind = engine.LastResultKind;
    engine.FormDestroy();
    if (const int signalNumber = ReceivedStopSignal(); signalNumber != 0) {
        host.Line(StopLine(signalNumber));
    }
    return ExitStatusOfKind(kind.value_or(ekError));
}

std::string HeadlessLockPath() {
    const std::string userFile = RegistryFilePath(RegistryRoot::CurrentUser);
    const std::size_t slash = userFile.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : userFile.substr(0, slash)) +
           "/headless.lock";
}

void ReloadSettings(TSyncEngine& engine, HeadlessHost& host) {
    if (engine.ApplyStoredOptions().empty()) {
        // No server any more: nothing runs until one is configured and read again.
        engine.tGetTime.stop();
        engine.Configured = false;
        host.SetSyncCommandEnabled(false);
    } else {
        engine.ApplyDialogOptions();
    }
    host.Line("settings read again (SIGHUP)");
    host.Line(engine.NextRunText());
}

int RunHeadless(const HeadlessOptions& options) {
    HeadlessHost host;
    // Two schedulers on the same settings would run every synchronisation twice.
    const TInstanceLock lock = TInstanceLock::Acquire(HeadlessLockPath());
    if (lock.Result() == TInstanceLock::Outcome::Busy) {
        std::fprintf(stderr,
                     "kairelon: another 'kairelon --headless' (process %ld) already runs on the "
                     "settings in %s\n",
                     lock.Holder(), lock.Path().substr(0, lock.Path().find_last_of('/')).c_str());
        return 1;
    }
    if (!lock.Held()) {
        std::fprintf(stderr,
                     "kairelon: warning: cannot lock %s (%s): a second 'kairelon --headless' on "
                     "these settings would not be noticed\n",
                     lock.Path().c_str(),
                     SystemErrorText(static_cast<std::uint32_t>(lock.Error())).c_str());
    }
    const std::unique_ptr<CClock> clock = MakeClock(options.dryRun);
    TSyncEngine engine(host, *clock);
    // A stop ends a run in progress at once (its result says it was aborted); the loop ends
    // as soon as the run has returned.
    QuitOnStopSignals([&engine](int) {
        engine.tGetTime.stop();
        engine.NTP.Abort();
    });
    StartUp(engine, options);
    host.Line(engine.NextRunText());
    // SIGHUP reads the settings again as the dialog's OK does; during a run, once it is over.
    std::function<void()> reload;
    reload = [&] {
        if (engine.Busy) {
            QTimer::singleShot(kReloadRetryMs, QCoreApplication::instance(), reload);
            return;
        }
        ReloadSettings(engine, host);
    };
    ReloadOnHangUp(reload);
    QCoreApplication::exec();
    engine.FormDestroy();
    host.Line(StopLine(ReceivedStopSignal()));
    return 0;
}

} // namespace kairelon
