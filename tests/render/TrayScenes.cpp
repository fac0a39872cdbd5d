// Scenes of the tray program: the icon's menu after start-up (with and without a server), the
// splash with its built-in picture, and the info window.
#include "Scenes.h"

#include "../support/FakeRasLayer.h"

#include "app/InfoWindow.h"
#include "app/MainWindow.h"
#include "app/Splash.h"
#include "app/frmOptions.h"
#include "controls/UserPrompt.h"
#include "platform/Clock.h"
#include "settings/Options.h"
#include "settings/ServerList.h"

#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cstdlib>

using namespace kairelon;

namespace {

// Holds a started main window and shows its tray menu as a child, so the picture is the menu
// as it pops up. The menu goes back to its owner before the scene is freed.
class MenuScene : public QWidget {
public:
    explicit MenuScene(bool withServer) {
        static QTemporaryDir folder;
        static CFakeClock clock;
        setenv("KAIRELON_REGISTRY_DIR", folder.path().toLocal8Bit().constData(), 1);
        QFile::remove(folder.path() + "/user.reg");
        {
            CLocalOptions store;
            store.Open();
            if (withServer)
                store.WriteCurrentServer("ptbtime1.example.org");
        }
        SaveServerListFile({"ptbtime1.example.org"});
        // The start-up's boxes (1011 without a server) are answered, not shown.
        UserPrompt::SetAnswerFunction([](const PromptRequest&) { return PromptButton::Ok; });
        window_ = std::make_unique<TMainWindow>(clock);
        window_->Engine().RasLoader = test::FakeRasLoader(std::make_shared<test::FakeRasState>());
        window_->frmOptions().TimeZoneSource = [] { return TTimeZoneDisplay{"CET", -60, true}; };
        window_->CreateOptionStores();
        window_->InitializeMainWindow();
        UserPrompt::SetAnswerFunction(nullptr);

        menu_ = &window_->Tray().popOptions;
        menu_->setParent(this, Qt::Widget);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(menu_);
        menu_->show();
    }
    ~MenuScene() override {
        layout()->removeWidget(menu_);
        menu_->hide();
        menu_->setParent(nullptr, Qt::Popup);
    }

private:
    std::unique_ptr<TMainWindow> window_;
    QMenu* menu_ = nullptr;
};

} // namespace

KAIRELON_SCENE("tray-menu") {
    return std::make_unique<MenuScene>(true);
}

KAIRELON_SCENE("tray-menu-without-server") {
    return std::make_unique<MenuScene>(false);
}

KAIRELON_SCENE("splash") {
    auto splash = std::make_unique<TfrmSplash>();
    splash->setAttribute(Qt::WA_DeleteOnClose, false); // the tool frees it
    splash->PrepareSplash("/nonexistent/morwick.dll");
    return splash;
}

KAIRELON_SCENE("info") {
    return std::make_unique<TfrmInfo>();
}
