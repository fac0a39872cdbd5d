// Scenes of the options dialog: each page as a user sees it after start-up, with a settings
// folder of its own (never the user's), a made-up phonebook and a fixed time zone.
#include "Scenes.h"

#include "../support/FakeRasLayer.h"

#include "app/MainWindow.h"
#include "app/frmOptions.h"
#include "diag/ProtocolEntry.h"
#include "framework/Format.h"
#include "framework/StringList.h"
#include "framework/StringTable.h"
#include "platform/Clock.h"
#include "settings/Options.h"
#include "settings/ServerList.h"

#include <QComboBox>
#include <QEvent>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cstdlib>

using namespace kairelon;

namespace {

// Holds a started main window and shows its dialog as a child, so the picture is the dialog as
// it opens. The dialog goes back to its owner before the scene is freed.
class DialogScene : public QWidget {
public:
    explicit DialogScene(std::unique_ptr<TMainWindow> window) : window_(std::move(window)) {
        TfrmOptions& dialog = window_->frmOptions();
        dialog.setParent(this, Qt::Widget);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(&dialog);
        dialog.show();
    }
    ~DialogScene() override {
        TfrmOptions& dialog = window_->frmOptions();
        layout()->removeWidget(&dialog);
        dialog.hide();
        dialog.setParent(nullptr, Qt::Dialog);
    }
    TMainWindow& Window() { return *window_; }

protected:
    bool event(QEvent* event) override {
        const bool handled = QWidget::event(event);
        // The dialog gives its first field the focus as Tab does when it is shown; inside this
        // window the focus arrives only with the window's activation, so it is given again.
        if (event->type() == QEvent::WindowActivate) {
            if (QWidget* first = focusWidget()) {
                first->clearFocus();
                first->setFocus(Qt::TabFocusReason);
            }
        }
        return handled;
    }

private:
    std::unique_ptr<TMainWindow> window_;
};

// The dialog after start-up on `page`, with `arrange` run on the store before it starts.
std::unique_ptr<DialogScene> OptionsPage(int page,
                                         const std::function<void(CLocalOptions&)>& arrange) {
    static QTemporaryDir folder;
    static CFakeClock clock;
    setenv("KAIRELON_REGISTRY_DIR", folder.path().toLocal8Bit().constData(), 1);
    QFile::remove(folder.path() + "/user.reg");
    {
        CLocalOptions store;
        store.Open();
        store.WriteCurrentServer("ptbtime1.example.org");
        arrange(store);
    }
    SaveServerListFile({"ptbtime1.example.org", "ptbtime2.example.org", "time.example.net"});

    auto state = std::make_shared<test::FakeRasState>();
    state->entries = {"Büro (VPN)", "Modem Zuhause"};
    auto window = std::make_unique<TMainWindow>(clock);
    window->Engine().RasLoader = test::FakeRasLoader(state);
    window->frmOptions().TimeZoneSource = [] { return TTimeZoneDisplay{"CET", -60, true}; };
    window->CreateOptionStores();
    window->InitializeMainWindow();
    window->frmOptions().findChild<QTabWidget*>("pgcOptions")->setCurrentIndex(page);
    return std::make_unique<DialogScene>(std::move(window));
}

void Nothing(CLocalOptions&) {}

} // namespace

KAIRELON_SCENE("options-server") {
    return OptionsPage(0, Nothing);
}

KAIRELON_SCENE("options-intervall") {
    return OptionsPage(1, [](CLocalOptions& store) {
        store.WriteBool("UseMaxAbweich", true);
        store.WriteInteger("Wochentag", 3);
    });
}

KAIRELON_SCENE("options-intervall-fixed-time") {
    return OptionsPage(1, [](CLocalOptions& store) {
        store.WriteInteger("SyncModus", 1);
        store.WriteInteger("Wochentag", 4);
        store.WriteInteger("Stunde", 7);
        store.WriteInteger("Minute", 5);
    });
}

KAIRELON_SCENE("options-zeitzone") {
    return OptionsPage(2, Nothing);
}

KAIRELON_SCENE("options-ras") {
    return OptionsPage(3, [](CLocalOptions& store) {
        store.WriteBool("ConnectRAS", true);
        store.WriteRasConnection("Modem Zuhause");
        store.WriteRasUsername("kairelon");
        store.WriteRasPassword("geheim");
    });
}

KAIRELON_SCENE("options-protokoll") {
    auto dialog = OptionsPage(4, Nothing);
    auto& engine = dialog->Window().Engine();
    engine.AddProtocolEntry(Format(LoadStr(1016), "ptbtime1.example.org"), ekInformation);
    engine.AddProtocolEntry(Format(LoadStr(1052), "Timeout"), ekError);
    engine.AddProtocolEntry(LoadStr(1070), ekWarning);
    return dialog;
}

KAIRELON_SCENE("options-monitor") {
    auto dialog = OptionsPage(5, Nothing);
    dialog->Window().Engine().UpdateUptimeLabel(1, 2, 5);
    return dialog;
}
