#include "app/frmOptions.h"

#include "ui_frmOptions.h"

#include "app/FixedFrame.h"
#include "app/Plasma.h"
#include "controls/ResCaption.h"
#include "controls/UpDown.h"
#include "diag/VersionClass.h"
#include "dialup/DialUp.h"
#include "framework/Format.h"
#include "framework/StringList.h"
#include "framework/StringTable.h"
#include "settings/ServerList.h"
#include "settings/SettingsTable.h"
#include "sync/ClockSetting.h"

#include <QApplication>
#include <QFocusEvent>
#include <QScreen>
#include <QStyle>

#include <vector>

namespace kairelon {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

// Selects the item that stands for a stored value; a value without an item leaves no
// selection.
void SelectListPosition(QComboBox* list, const IntegerSetting& setting, std::int32_t value) {
    const int position = setting.ListPosition(value);
    list->setCurrentIndex(position < list->count() ? position : -1);
}

// An up-down control with the range and step of its setting.
void SetRange(TUpDown* upDown, const IntegerSetting& setting) {
    upDown->SetMin(setting.minimum);
    upDown->SetMax(setting.maximum);
    upDown->SetIncrement(setting.step);
}

TStringList ItemsOf(const QComboBox* list) {
    TStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items.push_back(S(list->itemText(i)));
    }
    return items;
}

} // namespace

TfrmOptions::TfrmOptions(TSyncEngine& engine, SyncHost& host, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TfrmOptions>()), engine_(engine), host_(host) {
    m_ui->setupUi(this);
    LoadResourceCaptions(this);

    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(363, 319);
    SetPagePictures();
    m_ui->imgPlasma->setAutoFillBackground(true);

    SetRange(m_ui->udTimeout, settings::Timeout);
    SetRange(m_ui->udIntervall, settings::Intervall);
    SetRange(m_ui->udStunde, settings::Stunde);
    SetRange(m_ui->udMinute, settings::Minute);
    SetRange(m_ui->udMaxAbweich, settings::MaxAbweichIntervall);
    m_ui->udTimeout->SetAssociate(m_ui->txtTimeout);
    m_ui->udIntervall->SetAssociate(m_ui->txtIntervall);
    m_ui->udStunde->SetAssociate(m_ui->txtStunde);
    m_ui->udMinute->SetAssociate(m_ui->txtMinute);
    m_ui->udMaxAbweich->SetAssociate(m_ui->txtMaxAbweich);

    m_ui->lvwProtokoll->Reload(engine_.Protocol.Items());

    connect(m_ui->btnOkay, &QPushButton::clicked, this, &TfrmOptions::btnOkayClick);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &TfrmOptions::btnCancelClick);
    connect(m_ui->btnDel, &QPushButton::clicked, this, &TfrmOptions::btnDelClick);
    connect(m_ui->btnDelProt, &QPushButton::clicked, this, &TfrmOptions::btnDelProtClick);
    // A check box or radio button set from code runs its handler as a click does, whenever
    // its state changes; a radio button only when it becomes checked.
    connect(m_ui->chkConnect, &QCheckBox::toggled, this, [this] { chkConnectClick(); });
    connect(m_ui->chkMaxAbweich, &QCheckBox::toggled, this, [this] { chkMaxAbweichClick(); });
    connect(m_ui->chkService, &QCheckBox::toggled, this, [this] { chkServiceClick(); });
    for (QRadioButton* option :
         {static_cast<QRadioButton*>(m_ui->optAbs), static_cast<QRadioButton*>(m_ui->optRel)}) {
        connect(option, &QRadioButton::toggled, this, [this, option](bool checked) {
            if (checked) {
                optAbsClick(option);
            }
        });
    }
    connect(m_ui->txtStunde, &TAdvEdit::exited, this, &TfrmOptions::txtStundeExit);
    connect(m_ui->txtMinute, &TAdvEdit::exited, this, &TfrmOptions::txtMinuteExit);
    m_ui->cmbServer->installEventFilter(this);

    connect(m_ui->ResButton1, &QPushButton::clicked, this, &TfrmOptions::HelpRequested);
}

TfrmOptions::~TfrmOptions() = default;

TPlasmaStrip& TfrmOptions::Plasma() {
    return *m_ui->imgPlasma;
}

void TfrmOptions::ShowModal() {
    exec();
}

