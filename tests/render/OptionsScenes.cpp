// Scenes of the options dialog: each page as a user sees it after start-up, with a settings
// folder of its own (never the user's), a made-up phonebook and a fixed time zone.
#include "Scenes.h"

#include "../support/FakeRasLayer.h"

#include "app/frmOptions.h"
#include "diag/ProtocolEntry.h"
#include "framework/Format.h"
#include "framework/StringList.h"
#include "framework/StringTable.h"
#include "platform/Clock.h"
#include "settings/Options.h"
#include "settings/ServerList.h"

#include <QComboBox>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdlib>

using namespace kairelon;

namespace {

// The dialog after start-up on `page`, with `arrange` run on the store before it starts.
std::unique_ptr<QWidget> OptionsPage(int page, const std::function<void(CLocalOptions&)>& arrange) {
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
    auto dialog = std::make_unique<TfrmOptions>(clock);
    dialog->Engine().RasLoader = test::FakeRasLoader(state);
    dialog->TimeZoneSource = [] { return TTimeZoneDisplay{"CET", -60, true}; };
    dialog->CreateOptionStores();
    dialog->InitializeMainWindow();
    dialog->findChild<QTabWidget*>("pgcOptions")->setCurrentIndex(page);
    return dialog;
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
    auto& engine = static_cast<TfrmOptions*>(dialog.get())->Engine();
    engine.AddProtocolEntry(Format(LoadStr(1016), "ptbtime1.example.org"), ekInformation);
    engine.AddProtocolEntry(Format(LoadStr(1052), "Timeout"), ekError);
    engine.AddProtocolEntry(LoadStr(1070), ekWarning);
    return dialog;
}

KAIRELON_SCENE("options-monitor") {
    auto dialog = OptionsPage(5, Nothing);
    static_cast<TfrmOptions*>(dialog.get())->Engine().UpdateUptimeLabel(1, 2, 5);
    return dialog;
}
