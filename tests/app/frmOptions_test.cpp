// The options dialog, made and started by its main window: a temporary settings folder, a fake
// dial-up layer, a fixed time zone and message boxes answered by the test.
#include "app/MainWindow.h"
#include "app/frmOptions.h"

#include "controls/AdvEdit.h"
#include "controls/ProtocolView.h"
#include "controls/ResCheckBox.h"
#include "controls/UpDown.h"
#include "controls/UserPrompt.h"
#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/NamedEvent.h"
#include "platform/RegistryFile.h"
#include "platform/SystemError.h"
#include "settings/Options.h"
#include "settings/ServerList.h"
#include "settings/SettingsTable.h"
#include "support/EventLoop.h"
#include "support/EventPrefix.h"
#include "support/FakeRasLayer.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace kairelon::test {
namespace {

// The main window with its message boxes recorded and answered (Yes unless a test queues No).
class TestHost : public TMainWindow {
public:
    using TMainWindow::TMainWindow;
    bool MessageBox(const std::string& text, const std::string& caption, MessageBoxStyle) override {
        boxes.push_back(caption + ": " + text);
        if (answers.empty()) {
            return true;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<std::string> boxes; // "caption: text"
    std::deque<bool> answers;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class OptionsDialog : public ::testing::Test {
protected:
    OptionsDialog() {
        UserPrompt::ResetForTesting();
        store.Open();
        zone = TTimeZoneDisplay{"CET", -60, true};
    }
    ~OptionsDialog() override { UserPrompt::ResetForTesting(); }

    // A store and a server list with which start-up shows no message box.
    void Configure(const std::string& server = "time.example.org") {
        store.WriteCurrentServer(server);
        WriteFile(ServerListPath(), server + "\r\n");
    }

    void StartUp() {
        host = std::make_unique<TestHost>(clock);
        dialog = &host->frmOptions();
        host->Engine().RasLoader = rasLoader;
        dialog->TimeZoneSource = [this] { return zone; };
        host->CreateOptionStores();
        host->InitializeMainWindow();
    }
    // The dialog on the screen, active, so focus moves as a user's clicks move it.
    void ShowDialog() {
        dialog->show();
        QApplication::setActiveWindow(dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    }

    template <typename T> T* W(const char* name) {
        T* widget = dialog->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString Text(const char* name) { return W<QLineEdit>(name)->text(); }
    void SetText(const char* name, const QString& text) { W<QLineEdit>(name)->setText(text); }
    QComboBox* Combo(const char* name) { return W<QComboBox>(name); }
    QStringList Items(const char* name) {
        QStringList items;
        for (int i = 0; i < Combo(name)->count(); ++i) {
            items << Combo(name)->itemText(i);
        }
        return items;
    }
    void ClickOk() { W<QAbstractButton>("btnOkay")->click(); }

    // A second handle on the per-user store, as another process would read it.
    std::int32_t StoredInteger(const IntegerSetting& s) {
        CLocalOptions other;
        other.Open();
        return other.ReadInteger(s.name);
    }
    std::string StoredString(const char* name) {
        CLocalOptions other;
        other.Open();
        return other.ReadString(name);
    }

    IsolatedHome home;
    UniqueEventPrefix events;
    CFakeClock clock;
    std::shared_ptr<FakeRasState> ras = std::make_shared<FakeRasState>();
    RasLayerLoader rasLoader = FakeRasLoader(ras);
    TTimeZoneDisplay zone;
    CLocalOptions store;
    std::unique_ptr<TestHost> host;
    TfrmOptions* dialog = nullptr; // the host's
};

// ---- The window ------------------------------------------------------------------------------

TEST_F(OptionsDialog, WindowHasItsFixedSizeCaptionPagesAndButtons) {
    Configure();
    StartUp();
    EXPECT_EQ(dialog->size(), QSize(363, 319));
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    EXPECT_EQ(dialog->windowTitle(), "Kairelon Einstellungen");
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(dialog->font().family(), "Liberation Sans");
    EXPECT_EQ(dialog->font().pointSize(), 8);

    auto* pages = W<QTabWidget>("pgcOptions");
    EXPECT_EQ(pages->geometry(), QRect(10, 5, 346, 266));
    EXPECT_EQ(pages->currentIndex(), 0);
    const QStringList names = {"tbsServer", "tbsInterval",  "tbsTimezone",
                               "tbsOpt",    "tbsProtokoll", "tbsInfo"};
    const QStringList captions = {"Server", "Intervall", "Zeitzone", "RAS", "Protokoll", "Monitor"};
    const char* pictures[] = {"imgServer", "imgInterval",  "imgTimezone",
                              "imgOpt",    "imgProtokoll", "imgInfo"};
    ASSERT_EQ(pages->count(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(pages->widget(i)->objectName(), names[i]);
        EXPECT_EQ(pages->tabText(i), captions[i]);
        auto* picture = W<QLabel>(pictures[i]);
        EXPECT_EQ(picture->parentWidget(), pages->widget(i));
        EXPECT_EQ(picture->geometry(), QRect(8, 8, 32, 32));
        EXPECT_FALSE(picture->pixmap().isNull()) << pictures[i];
    }
    EXPECT_EQ(W<QWidget>("imgPlasma")->geometry(), QRect(10, 275, 346, 11));
    EXPECT_EQ(W<QAbstractButton>("ResButton1")->text(), "&Hilfe");
    EXPECT_EQ(W<QAbstractButton>("btnOkay")->text(), "&OK");
    EXPECT_TRUE(W<QPushButton>("btnOkay")->isDefault());
    EXPECT_EQ(W<QAbstractButton>("btnCancel")->text(), "&Abbrechen");
    EXPECT_EQ(W<QGroupBox>("grpUpTime")->title(), " Kairelon Activity Monitor ");
    EXPECT_EQ(W<QLabel>("ResLabel8")->text(), "Kairelon ist aktiv seit");
    EXPECT_EQ(W<QAbstractButton>("btnDel")->toolTip(), "Löscht den aktuellen Server aus der Liste");
}

TEST_F(OptionsDialog, StaysNormalWhenMinimisedMaximisedOrMadeFullScreen) {
    Configure();
    StartUp();
    ShowDialog();
    for (const Qt::WindowState state :
         {Qt::WindowMinimized, Qt::WindowMaximized, Qt::WindowFullScreen}) {
        dialog->setWindowState(state);
        EXPECT_TRUE(PumpUntil([&] { return dialog->windowState() == Qt::WindowNoState; }, 2000))
            << state;
        EXPECT_TRUE(dialog->isVisible()) << state;
        EXPECT_EQ(dialog->size(), QSize(363, 319)) << state;
    }
}

TEST_F(OptionsDialog, TheOpenedPageHasTheFocusSoTypingAndCtrlTabWorkAtOnce) {
    Configure();
    StartUp();
    ShowDialog();
    auto* server = Combo("cmbServer");
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr) << "nothing has the focus";
    EXPECT_TRUE(focus == server || server->isAncestorOf(focus))
        << focus->objectName().toStdString();
    server->lineEdit()->selectAll();
    QTest::keyClicks(focus, "time.example.net");
    EXPECT_EQ(server->currentText(), "time.example.net");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(W<QTabWidget>("pgcOptions")->currentIndex(), 1);

    // Opened again on another page: its first control takes the focus.
    dialog->hide();
    W<QTabWidget>("pgcOptions")->setCurrentIndex(3);
    ShowDialog();
    focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(W<QWidget>("tbsOpt")->isAncestorOf(focus)) << focus->objectName().toStdString();
    QTest::keyClick(focus, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(W<QTabWidget>("pgcOptions")->currentIndex(), 4);
}

TEST_F(OptionsDialog, EveryResourceCaptionIsFilled) {
    Configure();
    StartUp();
    int captioned = 0;
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            text = button->text();
        } else {
            continue;
        }
        EXPECT_FALSE(text.contains("<Res")) << widget->objectName().toStdString();
        if (widget->property("LoadFromRes").toBool()) {
            ++captioned;
            EXPECT_FALSE(text.isEmpty()) << widget->objectName().toStdString();
        }
    }
    EXPECT_EQ(captioned, 25); // every resource-captioned control of the dialog
}

// ---- First start and OK ----------------------------------------------------------------------

TEST_F(OptionsDialog, FirstStartShowsTheDefaultsAndOkStoresAllButAskOnShutdown) {
    StartUp();
    EXPECT_EQ(host->boxes,
              (std::vector<std::string>{"Hinweis: " + LoadStr(1003), "Hinweis: " + LoadStr(1011)}));
    EXPECT_EQ(ReadFile(ServerListPath()), ""); // created empty
    EXPECT_EQ(Combo("cmbServer")->currentText(), "");
    EXPECT_EQ(Text("txtTimeout"), "10000");
    EXPECT_EQ(Text("txtIntervall"), "30");
    EXPECT_EQ(Combo("cmbEinheit")->currentText(), "Minuten");
    EXPECT_TRUE(W<QRadioButton>("optRel")->isChecked());
    EXPECT_FALSE(W<QRadioButton>("optAbs")->isChecked());
    EXPECT_EQ(Text("txtStunde"), "12");
    EXPECT_EQ(Text("txtMinute"), "30");
    EXPECT_EQ(Combo("cmbWochentage")->currentText(), "Tag");
    EXPECT_FALSE(W<QAbstractButton>("chkMaxAbweich")->isChecked());
    EXPECT_EQ(Text("txtMaxAbweich"), "30");
    EXPECT_EQ(Combo("cmbEinheit2")->currentText(), "Minuten");
    EXPECT_FALSE(W<QAbstractButton>("chkService")->isChecked());
    EXPECT_FALSE(W<QAbstractButton>("chkConnect")->isChecked());
    EXPECT_FALSE(host->SyncCommandEnabled());
    EXPECT_FALSE(host->Engine().tGetTime.isActive());

    // Loading wrote every default but "AskOnShutdown"; empty the file to see what OK writes.
    WriteFile(RegistryFilePath(RegistryRoot::CurrentUser), "");
    Combo("cmbServer")->setEditText("time.example.org");
    ClickOk();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    CLocalOptions other;
    other.Open();
    for (const SettingInfo& setting : AllSettings()) {
        // The dialog has no control for "NachholenNachStandby" (default on) and leaves it alone.
        EXPECT_EQ(other.ValueExists(setting.name),
                  std::string(setting.name) != "AskOnShutdown" &&
                      std::string(setting.name) != settings::NachholenNachStandby.name)
            << setting.name;
        if (setting.type == SettingType::Integer) {
            const std::int32_t expected =
                std::string(setting.name) == "Wochentag" ? 0 : setting.integerDefault;
            EXPECT_EQ(other.ReadInteger(setting.name), expected) << setting.name;
        }
    }
    EXPECT_EQ(other.ReadString("CurrentServer"), "time.example.org");
    EXPECT_TRUE(host->Engine().Configured);
    EXPECT_TRUE(host->SyncCommandEnabled());
    EXPECT_TRUE(host->Engine().tGetTime.isActive());
    EXPECT_EQ(host->Engine().NTP.Host, "time.example.org");
}

TEST_F(OptionsDialog, OkAppliesServerTimeOutIntervalAndUnitThroughTheEngine) {
    Configure();
    StartUp();
    Combo("cmbServer")->setEditText("127.0.0.1:1313");
    SetText("txtTimeout", "2500");
    SetText("txtIntervall", "7");
    Combo("cmbEinheit")->setCurrentIndex(2);
    ClickOk();
    TSyncEngine& engine = host->Engine();
    EXPECT_EQ(engine.NTP.Host, "127.0.0.1");
    EXPECT_EQ(engine.NTP.Port, 1313);
    EXPECT_EQ(engine.NTP.TimeOut, 2500);
    EXPECT_EQ(engine.SyncInterval, 7);
    EXPECT_EQ(engine.SyncUnit, 3);
    EXPECT_TRUE(engine.tGetTime.isActive());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

// ---- Loading: each setting shown through its control -----------------------------------------

struct LoadCase {
    const char* name;
    std::int32_t stored;
    const char* control;
    QString shown; // edit text, or list selection index as text
};

TEST_F(OptionsDialog, StoredValuesOutsideTheControlsShowAtTheNearestEndAndStayStored) {
    const LoadCase cases[] = {
        {"Timeout", 500, "txtTimeout", "1000"},
        {"Timeout", 99999, "txtTimeout", "30000"},
        {"Intervall", 0, "txtIntervall", "1"},
        {"Intervall", 1000, "txtIntervall", "999"},
        {"Stunde", 47, "txtStunde", "23"},
        {"Stunde", -3, "txtStunde", "0"},
        {"Minute", 75, "txtMinute", "59"},
        {"MaxAbweichIntervall", 0, "txtMaxAbweich", "1"},
        {"Einheit", 0, "cmbEinheit", "-1"},
        {"Einheit", 4, "cmbEinheit", "-1"},
        {"Einheit", 3, "cmbEinheit", "2"},
        {"Einheit", INT32_MIN, "cmbEinheit", "-1"},
        {"MaxAbweichEinheit", 2, "cmbEinheit2", "1"},
        {"Wochentag", 9, "cmbWochentage", "-1"},
        {"Wochentag", 7, "cmbWochentage", "7"},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + std::to_string(c.stored));
        store.WriteInteger(c.name, c.stored);
        Configure();
        StartUp();
        if (auto* list = dialog->findChild<QComboBox*>(c.control)) {
            EXPECT_EQ(QString::number(list->currentIndex()), c.shown);
        } else {
            EXPECT_EQ(Text(c.control), c.shown);
        }
        EXPECT_EQ(StoredInteger({c.name, 0}), c.stored);
        host.reset();
        store.DeleteValue(c.name);
    }
}

TEST_F(OptionsDialog, ListsWithoutSelectionWriteTheirPositionPlusOne) {
    store.WriteInteger("Einheit", 4);
    store.WriteInteger("Wochentag", 9);
    store.WriteInteger("SyncModus", 7);
    Configure();
    StartUp();
    EXPECT_TRUE(W<QRadioButton>("optRel")->isChecked());
    ClickOk();
    EXPECT_EQ(StoredInteger(settings::Einheit), 0);
    EXPECT_EQ(StoredInteger(settings::Wochentag), -1);
    EXPECT_EQ(StoredInteger(settings::SyncModus), 2);
}

TEST_F(OptionsDialog, TimeOutBelowTheRangeIsStoredAndUsedThenShownAsTheRangesEnd) {
    Configure();
    StartUp();
    SetText("txtTimeout", "500");
    ClickOk();
    EXPECT_EQ(StoredInteger(settings::Timeout), 500);
    EXPECT_EQ(host->Engine().NTP.TimeOut, 500);

    host.reset();
    StartUp();
    EXPECT_EQ(Text("txtTimeout"), "1000");
    EXPECT_EQ(host->Engine().NTP.TimeOut, 500);
    ClickOk();
    EXPECT_EQ(StoredInteger(settings::Timeout), 1000);
}

// ---- Checks before writing -------------------------------------------------------------------

struct CheckCase {
    const char* interval;
    const char* timeOut;
    const char* server;
    bool fixedTime;
    int message; // 0: accepted
};

TEST_F(OptionsDialog, OkChecksIntervalThenTimeOutThenServerAndWritesNothingOnFailure) {
    const CheckCase cases[] = {
        {"0", "10000", "a", true, 1032}, // checked in the fixed-time mode too
        {"0", "10000", "a", false, 1032}, {"", "10000", "a", false, 1032}, // no number counts as 0
        {"0", "0", "", false, 1032}, // the first failing check speaks
        {"30", "0", "", false, 1033},     {"30", "10000", "", false, 1041},
        {"30", "500", "a", false, 0},
    };
    Configure();
    StartUp();
    const std::string settingsBefore = ReadFile(RegistryFilePath(RegistryRoot::CurrentUser));
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(std::string(c.interval) + "/" + c.timeOut + "/" + c.server);
        host->boxes.clear();
        SetText("txtIntervall", c.interval);
        SetText("txtTimeout", c.timeOut);
        Combo("cmbServer")->setEditText(c.server);
        W<QRadioButton>(c.fixedTime ? "optAbs" : "optRel")->setChecked(true);
        dialog->setResult(QDialog::Rejected);
        ClickOk();
        if (c.message == 0) {
            EXPECT_TRUE(host->boxes.empty());
            EXPECT_EQ(dialog->result(), QDialog::Accepted);
        } else {
            EXPECT_EQ(host->boxes, std::vector<std::string>{"Hinweis: " + LoadStr(c.message)});
            EXPECT_EQ(dialog->result(), QDialog::Rejected);
            EXPECT_EQ(ReadFile(RegistryFilePath(RegistryRoot::CurrentUser)), settingsBefore);
        }
    }
}

// ---- Enable rules and the hour and minute fields ---------------------------------------------

TEST_F(OptionsDialog, ModeAndDeviationSwitchTheirControls) {
    Configure();
    StartUp();
    const char* relative[] = {"txtIntervall", "cmbEinheit", "udIntervall"};
    const char* fixed[] = {"cmbWochentage", "txtStunde", "txtMinute", "udStunde", "udMinute"};
    for (bool fixedTime : {true, false, true}) {
        W<QRadioButton>(fixedTime ? "optAbs" : "optRel")->click();
        for (const char* name : relative) {
            EXPECT_EQ(W<QWidget>(name)->isEnabled(), !fixedTime) << name;
        }
        for (const char* name : fixed) {
            EXPECT_EQ(W<QWidget>(name)->isEnabled(), fixedTime) << name;
        }
    }
    for (bool on : {true, false}) {
        W<QAbstractButton>("chkMaxAbweich")->setChecked(on);
        for (const char* name : {"txtMaxAbweich", "udMaxAbweich", "cmbEinheit2"}) {
            EXPECT_EQ(W<QWidget>(name)->isEnabled(), on) << name;
        }
    }
}

TEST_F(OptionsDialog, HourAndMinuteAreCutWhenTheFieldIsLeft) {
    Configure();
    StartUp();
    W<QRadioButton>("optAbs")->click();
    ShowDialog();
    const struct {
        const char* field;
        const char* typed;
        const char* shown;
    } cases[] = {{"txtStunde", "47", "23"}, {"txtStunde", "23", "23"}, {"txtStunde", "9", "09"},
                 {"txtMinute", "75", "59"}, {"txtMinute", "60", "59"}, {"txtMinute", "59", "59"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.typed);
        W<QWidget>(c.field)->setFocus();
        W<QLineEdit>(c.field)->clear();
        QTest::keyClicks(W<QWidget>(c.field), c.typed);
        EXPECT_EQ(Text(c.field), c.typed);      // typing is not limited
        W<QWidget>("txtIntervall")->setFocus(); // disabled in this mode: focus goes nowhere
        W<QWidget>("cmbWochentage")->setFocus();
        EXPECT_EQ(Text(c.field), c.shown);
    }
}

TEST_F(OptionsDialog, TypedHourAndMinuteAreWhatOkStores) {
    const struct {
        const char* hour;
        const char* minute;
        bool leaveFields; // the focus leaves each field before OK, so its exit handler runs
        std::int32_t storedHour, storedMinute;
    } cases[] = {
        {"15", "45", false, 15, 45},
        {"15", "45", true, 15, 45},
        {"7", "5", true, 7, 5},
        {"0", "0", false, 0, 0},
        {"47", "75", true, 23, 59},
        // The hour is left for the minute field and cut; the minute, outside its range and
        // not left, keeps its old value.
        {"47", "75", false, 23, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.hour) + ":" + c.minute);
        store.WriteInteger("Stunde", 12);
        store.WriteInteger("Minute", 30);
        Configure();
        StartUp();
        W<QRadioButton>("optAbs")->click();
        ShowDialog();
        W<QTabWidget>("pgcOptions")->setCurrentIndex(1);
        for (const auto& [field, typed] :
             {std::pair{"txtStunde", c.hour}, {"txtMinute", c.minute}}) {
            W<QWidget>(field)->setFocus();
            W<QLineEdit>(field)->selectAll();
            QTest::keyClicks(W<QWidget>(field), typed);
            if (c.leaveFields) {
                W<QWidget>("cmbWochentage")->setFocus();
            }
        }
        QTest::keyClick(W<QWidget>(c.leaveFields ? "cmbWochentage" : "txtMinute"), Qt::Key_Return);
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_EQ(StoredInteger(settings::Stunde), c.storedHour);
        EXPECT_EQ(StoredInteger(settings::Minute), c.storedMinute);
        host.reset();
    }
}

TEST_F(OptionsDialog, CancelKeepsTheEditsAndWritesNothing) {
    Configure();
    StartUp();
    SetText("txtIntervall", "45");
    W<QAbstractButton>("btnCancel")->click();
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(StoredInteger(settings::Intervall), 30);
    EXPECT_EQ(Text("txtIntervall"), "45");
    ClickOk();
    EXPECT_EQ(StoredInteger(settings::Intervall), 45);
}

// ---- A refused write -------------------------------------------------------------------------

TEST_F(OptionsDialog, ARefusedSettingsWriteLeavesTheDialogOpenAndKeepsWhatWasWritten) {
    Configure();
    StartUp();
    ShowDialog();
    W<QWidget>("cmbServer")->setFocus();
    Combo("cmbServer")->setEditText("new.example.org");
    W<QWidget>("txtTimeout")->setFocus(); // leaving the combo adds the name to the list
    SetText("txtIntervall", "45");
    // The store cannot take its lock: every write of a value is refused.
    const std::string lock = RegistryFilePath(RegistryRoot::CurrentUser) + ".lock";
    ::unlink(lock.c_str());
    ASSERT_EQ(::mkdir(lock.c_str(), 0700), 0);
    ClickOk();
    ASSERT_EQ(host->boxes.size(), 1u);
    EXPECT_EQ(host->boxes[0].rfind("Kairelon: ", 0), 0u) << host->boxes[0];
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(ReadFile(ServerListPath()), "time.example.org\r\nnew.example.org\r\n");
    EXPECT_EQ(StoredString("CurrentServer"), "time.example.org");
    EXPECT_EQ(StoredInteger(settings::Intervall), 30);
    EXPECT_EQ(host->Engine().NTP.Host, "time.example.org"); // the apply step did not run
    ::rmdir(lock.c_str());
    ClickOk();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(StoredInteger(settings::Intervall), 45);
}

TEST_F(OptionsDialog, AReadOnlySettingsFolderRefusesTheServerListBeforeAnyValue) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "the superuser writes into read-only folders";
    }
    Configure();
    StartUp();
    ShowDialog();
    SetText("txtIntervall", "45");
    const std::string folder = home.RegistryDir();
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    ClickOk();
    ::chmod(folder.c_str(), 0700);
    ASSERT_EQ(host->boxes.size(), 1u);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(StoredInteger(settings::Intervall), 30);
}

TEST_F(OptionsDialog, AServerListThatCannotBeReplacedStopsOkBeforeAnyValue) {
    Configure();
    StartUp();
    ShowDialog();
    SetText("txtIntervall", "45");
    // A folder where the file should be: the rename over it is refused.
    ::unlink(ServerListPath().c_str());
    ASSERT_EQ(::mkdir(ServerListPath().c_str(), 0700), 0);
    ::mkdir((ServerListPath() + "/keep").c_str(), 0700);
    ClickOk();
    ASSERT_EQ(host->boxes.size(), 1u);
    EXPECT_NE(host->boxes[0].find("server.ini"), std::string::npos) << host->boxes[0];
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(StoredInteger(settings::Intervall), 30);
}

// ---- Server list -----------------------------------------------------------------------------

TEST_F(OptionsDialog, ServerListFileBecomesTheComboItems) {
    const struct {
        std::string file;
        QStringList items;
    } cases[] = {
        {"a\r\n\r\nc\r\n", {"a", "", "c"}}, {"a\n\nc\n", {"a", "", "c"}},
        {"a\r\rc", {"a", "", "c"}},         {"a\r\nb", {"a", "b"}},
        {"a\nb\0c\n", {"a", "b"}},          {" spaced \r\n", {" spaced "}},
        {"A\r\na\r\n", {"A", "a"}},         {"\r\n", {""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        store.WriteCurrentServer("current");
        WriteFile(ServerListPath(), c.file);
        StartUp();
        EXPECT_EQ(Items("cmbServer"), c.items);
        EXPECT_TRUE(host->boxes.empty());
        EXPECT_EQ(Combo("cmbServer")->currentText(), "current"); // not in the list, shown
        host.reset();
    }
}

TEST_F(OptionsDialog, NulEndsTheServerListFile) {
    store.WriteCurrentServer("current");
    WriteFile(ServerListPath(), std::string("a\nb\0c\n", 6));
    StartUp();
    EXPECT_EQ(Items("cmbServer"), (QStringList{"a", "b"}));
}

TEST_F(OptionsDialog, OkWritesTheListWithCrLfAfterEveryEntry) {
    store.WriteCurrentServer("a");
    WriteFile(ServerListPath(), "a\n\nc");
    StartUp();
    ClickOk();
    EXPECT_EQ(ReadFile(ServerListPath()), "a\r\n\r\nc\r\n");
}

TEST_F(OptionsDialog, LeavingTheServerFieldAddsANewNameButNotOneDifferingInCase) {
    Configure("time.example.org");
    StartUp();
    ShowDialog();
    const struct {
        QString typed;
        QStringList items;
    } cases[] = {
        {"TIME.Example.ORG", {"time.example.org"}},
        {"other.example.org", {"time.example.org", "other.example.org"}},
        {"other.example.org", {"time.example.org", "other.example.org"}},
    };
    for (const auto& c : cases) {
        W<QWidget>("cmbServer")->setFocus();
        Combo("cmbServer")->setEditText(c.typed);
        W<QWidget>("btnDel")->setFocus();
        EXPECT_EQ(Items("cmbServer"), c.items) << c.typed.toStdString();
    }
    EXPECT_EQ(ReadFile(ServerListPath()), "time.example.org\r\n"); // until OK
    ClickOk();
    EXPECT_EQ(ReadFile(ServerListPath()), "time.example.org\r\nother.example.org\r\n");
}

TEST_F(OptionsDialog, EnterInTheServerFieldSavesTheNameAsCurrentServerOnly) {
    Configure("time.example.org");
    StartUp();
    ShowDialog();
    W<QWidget>("cmbServer")->setFocus();
    Combo("cmbServer")->setEditText("typed.example.org");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(StoredString("CurrentServer"), "typed.example.org");
    EXPECT_EQ(ReadFile(ServerListPath()), "time.example.org\r\n");
    EXPECT_EQ(Items("cmbServer"), QStringList{"time.example.org"});
}

TEST_F(OptionsDialog, DeletingAsksAndThenShowsTheFirstRemainingEntry) {
    store.WriteCurrentServer("b");
    WriteFile(ServerListPath(), "a\r\nb\r\nc\r\n");
    StartUp();

    host->answers = {false};
    dialog->btnDelClick();
    EXPECT_EQ(host->boxes,
              std::vector<std::string>{"Löschen: Wollen Sie den Server 'b' wirklich löschen ?"});
    EXPECT_EQ(Items("cmbServer"), (QStringList{"a", "b", "c"}));

    host->boxes.clear();
    Combo("cmbServer")->setEditText("B"); // found without regard to case
    dialog->btnDelClick();
    EXPECT_EQ(host->boxes.size(), 1u);
    EXPECT_EQ(Items("cmbServer"), (QStringList{"a", "c"}));
    EXPECT_EQ(Combo("cmbServer")->currentText(), "a");

    host->boxes.clear();
    Combo("cmbServer")->setEditText("not.listed");
    dialog->btnDelClick();
    EXPECT_TRUE(host->boxes.empty());

    for (const char* name : {"a", "c"}) {
        Combo("cmbServer")->setEditText(name);
        dialog->btnDelClick();
    }
    EXPECT_TRUE(Items("cmbServer").isEmpty());
    EXPECT_EQ(Combo("cmbServer")->currentText(), "");
    host->boxes.clear();
    ClickOk();
    EXPECT_EQ(host->boxes, std::vector<std::string>{"Hinweis: " + LoadStr(1041)});
}

TEST_F(OptionsDialog, ADeletionSurvivesCancelButReachesTheFileOnlyWithOk) {
    store.WriteCurrentServer("a");
    WriteFile(ServerListPath(), "a\r\nb\r\n");
    StartUp();
    dialog->btnDelClick();
    W<QAbstractButton>("btnCancel")->click();
    EXPECT_EQ(Items("cmbServer"), QStringList{"b"});
    EXPECT_EQ(ReadFile(ServerListPath()), "a\r\nb\r\n");
    ClickOk();
    EXPECT_EQ(ReadFile(ServerListPath()), "b\r\n");
}

TEST_F(OptionsDialog, TheDeleteQuestionOffersGermanYesAndNoWithNoAsDefault) {
    Configure("time.example.org");
    // The plain dialog, whose boxes go through the prompt seam.
    auto plain = std::make_unique<TMainWindow>(clock);
    plain->Engine().RasLoader = rasLoader;
    plain->frmOptions().TimeZoneSource = [this] { return zone; };
    plain->CreateOptionStores();
    plain->InitializeMainWindow();
    UserPrompt::ResetForTesting();
    UserPrompt::SetNextAnswer(PromptButton::Yes);
    plain->frmOptions().btnDelClick();
    ASSERT_TRUE(UserPrompt::LastRequest().has_value());
    const PromptRequest& request = *UserPrompt::LastRequest();
    EXPECT_EQ(request.text, "Wollen Sie den Server 'time.example.org' wirklich löschen ?");
    EXPECT_EQ(request.caption, "Löschen");
    EXPECT_EQ(request.style, MessageBoxStyle::Question);
    EXPECT_EQ(request.defaultButton, PromptButton::No);
    EXPECT_EQ(plain->frmOptions().findChild<QComboBox*>("cmbServer")->count(), 0);
}

TEST_F(OptionsDialog, ServerListLivesBesideTheSettingsNotInTheCurrentFolder) {
    QTemporaryDir elsewhere;
    const std::string before = QDir::currentPath().toStdString();
    ASSERT_EQ(::chdir(elsewhere.path().toLocal8Bit().constData()), 0);
    Configure();
    StartUp();
    ClickOk();
    EXPECT_EQ(ServerListPath(), home.RegistryDir() + "/server.ini");
    EXPECT_EQ(ReadFile(home.RegistryDir() + "/server.ini"), "time.example.org\r\n");
    EXPECT_FALSE(QFile::exists(elsewhere.path() + "/server.ini"));

    // Without the folder variable: the per-user configuration folder.
    unsetenv("KAIRELON_REGISTRY_DIR");
    EXPECT_EQ(ServerListPath(), home.Path() + "/config/kairelon/server.ini");
    SaveServerListFile({"x"});
    EXPECT_EQ(ReadFile(home.Path() + "/config/kairelon/server.ini"), "x\r\n");
    struct stat st {};
    ASSERT_EQ(::stat((home.Path() + "/config/kairelon/server.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    setenv("KAIRELON_REGISTRY_DIR", home.RegistryDir().c_str(), 1);
    ASSERT_EQ(::chdir(before.c_str()), 0);
}

// ---- RAS page --------------------------------------------------------------------------------

TEST_F(OptionsDialog, PhonebookEntriesFillTheListAndTheStoredEntryIsSelected) {
    ras->entries = {"Work", "Home"};
    const struct {
        const char* stored;
        int selected;
        const char* written;
    } cases[] = {{"Home", 1, "Home"}, {"home", 1, "Home"}, {"Gone", -1, ""}, {"", -1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        store.WriteRasConnection(c.stored);
        store.WriteBool("ConnectRAS", true);
        Configure();
        StartUp();
        EXPECT_EQ(Items("cmbConn"), (QStringList{"Work", "Home"}));
        EXPECT_EQ(Combo("cmbConn")->currentIndex(), c.selected);
        EXPECT_TRUE(W<QWidget>("chkConnect")->isEnabled());
        EXPECT_TRUE(W<QWidget>("cmbConn")->isEnabled());
        ClickOk();
        EXPECT_EQ(StoredString("RASConnection"), c.written);
        host.reset();
    }
}

TEST_F(OptionsDialog, WithoutTheDialUpLayerTheStoredConnectionIsKept) {
    rasLoader = MissingRasLoader();
    store.WriteRasConnection("Modem");
    store.WriteBool("ConnectRAS", true);
    Configure();
    StartUp();
    EXPECT_FALSE(W<QWidget>("chkConnect")->isEnabled());
    EXPECT_FALSE(W<QWidget>("cmbConn")->isEnabled());
    EXPECT_EQ(Combo("cmbConn")->count(), 0);
    ClickOk();
    EXPECT_EQ(StoredString("RASConnection"), "Modem");
}

TEST_F(OptionsDialog, DialUpFieldsFollowTheCheckBoxAndHoldAtMost256CharactersMasked) {
    ras->entries = {"Work"};
    Configure();
    StartUp();
    for (const char* name : {"cmbConn", "txtUsername", "txtPassword"}) {
        EXPECT_FALSE(W<QWidget>(name)->isEnabled()) << name;
    }
    W<QAbstractButton>("chkConnect")->click();
    for (const char* name : {"cmbConn", "txtUsername", "txtPassword"}) {
        EXPECT_TRUE(W<QWidget>(name)->isEnabled()) << name;
    }
    EXPECT_EQ(W<QLineEdit>("txtPassword")->echoMode(), QLineEdit::Password);
    for (const char* name : {"txtUsername", "txtPassword"}) {
        W<QLineEdit>(name)->setText(QString(300, 'x'));
        EXPECT_EQ(Text(name).size(), 256) << name;
    }
    ClickOk();
    EXPECT_EQ(StoredString("RASPassword"), std::string(256, 'x'));
    EXPECT_EQ(StoredString("RASUsername"), std::string(256, 'x'));
}

// ---- Service check box -----------------------------------------------------------------------

TEST_F(OptionsDialog, StoredServiceWithoutARunningServiceIsClearedAtStartUp) {
    store.WriteBool("UseService", true);
    Configure();
    StartUp();
    // The reason in the program's German, not the system's English "No such file or directory".
    const std::string text =
        Format(LoadStr(1077), std::string("Die Datei oder das Verzeichnis ist nicht vorhanden."));
    EXPECT_EQ(host->boxes, std::vector<std::string>{"Fehler: " + text});
    EXPECT_FALSE(W<QAbstractButton>("chkService")->isChecked());
    EXPECT_TRUE(StoredString("CurrentServer") == "time.example.org");
    CLocalOptions other;
    other.Open();
    EXPECT_TRUE(other.ReadBool("UseService")); // until the next OK
    ClickOk();
    EXPECT_FALSE(other.ReadBool("UseService"));
}

TEST_F(OptionsDialog, TickingTheServiceBoxTestsTheServicesEventOnlyWhenTicked) {
    Configure();
    StartUp();
    auto* box = W<QAbstractButton>("chkService");
    box->click();
    EXPECT_EQ(host->boxes.size(), 1u);
    EXPECT_FALSE(box->isChecked());

    TNamedEvent begin = TNamedEvent::Create(SyncBeginEventName, -1);
    ASSERT_TRUE(begin.IsOpen());
    host->boxes.clear();
    box->click();
    EXPECT_TRUE(box->isChecked());
    box->click(); // unticking never asks
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(host->boxes.empty());
    TNamedEvent::Remove(SyncBeginEventName);
}

// ---- Time-zone, protocol and monitor pages ---------------------------------------------------

TEST_F(OptionsDialog, TimeZonePageShowsNameAndBias) {
    const struct {
        TTimeZoneDisplay zone;
        QString name;
        QString bias;
        bool warned;
    } cases[] = {
        {{"CET", -60, true}, "CET", "-60", false},
        {{"CEST", -120, true}, "CEST", "-120", false},
        {TimeZoneDisplayOf(TIME_ZONE_ID_UNKNOWN, {0, "UTC", 0, "", 0}), "UTC", "0", false},
        {TimeZoneDisplayOf(TIME_ZONE_ID_INVALID, {}), "", "", true},
    };
    for (const auto& c : cases) {
        zone = c.zone;
        Configure();
        StartUp();
        EXPECT_EQ(Text("txtTimeZone"), c.name);
        EXPECT_EQ(Text("txtBias"), c.bias);
        EXPECT_TRUE(W<QLineEdit>("txtTimeZone")->isReadOnly());
        EXPECT_EQ(host->boxes.size(), c.warned ? 1u : 0u);
        if (c.warned) {
            EXPECT_EQ(host->boxes[0], "Warnung: " + LoadStr(1004));
        }
        host.reset();
    }
}

TEST_F(OptionsDialog, ProtocolPageShowsTheEnginesEntriesAndItsButtonClearsThem) {
    Configure();
    StartUp();
    auto* view = W<TProtocolView>("lvwProtokoll");
    ASSERT_EQ(view->topLevelItemCount(), 3); // 1071, 1072, 1029
    EXPECT_EQ(view->topLevelItem(0)->text(1).toStdString(), LoadStr(1071));
    EXPECT_EQ(view->topLevelItem(2)->text(1).toStdString(), LoadStr(1029));
    EXPECT_EQ(view->headerItem()->text(1), "Ereignis");
    W<QAbstractButton>("btnDelProt")->click();
    EXPECT_EQ(view->topLevelItemCount(), 0);
    EXPECT_TRUE(host->Engine().Protocol.Items().empty());
    host->Engine().AddProtocolEntry("later", 2);
    ASSERT_EQ(view->topLevelItemCount(), 1);
    EXPECT_EQ(view->ImageIndexOf(0), 0);
}

TEST_F(OptionsDialog, MonitorPageShowsTheRunningTime) {
    Configure();
    StartUp();
    EXPECT_EQ(W<QLabel>("lblUpTime")->text(), "0 Tage, 0 Stunden, 0 Minuten");
    host->Engine().tGetTimeTimer();
    EXPECT_EQ(W<QLabel>("lblUpTime")->text(), "0 Tage, 0 Stunden, 1 Minuten");
}

TEST_F(OptionsDialog, ARunDisablesTheDialogAndItsButtons) {
    Configure();
    StartUp();
    dialog->SetDialogEnabled(false);
    EXPECT_FALSE(dialog->isEnabled());
    EXPECT_FALSE(W<QWidget>("btnOkay")->isEnabled());
    EXPECT_FALSE(W<QWidget>("btnCancel")->isEnabled());
    dialog->SetDialogEnabled(true);
    EXPECT_TRUE(W<QWidget>("btnOkay")->isEnabled());
}

} // namespace
} // namespace kairelon::test
