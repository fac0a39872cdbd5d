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
// behaviour stays in the engine. The tray icon and menu, the help page and the animation of
// the strip are not here.
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

class TfrmOptions : public QDialog, public SyncHost {
    Q_OBJECT

public:
    explicit TfrmOptions(CClock& clock, QWidget* parent = nullptr);
    ~TfrmOptions() override;

    TSyncEngine& Engine() { return engine_; }

    // Start-up, in this order (seams such as Engine().RasLoader are set before).
    void CreateOptionStores();
    void InitializeMainWindow();

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

signals:
    void SyncCommandEnabledChanged(bool enabled);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void FillLists();
    void SetPagePictures();
    void ShowException(const std::exception& error);

    const std::unique_ptr<Ui::TfrmOptions> m_ui;
    TSyncEngine engine_;
    bool syncCommandEnabled_ = true;
    // The stored "RASConnection" when the phonebook list could not be filled: written back
    // unchanged instead of the empty list's text.
    std::optional<std::string> keptRasConnection_;
};

} // namespace kairelon