void TfrmOptions::SetPagePictures() {
    const std::pair<QLabel*, QStyle::StandardPixmap> pictures[] = {
        {m_ui->imgServer, QStyle::SP_DriveNetIcon},
        {m_ui->imgInterval, QStyle::SP_BrowserReload},
        {m_ui->imgTimezone, QStyle::SP_ComputerIcon},
        {m_ui->imgOpt, QStyle::SP_DriveNetIcon},
        {m_ui->imgProtokoll, QStyle::SP_FileDialogDetailedView},
        {m_ui->imgInfo, QStyle::SP_MessageBoxInformation},
    };
    for (const auto& [label, pixmap] : pictures) {
        label->setPixmap(style()->standardIcon(pixmap, nullptr, label).pixmap(32, 32));
    }
}

void TfrmOptions::InitializeDialog() {
    setWindowTitle(Q(LoadStr(1036)));
    m_ui->pgcOptions->setTabText(2, Q(LoadStr(1034)));
    m_ui->pgcOptions->setTabText(4, Q(LoadStr(1035)));
    m_ui->pgcOptions->setTabText(1, Q(LoadStr(1068)));
    FillLists();

    if (LoadServerList() == 0) {
        MessageBox(LoadStr(1003), LoadStr(2003), MessageBoxStyle::Information);
    }
    if (!ShowTimeZoneInfo()) {
        MessageBox(LoadStr(1004), LoadStr(2004), MessageBoxStyle::Warning);
    }
    if (engine_.RasAvailable) {
        std::vector<std::string> entries;
        FillRasEntries(*engine_.RasApi, entries);
        m_ui->cmbConn->clear();
        for (const std::string& entry : entries) {
            m_ui->cmbConn->addItem(Q(entry));
        }
        m_ui->cmbConn->setCurrentIndex(-1); // no entry chosen until the settings say so
    } else {
        m_ui->chkConnect->setEnabled(false);
    }
    LoadSettings();
    // The animation's table and frame buffer, before the steps that start the schedule.
    m_ui->imgPlasma->InitPlasma();
    if (!ClockServiceOptionAvailable()) {
        m_ui->chkService->setEnabled(false);
    }
}

void TfrmOptions::FillLists() {
    for (QComboBox* list : {m_ui->cmbEinheit, m_ui->cmbEinheit2}) {
        list->clear();
        for (int number = 1012; number <= 1014; ++number) {
            list->addItem(Q(LoadStr(number)));
        }
    }
    m_ui->cmbWochentage->clear();
    for (int number = 1060; number <= 1067; ++number) {
        m_ui->cmbWochentage->addItem(Q(LoadStr(number)));
    }
}

int TfrmOptions::LoadServerList() {
    const TStringList servers = LoadServerListFile();
    m_ui->cmbServer->clear();
    m_ui->cmbServer->setEditText(QString());
    for (const std::string& server : servers) {
        m_ui->cmbServer->addItem(Q(server));
    }
    if (!servers.empty()) {
        m_ui->cmbServer->setCurrentIndex(0);
    }
    return static_cast<int>(servers.size());
}

bool TfrmOptions::ShowTimeZoneInfo() {
    const TTimeZoneDisplay zone = TimeZoneSource();
    m_ui->txtTimeZone->setText(Q(zone.Name));
    m_ui->txtBias->setText(zone.Success ? QString::number(zone.Bias) : QString());
    return zone.Success;
}

void TfrmOptions::LoadSettings() {
    CLocalOptions& store = *engine_.LocalOptions;
    m_ui->cmbServer->setEditText(Q(store.ReadCurrentServer()));
    m_ui->udTimeout->SetPosition(store.Read(settings::Timeout));
    m_ui->udIntervall->SetPosition(store.Read(settings::Intervall));
    m_ui->udStunde->SetPosition(store.Read(settings::Stunde));
    m_ui->udMinute->SetPosition(store.Read(settings::Minute));
    m_ui->udMaxAbweich->SetPosition(store.Read(settings::MaxAbweichIntervall));

    const bool connect = store.Read(settings::ConnectRAS);
    m_ui->chkConnect->setChecked(connect);
    const bool dialUp = connect && engine_.RasAvailable;
    m_ui->cmbConn->setEnabled(dialUp);
    m_ui->txtUsername->setEnabled(dialUp);
    m_ui->txtPassword->setEnabled(dialUp);

    SelectListPosition(m_ui->cmbEinheit, settings::Einheit, store.Read(settings::Einheit));
    SelectListPosition(m_ui->cmbWochentage, settings::Wochentag, store.Read(settings::Wochentag));
    m_ui->txtUsername->setText(Q(store.ReadRasUsername()));
    m_ui->txtPassword->setText(Q(store.ReadRasPassword()));
    m_ui->chkService->setChecked(store.Read(settings::UseService));
    m_ui->chkMaxAbweich->setChecked(store.Read(settings::UseMaxAbweich));
    chkMaxAbweichClick();
    SelectListPosition(m_ui->cmbEinheit2, settings::MaxAbweichEinheit,
                       store.Read(settings::MaxAbweichEinheit));
    if (store.Read(settings::SyncModus) == 1) {
        m_ui->optAbs->setChecked(true);
        optAbsClick(m_ui->optAbs);
    } else {
        m_ui->optRel->setChecked(true);
        optAbsClick(m_ui->optRel);
    }

    const std::string connection = store.ReadRasConnection();
    const int found = IndexOfText(ItemsOf(m_ui->cmbConn), connection);
    if (found >= 0) {
        m_ui->cmbConn->setCurrentIndex(found);
    }
    // Without the dial-up layer the list is empty: OK must not replace the stored choice.
    keptRasConnection_.reset();
    if (!engine_.RasAvailable) {
        keptRasConnection_ = connection;
    }
}

