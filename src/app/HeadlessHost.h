// The headless modes of `kairelon`: one synchronisation run (`--sync-now`) and
// the scheduler without a display (`--headless`).
//
// `HeadlessHost` stands in for the main window: every protocol entry, as it
// is added, becomes one line on standard output ("info: ", "warning: " or
// "error: " and the entry text), and a message box of the start-up becomes
// "message: <caption>: <text>" on standard error. Both modes run on a plain
// QCoreApplication and start up and shut down the engine exactly as the tray
// program does.
#pragma once

#include "sync/SyncEngine.h"

#include <cstdio>
#include <optional>
#include <string>

namespace kairelon {

class HeadlessHost : public SyncHost {
public:
    HeadlessHost(std::FILE* out = stdout, std::FILE* err = stderr) : out_(out), err_(err) {}

    void ProtocolChanged(const ProtocolItem* item) override;
    void SetDialogEnabled(bool) override {}
    void SetUptimeCaption(const std::string&) override {}
    bool MessageBox(const std::string& text, const std::string& caption,
                    MessageBoxStyle style) override;
    void SetSyncCommandEnabled(bool) override {}
    void Beep() override;

    static std::string EntryLine(const ProtocolItem& item);
    // A line of the program's own on standard output, not a protocol entry ("next run: ...").
    void Line(const std::string& text);

private:
    std::FILE* out_;
    std::FILE* err_;
};

struct HeadlessOptions {
    std::optional<std::string> server; // "host" or "host:port", for this run only
    bool dryRun = false;
};

// Both need a QCoreApplication. RunSyncNow returns 0, 1 or 2 for a result of
// kind 1, 2 or 3. SIGTERM or SIGINT ends its run at once (a dial is given up and called off,
// the wait for the server aborted, a connection it dialled hung up) and then the program, with
// the line "stopped on SIGTERM" (or SIGINT) after the run's result.
//
// RunHeadless holds a lock on the settings folder ("headless.lock" beside the per-user
// settings) and refuses to start (1) while another holds it. After the start-up it prints
// when the next run comes ("next run: ..."). SIGTERM or SIGINT aborts a run in progress and
// ends it with the line "stopped on SIGTERM" (or SIGINT) and 0; SIGHUP reads the settings
// again as the dialog's OK does and prints the next run again.
int RunSyncNow(const HeadlessOptions& options);
int RunHeadless(const HeadlessOptions& options);

} // namespace kairelon
