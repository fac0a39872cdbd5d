#include "app/MainWindow.h"

#include "app/InfoWindow.h"
#include "app/Plasma.h"
#include "app/frmOptions.h"
#include "controls/UserPrompt.h"
#include "framework/Format.h"
#include "framework/StringTable.h"
#include "settings/SettingsTable.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>

#include <algorithm>

namespace kairelon {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

TMainWindow::TMainWindow(CClock& clock, QObject* parent) : QObject(parent), engine_(*this, clock) {
    frmOptions_ = std::make_unique<TfrmOptions>(engine_, *this);
    connect(frmOptions_.get(), &TfrmOptions::HelpRequested, this, &TMainWindow::mnuHilfeClick);

    tray_.DialogShown = [this] { return frmOptions_->isVisible(); };
    tray_.Busy = [this] { return engine_.Busy; };
    tray_.RaiseOpenWindow = [this] { return RaiseOpenModalBox(); };
    connect(&tray_, &TTrayIcon::OptionsRequested, this, &TMainWindow::mnuOptionenClick);
    connect(&tray_, &TTrayIcon::SyncRequested, this, &TMainWindow::mnuSyncClick);
    connect(&tray_, &TTrayIcon::HelpRequested, this, &TMainWindow::mnuHilfeClick);
    connect(&tray_, &TTrayIcon::InfoRequested, this, &TMainWindow::mnuInfoClick);
    connect(&tray_, &TTrayIcon::QuitRequested, this, &TMainWindow::mnuBeendenClick);
    connect(&tray_, &TTrayIcon::IconLoadFailed, this, [this](const QString& reason) {
        MessageBox(reason.toStdString(), "LoadIcon()", MessageBoxStyle::Warning);
    });

    // The engine connected its own handlers when it was made: these run after them, once the
    // tick or the catch-up has returned and released Busy.
    connect(&engine_.tGetTime, &QTimer::timeout, this, &TMainWindow::EngineHandlerReturned);
    connect(&engine_.tCatchUp, &QTimer::timeout, this, &TMainWindow::EngineHandlerReturned);
    // Queued: the dialog never opens inside the handler that ended the run.
    connect(
        this, &TMainWindow::RunEnded, this,
        [this] {
            if (showPending_) {
                showPending_ = false;
                ShowRequest();
            }
        },
        Qt::QueuedConnection);

    tTrayWait.setSingleShot(true);
    connect(&tTrayWait, &QTimer::timeout, this, &TMainWindow::tTrayWaitTimer);
}

TMainWindow::~TMainWindow() {
    FormDestroy();
}

TPlasmaStrip& TMainWindow::Plasma() {
    return frmOptions_->Plasma();
}

void TMainWindow::FormCreate() {
    // The fields have their initial values since the engine was made.
    if (AddTrayIcon())
        return;
    trayWaitLeft_ = TrayWaitMs;
    tTrayWait.start(std::min(TrayRetryMs, trayWaitLeft_));
}

void TMainWindow::tTrayWaitTimer() {
    // The icon is shown as soon as a notification area appears; until the wait is over, only
    // whether one did is asked.
    if (tray_.TrayAvailable && tray_.TrayAvailable())
        return;
    trayWaitLeft_ -= TrayRetryMs;
    if (trayWaitLeft_ > 0) {
        tTrayWait.start(std::min(TrayRetryMs, trayWaitLeft_));
        return;
    }
    MessageBox(LoadStr(4210), LoadStr(2004), MessageBoxStyle::Warning);
}

bool TMainWindow::AddTrayIcon() {
    return tray_.AddTrayIcon();
}

void TMainWindow::RemoveTrayIcon() {
    tray_.RemoveTrayIcon();
}

void TMainWindow::SetMenuCaptions() {
    tray_.SetMenuCaptions();
}

void TMainWindow::CreateOptionStores() {
    engine_.CreateOptionStores();
}

void TMainWindow::InitializeMainWindow() {
    engine_.InitializeDialUp();
    SetMenuCaptions();
    frmOptions_->InitializeDialog();
    engine_.InitializeSchedule();
}

void TMainWindow::FormDestroy() {
    if (formDestroyed_)
        return;
    formDestroyed_ = true;
    tTrayWait.stop();
    engine_.FormDestroy();
    frmOptions_->Plasma().Stop();
    RemoveTrayIcon();
}

void TMainWindow::ShowModal() {
    frmOptions_->ShowModal();
}

bool TMainWindow::RaiseOpenModalBox() {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr && frmOptions_->isVisible())
        box = frmOptions_.get();
    if (box == nullptr)
        return false;
    box->raise();
    box->activateWindow();
    return true;
}

