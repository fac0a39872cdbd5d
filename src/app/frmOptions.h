// The options dialog, the program's one real window, and the host of the engine.
//
// `TfrmOptions` is the tabbed dialog of the window definition frmOptions.ui: the pages Server,
// Intervall, Zeitzone, RAS, Protokoll and Monitor, the activity strip, and the Hilfe, OK and
// Abbrechen buttons, at a fixed size of 363 x 319 in an 8-point sans-serif font. It owns the
// synchronisation engine and is its `SyncHost`: protocol entries go to the Protokoll page, the
// running time to the Monitor page, message boxes through the prompt seam. The dialog's own
// work is the window's part of start-up (captions, lists, server list, time-zone page,
// phonebook list, settings), loading the controls from the per-user store once, checking and
// writing them back on OK, and the enable rules while the user edits. Every synchronisation
// behaviour stays in the engine.
//
// As the program's main window it also carries the tray icon and its menu (`TTrayIcon`), the
// activity strip `imgPlasma` (running only while the dialog is shown), the menu commands, the
// quit question and the order of destruction. The program entry creates it hidden and shows
// it only modally (`ShowModal`).
#pragma once

#include "app/Help.h"
#include "app/TrayIcon.h"
#include "sync/SyncEngine.h"
#include "sync/TimeZoneInfo.h"

#include <QCursor>
#include <QDialog>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class TfrmOptions;
}

namespace kairelon {

class TPlasmaStrip;

class TfrmOptions : public QDialog, public SyncHost {
    Q_OBJECT

public:
    explicit TfrmOptions(CClock& clock, QWidget* parent = nullptr);
    ~TfrmOptions() override;

    TSyncEngine& Engine() { return engine_; }
    TTrayIcon& Tray() { return tray_; }
    TPlasmaStrip& Plasma();

    // Start-up, in this order (seams such as Engine().RasLoader are set before). FormCreate
    // installs the tray icon; a desktop whose notification area is not there yet gets
    // TrayWaitMs to bring one before the "Warnung" box tells the user.
    void FormCreate();
    void CreateOptionStores();
    void InitializeMainWindow();
    // The end, when the event loop has ended: the engine's destruction (Closing, timer,
    // stores, dial-up binding), the animation stopped, then the tray icon removed. Runs once.
    void FormDestroy();

    bool AddTrayIcon();
    void RemoveTrayIcon();
    void SetMenuCaptions();

    // Shows the dialog modally; returns when it is closed (it is then hidden again).
    void ShowModal();
    // A mouse message of the tray icon: nothing while the dialog is shown; a double click
    // shows the dialog and a right-button press opens the menu at the cursor, each only when
    // no synchronisation runs (a beep otherwise) and no question is open (that one comes to
    // the front).
    void TrayIconMessage(ETrayMouse message);

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
    // instead; otherwise shown as soon as a running synchronisation ends), or quit at once
    // (the dialog closes and a running exchange is aborted; no question, the user asked on
    // the command line or the session ends). The quit command ends the same way once it is
    // confirmed.
    void ShowRequest();
    void QuitRequest();

    // Fills cmbServer from "server.ini" (created empty when missing); the number of entries.
    int LoadServerList();
    // Fills the time-zone page; false when the zone could not be determined.
    bool ShowTimeZoneInfo();
    // Sets every control from the per-user store (once, at start-up).
    void LoadSettings();
    // Checks the controls (1032, 1033, 1041) and writes the server list and every setting;
    // false after a refused check, with nothing written. A refused write raises the store's
    // or the file's exception: what was written before it stays written.
    bool SaveSettings();

    // Handlers.
    void btnOkayClick();
    void btnCancelClick();
    void btnDelClick();
    void btnDelProtClick();
    void cmbServerExit();
    void chkConnectClick();
    void optAbsClick(QObject* Sender);
    void chkMaxAbweichClick();
    void chkServiceClick();
    void txtStundeExit();
    void txtMinuteExit();

    // SyncHost.
    void ProtocolChanged(const ProtocolItem* item) override;
    void SetDialogEnabled(bool enabled) override;
    void SetUptimeCaption(const std::string& caption) override;
    bool MessageBox(const std::string& text, const std::string& caption,
                    MessageBoxStyle style) override;
    void SetSyncCommandEnabled(bool enabled) override;
    void Beep() override;

    // Whether the menu command "Synchronisieren" is offered (the tray reads it).
    bool SyncCommandEnabled() const { return syncCommandEnabled_; }

    // Seam: where the time-zone page takes the zone from (the system's record by default).
    std::function<TTimeZoneDisplay()> TimeZoneSource = [] { return kairelon::ShowTimeZoneInfo(); };

    // Where protocol entries are echoed as "info: ..." lines and message boxes as
    // "message: <caption>: <text>" lines, as they happen; null: nowhere.
    std::FILE* ProtocolEcho = nullptr;
    std::FILE* MessageEcho = nullptr;
    // Seams: the folder the help page is looked for from (the program's folder when empty),
    // how it is opened, where the mouse cursor is.
    std::string ProgramFolder;
    UrlOpener HelpOpener = DesktopUrlOpener();
    std::function<QPoint()> CursorPos = [] { return QCursor::pos(); };
    // Milliseconds FormCreate waits for a notification area, asking every TrayRetryMs.
    int TrayWaitMs = 10000;
    int TrayRetryMs = 500;

signals:
    void SyncCommandEnabledChanged(bool enabled);
    // The quit command was confirmed: the application is to end its event loop.
    void ApplicationTerminate();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void done(int result) override;

private:
    void FillLists();
    void SetPagePictures();
    // Brings the open modal window of ours (or the shown dialog) to the front; false when
    // none is open.
    bool RaiseOpenModalBox();
    // The menu's enabled state: "Synchronisieren" only with a server, and on a menu drawn by
    // a StatusNotifier host the commands a run refuses greyed out while one is in progress.
    void UpdateMenuState();
    void ShowException(const std::exception& error);
    void tTrayWaitTimer();

    const std::unique_ptr<Ui::TfrmOptions> m_ui;
    TSyncEngine engine_;
    TTrayIcon tray_;
    QTimer tTrayWait;      // asks again for a notification area after start
    int trayWaitLeft_ = 0; // milliseconds
    bool formDestroyed_ = false;
    bool syncCommandEnabled_ = true;
    bool runInProgress_ = false; // a run has disabled the dialog
    bool askingQuit_ = false;    // the quit question stands
    // The stored "RASConnection" when the phonebook list could not be filled: written back
    // unchanged instead of the empty list's text.
    std::optional<std::string> keptRasConnection_;
};

} // namespace kairelon