bool TfrmOptions::SaveSettings() {
    const std::pair<bool, int> checks[] = {
        {m_ui->txtIntervall->GetAsInt() == 0, 1032},
        {m_ui->txtTimeout->GetAsInt() == 0, 1033},
        {m_ui->cmbServer->currentText().isEmpty(), 1041},
    };
    for (const auto& [failed, text] : checks) {
        if (failed) {
            MessageBox(LoadStr(text), LoadStr(2003), MessageBoxStyle::Information);
            return false;
        }
    }

    CLocalOptions& store = *engine_.LocalOptions;
    SaveServerListFile(ItemsOf(m_ui->cmbServer));
    store.WriteCurrentServer(S(m_ui->cmbServer->currentText()));
    store.Write(settings::Timeout, m_ui->txtTimeout->GetAsInt());
    store.Write(settings::Intervall, m_ui->txtIntervall->GetAsInt());
    store.Write(settings::ConnectRAS, m_ui->chkConnect->isChecked());
    store.Write(settings::Einheit,
                settings::Einheit.ValueOfListPosition(m_ui->cmbEinheit->currentIndex()));
    store.WriteRasConnection(keptRasConnection_ ? *keptRasConnection_
                                                : S(m_ui->cmbConn->currentText()));
    store.WriteRasPassword(S(m_ui->txtPassword->text()));
    store.WriteRasUsername(S(m_ui->txtUsername->text()));
    store.Write(settings::Stunde, m_ui->udStunde->Position());
    store.Write(settings::Minute, m_ui->udMinute->Position());
    store.Write(settings::Wochentag,
                settings::Wochentag.ValueOfListPosition(m_ui->cmbWochentage->currentIndex()));
    store.Write(settings::UseService, m_ui->chkService->isChecked());
    store.Write(settings::UseMaxAbweich, m_ui->chkMaxAbweich->isChecked());
    store.Write(settings::MaxAbweichEinheit,
                settings::MaxAbweichEinheit.ValueOfListPosition(m_ui->cmbEinheit2->currentIndex()));
    store.Write(settings::MaxAbweichIntervall, m_ui->txtMaxAbweich->GetAsInt());
    store.Write(settings::SyncModus, m_ui->optAbs->isChecked() ? 1 : 2);
    return true;
}

void TfrmOptions::ShowException(const std::exception& error) {
    MessageBox(error.what(), "Kairelon", MessageBoxStyle::Error);
}

void TfrmOptions::btnOkayClick() {
    try {
        if (!SaveSettings()) {
            return;
        }
    } catch (const std::exception& error) {
        // A refused write: what was written stays, the dialog stays open.
        ShowException(error);
        return;
    }
    engine_.ApplyDialogOptions();
    accept();
}

void TfrmOptions::btnCancelClick() {
    reject();
}

void TfrmOptions::done(int result) {
    engine_.NTP.Abort(); // a query in progress ends; the dialog closes
    QDialog::done(result);
}

void TfrmOptions::btnDelClick() {
    const QString name = m_ui->cmbServer->currentText();
    const int found = IndexOfText(ItemsOf(m_ui->cmbServer), S(name));
    if (found < 0) {
        return;
    }
    if (!MessageBox(Format(LoadStr(1030), S(name)), LoadStr(2005), MessageBoxStyle::Question)) {
        return;
    }
    m_ui->cmbServer->removeItem(found);
    m_ui->cmbServer->setEditText(QString());
    if (m_ui->cmbServer->count() > 0) {
        m_ui->cmbServer->setCurrentIndex(0);
        m_ui->cmbServer->setEditText(m_ui->cmbServer->itemText(0));
    }
}