void TMainWindow::mnuOptionenClick() {
    // The menu may have been open since before a synchronisation started: the command is
    // judged now. Shown inside a run's wait, the dialog would stay disabled and the run could
    // never return to its end.
    if (RaiseOpenModalBox())
        return;
    if (engine_.Busy) {
        Beep();
        return;
    }
    ShowModal();
}

void TMainWindow::mnuSyncClick() {
    engine_.mnuSyncClick();
    EngineHandlerReturned();
}

void TMainWindow::mnuHilfeClick() {
    const std::string folder = ProgramFolder.empty()
                                   ? QCoreApplication::applicationDirPath().toStdString()
                                   : ProgramFolder;
    if (!OpenHelp(folder, HelpOpener))
        MessageBox(Format(LoadStr(4180), HelpPageName), LoadStr(2004), MessageBoxStyle::Warning);
}

void TMainWindow::mnuInfoClick() {
    // As "Optionen...": a modal window opened inside a run's wait holds the run up.
    if (engine_.Busy) {
        Beep();
        return;
    }
    ShowInfoWindow(frmOptions_.get());
}

void TMainWindow::mnuBeendenClick() {
    const bool ask = engine_.LocalOptions ? engine_.LocalOptions->Read(settings::AskOnShutdown)
                                          : settings::AskOnShutdown.defaultValue;
    if (ask) {
        // A scheduled run may start while the question stands; the box's answer then comes
        // back only when that run returns. "Ja" aborts its query the moment it is clicked.
        const std::string question = LoadStr(1038);
        QPointer<TMainWindow> self(this);
        QTimer::singleShot(0, this, [this, question] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!askingQuit_ || box == nullptr || box->text() != Q(question))
                return;
            connect(box, &QMessageBox::buttonClicked, this, [this, box](QAbstractButton* button) {
                if (box->buttonRole(button) == QMessageBox::YesRole)
                    engine_.NTP.Abort();
            });
        });
        askingQuit_ = true;
        const bool yes = MessageBox(question, LoadStr(2006), MessageBoxStyle::Question);
        if (self.isNull())
            return;
        askingQuit_ = false;
        if (!yes)
            return;
    }
    QuitRequest();
}

void TMainWindow::ShowRequest() {
    // Whatever modal window of ours is open (the dialog itself, a question, the info window)
    // comes to the front; the dialog never opens over a pending question.
    if (RaiseOpenModalBox())
        return;
    if (engine_.Busy) {
        // Asked from the applications menu: shown when the run has ended.
        showPending_ = true;
        return;
    }
    ShowModal();
}

void TMainWindow::QuitRequest() {
    showPending_ = false;
    if (frmOptions_->isVisible())
        frmOptions_->reject();
    // A run waiting for its server ends now rather than at its time-out; the event loop can
    // only end once the run has returned.
    engine_.NTP.Abort();
    emit ApplicationTerminate();
}

void TMainWindow::EngineHandlerReturned() {
    if (runSeen_ && !engine_.Busy) {
        runSeen_ = false;
        emit RunEnded();
    }
}

void TMainWindow::ProtocolChanged(const ProtocolItem* item) {
    frmOptions_->ProtocolChanged(item);
    if (item != nullptr)
        emit ProtocolEntryAdded(*item);
}

void TMainWindow::SetDialogEnabled(bool enabled) {
    frmOptions_->SetDialogEnabled(enabled);
    // The dialog is disabled exactly while a run talks to its server.
    if (!enabled)
        runSeen_ = true;
    tray_.SetRunInProgress(!enabled);
}

void TMainWindow::SetUptimeCaption(const std::string& caption) {
    frmOptions_->SetUptimeCaption(caption);
}

bool TMainWindow::MessageBox(const std::string& text, const std::string& caption,
                             MessageBoxStyle style) {
    emit MessageBoxShown(Q(caption), Q(text));
    QWidget* owner = frmOptions_->isVisible() ? frmOptions_.get() : nullptr;
    return UserPrompt::MessageBox(owner, text, caption, style);
}

void TMainWindow::SetSyncCommandEnabled(bool enabled) {
    if (syncCommandEnabled_ != enabled) {
        syncCommandEnabled_ = enabled;
        tray_.SetSyncCommandEnabled(enabled);
        emit SyncCommandEnabledChanged(enabled);
    }
}

void TMainWindow::Beep() {
    UserPrompt::Beep();
}

} // namespace kairelon
