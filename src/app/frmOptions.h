// The options dialog.
//
// `TfrmOptions` is the tabbed dialog of the window definition frmOptions.ui: the pages Server,
// Intervall, Zeitzone, RAS, Protokoll and Monitor, the activity strip `imgPlasma` (running only
// while the dialog is shown), and the Hilfe, OK and Abbrechen buttons, at a fixed size of
// 363 x 319 in an 8-point sans-serif font. Its work is the window's part of start-up (captions,
// lists, server list, time-zone page, phonebook list, settings), loading the controls from the
// per-user store once, checking and writing them back on OK (then the engine's apply step), and
// the enable rules while the user edits. It shows what the engine's host passes on: protocol
// entries on the Protokoll page, the running time on the Monitor page, a run's disabling.
//
// It owns neither the engine nor the message boxes: both belong to the main window
// (`TMainWindow`), which makes the dialog, hands it the engine and itself as the host the
// boxes go through, and shows it modally (`ShowModal`). It knows nothing of the tray icon; its
// "Hilfe" button asks for the help (`HelpRequested`) as the menu's item does.
#pragma once

#include "sync/SyncEngine.h"
#include "sync/TimeZoneInfo.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class TfrmOptions;
}

namespace kairelon {

class TPlasmaStrip;

class TfrmOptions : public QDialog {
    Q_OBJECT

public:
    // `engine` is the engine the dialog edits the settings of; `host` shows its message boxes.
    TfrmOptions(TSyncEngine& engine, SyncHost& host, QWidget* parent = nullptr);
    ~TfrmOptions() override;

    TPlasmaStrip& Plasma();

    // The dialog's steps of the main window's initialisation, in this order: window and page
    // captions, the lists, the server list (1003 when it is empty), the time-zone page (1004
    // when it fails), the phonebook list or `chkConnect` disabled, the settings, the
    // animation's buffers, `chkService` disabled where the service route is not offered.
    void InitializeDialog();

    // Shows the dialog modally; returns when it is closed (it is then hidden again).
    void ShowModal();

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

    // What the engine's host passes on to the dialog.
    void ProtocolChanged(const ProtocolItem* item);
    // Enables or disables the dialog and its OK and Cancel buttons.
    void SetDialogEnabled(bool enabled);
    void SetUptimeCaption(const std::string& caption);

    // Seam: where the time-zone page takes the zone from (the system's record by default).
    std::function<TTimeZoneDisplay()> TimeZoneSource = [] { return kairelon::ShowTimeZoneInfo(); };

signals:
    // The "Hilfe" button.
    void HelpRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void done(int result) override;

private:
    void FillLists();
    void SetPagePictures();
    bool MessageBox(const std::string& text, const std::string& caption, MessageBoxStyle style);
    void ShowException(const std::exception& error);

    const std::unique_ptr<Ui::TfrmOptions> m_ui;
    TSyncEngine& engine_;
    SyncHost& host_;
    // The stored "RASConnection" when the phonebook list could not be filled: written back
    // unchanged instead of the empty list's text.
    std::optional<std::string> keptRasConnection_;
};

} // namespace kairelon