void TfrmOptions::btnDelProtClick() {
    engine_.Protocol.DeleteAll();
}

void TfrmOptions::cmbServerExit() {
    const QString name = m_ui->cmbServer->currentText();
    if (IndexOfText(ItemsOf(m_ui->cmbServer), S(name)) < 0) {
        m_ui->cmbServer->addItem(name);
        m_ui->cmbServer->setEditText(name);
    }
}

void TfrmOptions::chkConnectClick() {
    const bool on = m_ui->chkConnect->isChecked();
    m_ui->cmbConn->setEnabled(on);
    m_ui->txtUsername->setEnabled(on);
    m_ui->txtPassword->setEnabled(on);
}

void TfrmOptions::optAbsClick(QObject* Sender) {
    const bool fixedTime = Sender->property("tag").toInt() == 1;
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_ui->txtIntervall, m_ui->cmbEinheit, m_ui->udIntervall}) {
        control->setEnabled(!fixedTime);
    }
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_ui->cmbWochentage, m_ui->txtStunde, m_ui->txtMinute,
                                         m_ui->udStunde, m_ui->udMinute}) {
        control->setEnabled(fixedTime);
    }
}

void TfrmOptions::chkMaxAbweichClick() {
    const bool on = m_ui->chkMaxAbweich->isChecked();
    m_ui->txtMaxAbweich->setEnabled(on);
    m_ui->udMaxAbweich->setEnabled(on);
    m_ui->cmbEinheit2->setEnabled(on);
}

void TfrmOptions::chkServiceClick() {
    if (!m_ui->chkService->isChecked()) {
        return;
    }
    std::string message;
    if (CheckServiceEvent(message)) {
        return;
    }
    MessageBox(message, LoadStr(2007), MessageBoxStyle::Error);
    m_ui->chkService->setChecked(false);
}

void TfrmOptions::txtStundeExit() {
    if (m_ui->txtStunde->GetAsInt() > 23) {
        m_ui->txtStunde->SetAsInt(23);
    }
}

void TfrmOptions::txtMinuteExit() {
    if (m_ui->txtMinute->GetAsInt() >= 60) {
        m_ui->txtMinute->SetAsInt(59);
    }
}

void TfrmOptions::ProtocolChanged(const ProtocolItem* item) {
    m_ui->lvwProtokoll->ProtocolChanged(item);
}

void TfrmOptions::SetDialogEnabled(bool enabled) {
    setEnabled(enabled);
    m_ui->btnOkay->setEnabled(enabled);
    m_ui->btnCancel->setEnabled(enabled);
}

void TfrmOptions::SetUptimeCaption(const std::string& caption) {
    m_ui->lblUpTime->setText(Q(caption));
}

bool TfrmOptions::MessageBox(const std::string& text, const std::string& caption,
                             MessageBoxStyle style) {
    return host_.MessageBox(text, caption, style);
}

bool TfrmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->cmbServer && event->type() == QEvent::FocusOut) {
        // Leaving the field means the focus went to another control of this dialog: not a
        // popup of the combo box, another window, or the dialog being hidden.
        QWidget* next = QApplication::focusWidget();
        if (next != nullptr && next != m_ui->cmbServer && isAncestorOf(next) &&
            !m_ui->cmbServer->isAncestorOf(next)) {
            cmbServerExit();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmOptions::showEvent(QShowEvent* event) {
    // Centred on the screen (a dialog placed inside another widget stays where it is put).
    const QScreen* screen = isWindow() ? this->screen() : nullptr;
    if (screen != nullptr) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
    m_ui->imgPlasma->Start(); // one frame at once, then one every 40 ms
    // Typing goes to the page's first field at once, and Ctrl+Tab turns the pages: the server
    // field on the Server page, else the first control of the page that takes the focus.
    QWidget* page = m_ui->pgcOptions->currentWidget();
    QWidget* first = page == m_ui->tbsServer ? m_ui->cmbServer : nullptr;
    for (QWidget* next = page->nextInFocusChain();
         !first && next != page && page->isAncestorOf(next); next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) && next->isEnabled() && next->isVisibleTo(page)) {
            first = next;
        }
    }
    (first ? first : m_ui->pgcOptions)->setFocus(Qt::TabFocusReason);
}

void TfrmOptions::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    KeepFixedFrame(*this, event);
}

void TfrmOptions::hideEvent(QHideEvent* event) {
    m_ui->imgPlasma->Stop();
    QDialog::hideEvent(event);
}

} // namespace kairelon
