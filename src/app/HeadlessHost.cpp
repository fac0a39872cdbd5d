#include "app/HeadlessHost.h"

#include "diag/ProtocolEntry.h"
#include "platform/Clock.h"
#include "platform/StopSignals.h"

#include <QCoreApplication>

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

namespace {

std::unique_ptr<CClock> MakeClock(bool dryRun) {
    if (dryRun) {
        return std::make_unique<CDryRunClock>();
    }
    return std::make_unique<CRealClock>();
}

void StartUp(TSyncEngine& engine, const HeadlessOptions& options) {
    engine.DryRun = options.dryRun;
    engine.ServerOverride = options.server;
    engine.CreateOptionStores();
    engine.InitializeEngine();
}

} // namespace

int RunSyncNow(const HeadlessOptions& options) {
    HeadlessHost host;
    const std::unique_ptr<CClock> clock = MakeClock(options.dryRun);
    TSyncEngine engine(host, *clock);
    StartUp(engine, options);
    engine.mnuSyncClick();
    const std::optional<int> kind = engine.LastResultKind;
    engine.FormDestroy();
    return ExitStatusOfKind(kind.value_or(ekError));
}

int RunHeadless(const HeadlessOptions& options) {
    QuitOnStopSignals();
    HeadlessHost host;
    const std::unique_ptr<CClock> clock = MakeClock(options.dryRun);
    TSyncEngine engine(host, *clock);
    StartUp(engine, options);
    QCoreApplication::exec();
    engine.FormDestroy();
    return 0;
}

} // namespace kairelon
