// The program's main window: the host of the engine behind the tray icon.
//
// `TMainWindow` owns the synchronisation engine and is its `SyncHost`: protocol entries and
// the running time go to the options dialog, message boxes through the prompt seam (over the
// dialog while it is shown), and it keeps the busy state the menu shows (a run in progress,
// "Synchronisieren" offered). It owns the dialog (`TfrmOptions`, hidden until it is shown
// modally) and the tray icon with its menu (`TTrayIcon`), and carries the main window's
// operations under their names: the start-up steps (`FormCreate` with the wait for a
// notification area, `CreateOptionStores`, `InitializeMainWindow`), the menu commands, the
// quit question, the requests of other starts (show, quit) and the order of destruction
// (`FormDestroy`).
//
// When a busy period of the engine that ran a synchronisation has ended (the menu's run, the
// scheduler's tick, the catch-up), it says so with `RunEnded`; a show request that came while
// the run was in progress is done then. It does not print anything: whoever wants the
// protocol or the boxes as lines connects to `ProtocolEntryAdded` and `MessageBoxShown` (the
// tray program's entry does). Every synchronisation behaviour stays in the engine, every
// control in the dialog, the click rules in the tray.
#pragma once

#include "app/Help.h"
#include "app/TrayIcon.h"
#include "sync/SyncEngine.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>

namespace kairelon {

class TfrmOptions;
class TPlasmaStrip;

class TMainWindow : public QObject, public SyncHost {
    Q_OBJECT

public:
    explicit TMainWindow(CClock& clock, QObject* parent = nullptr);
    ~TMainWindow() override;

    TSyncEngine& Engine() { return engine_; }
    TTrayIcon& Tray() { return tray_; }
    TfrmOptions& frmOptions() { return *frmOptions_; }
    TPlasmaStrip& Plasma();

    // Start-up, in this order (seams such as Engine().RasLoader are set before). FormCreate
    // installs the tray icon; a desktop whose notification area is not there yet gets
    // TrayWaitMs to bring one before the "Warnung" box (4210) tells the user.
    void FormCreate();
    void CreateOptionStores();
    // The engine's dial-up binding, the menu captions, the dialog's steps, then the engine's
    // schedule.
    void InitializeMainWindow();
    // The end, when the event loop has ended: the engine's destruction (Closing, timer,
    // stores, dial-up binding), the animation stopped, then the tray icon removed. Runs once.
    void FormDestroy();

    bool AddTrayIcon();
    void RemoveTrayIcon();
    void SetMenuCaptions();

    // Shows the dialog modally; returns when it is closed (it is then hidden again).
    void ShowModal();

    // Menu commands. Each is judged when it is chosen (the menu may have opened before a run
    // started): "Optionen...", "Synchronisieren" and "Info..." beep while a run is in progress.
    void mnuOptionenClick();
    void mnuSyncClick();
    void mnuHilfeClick();
    void mnuInfoClick();
    // Quits after the question 1038 when "AskOnShutdown" is set (No is the default).
    void mnuBeendenClick();

    // Requests of another start of the program in this session: show the dialog (when a
    // modal window of ours is open, the dialog or a question, that one is brought to the front
    // instead; otherwise shown once a running synchronisation has ended, `RunEnded`), or quit
    // at once (the dialog closes and a running exchange is aborted; no question, the user
    // asked on the command line or the session ends). The quit command ends the same way once
    // it is confirmed.
    void ShowRequest();
    void QuitRequest();

    // SyncHost.
    void ProtocolChanged(const ProtocolItem* item) override;
    void SetDialogEnabled(bool enabled) override;
    void SetUptimeCaption(const std::string& caption) override;
    bool MessageBox(const std::string& text, const std::string& caption,
                    MessageBoxStyle style) override;
    void SetSyncCommandEnabled(bool enabled) override;
    void Beep() override;

    // Whether the menu command "Synchronisieren" is offered.
    bool SyncCommandEnabled() const { return syncCommandEnabled_; }

    // Seams: the folder the help page is looked for from (the program's folder when empty),
    // how it is opened.
    std::string ProgramFolder;
    UrlOpener HelpOpener = DesktopUrlOpener();
    // Milliseconds FormCreate waits for a notification area, asking every TrayRetryMs.
    int TrayWaitMs = 10000;
    int TrayRetryMs = 500;

signals:
    void SyncCommandEnabledChanged(bool enabled);
    // The quit command was confirmed: the application is to end its event loop.
    void ApplicationTerminate();
    // A busy period of the engine in which a synchronisation ran is over (Busy is clear).
    void RunEnded();
    // A protocol entry was added, as it happens.
    void ProtocolEntryAdded(const kairelon::ProtocolItem& item);
    // A message box is about to be shown.
    void MessageBoxShown(const QString& caption, const QString& text);

private:
    // Brings the open modal window of ours (or the shown dialog) to the front; false when
    // none is open.
    bool RaiseOpenModalBox();
    // After each handler of the engine that may run a synchronisation: RunEnded when one ran
    // and the engine is no longer busy.
    void EngineHandlerReturned();
    void tTrayWaitTimer();

    // Declared before the engine, so the dialog outlives it: the engine's last protocol
    // changes still reach the dialog.
    std::unique_ptr<TfrmOptions> frmOptions_;
    TSyncEngine engine_;
    TTrayIcon tray_;
    QTimer tTrayWait;      // asks again for a notification area after start
    int trayWaitLeft_ = 0; // milliseconds
    bool formDestroyed_ = false;
    bool syncCommandEnabled_ = true;
    bool runSeen_ = false;     // a run has disabled the dialog since the last RunEnded
    bool showPending_ = false; // a show request waits for the run's end
    bool askingQuit_ = false;  // the quit question stands
};

} // namespace kairelon
