// Scenes of the controls: captions from the program's string table, the typed fields with
// their up-downs, and the protocol list with an entry of each kind.
#include "Scenes.h"

#include "controls/AdvEdit.h"
#include "controls/ProtocolView.h"
#include "controls/ResButton.h"
#include "controls/ResCaption.h"
#include "controls/ResCheckBox.h"
#include "controls/ResLabel.h"
#include "controls/ResRadioButton.h"
#include "controls/UpDown.h"
#include "diag/ProtocolEntry.h"
#include "diag/ProtocolList.h"
#include "framework/Format.h"
#include "framework/StringTable.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

using namespace kairelon;
using kairelon::render::Panel;

namespace {

template <typename Control> Control* Captioned(QWidget* parent, int resourceId) {
    auto* control = new Control(parent);
    control->SetLoadFromRes(true);
    control->SetResId(resourceId);
    control->Loaded();
    return control;
}

} // namespace

KAIRELON_SCENE("controls-labels") {
    auto panel = Panel(340);
    auto* layout = new QVBoxLayout(panel.get());
    auto* server = Captioned<TResLabel>(panel.get(), 1000);
    server->setWordWrap(true);
    layout->addWidget(server);
    layout->addWidget(Captioned<TResLabel>(panel.get(), 1010));
    layout->addWidget(Captioned<TResLabel>(panel.get(), 1001));
    auto* zone = Captioned<TResLabel>(panel.get(), 1005);
    zone->setWordWrap(true);
    layout->addWidget(zone);
    return panel;
}

KAIRELON_SCENE("controls-buttons") {
    auto panel = Panel(340);
    auto* layout = new QHBoxLayout(panel.get());
    for (const int id : {2001, 2002, 1053, 2000}) {
        layout->addWidget(Captioned<TResButton>(panel.get(), id));
    }
    return panel;
}

KAIRELON_SCENE("controls-checkboxes") {
    auto panel = Panel(340);
    auto* layout = new QVBoxLayout(panel.get());
    auto* connect = Captioned<TResCheckBox>(panel.get(), 1009);
    connect->setObjectName("chkConnect");
    connect->SetWordWrap(true);
    connect->SetTextAlign(TResCheckBox::rctaTop);
    connect->setChecked(true);
    layout->addWidget(connect);
    layout->addWidget(Captioned<TResCheckBox>(panel.get(), 1076));
    auto* maxDeviation = Captioned<TResCheckBox>(panel.get(), 1082);
    maxDeviation->setChecked(true);
    layout->addWidget(maxDeviation);
    // The two other placements of a wrapped caption, in a taller box.
    for (const auto align : {TResCheckBox::rctaCenter, TResCheckBox::rctaBottom}) {
        auto* box = Captioned<TResCheckBox>(panel.get(), 1009);
        box->SetWordWrap(true);
        box->SetTextAlign(align);
        box->setFixedHeight(60);
        layout->addWidget(box);
    }
    return panel;
}

KAIRELON_SCENE("controls-radiobuttons") {
    auto panel = Panel(340);
    auto* layout = new QVBoxLayout(panel.get());
    auto* relative = Captioned<TResRadioButton>(panel.get(), 1056);
    relative->setChecked(true);
    layout->addWidget(relative);
    layout->addWidget(Captioned<TResRadioButton>(panel.get(), 1057));
    return panel;
}

KAIRELON_SCENE("controls-fields") {
    auto panel = Panel(340);
    auto* layout = new QGridLayout(panel.get());
    struct Field {
        int label;
        int min, max, increment, position, maxLength;
        const char* format;
    };
    const Field fields[] = {
        {1010, 1000, 30000, 1000, 10000, 5, "%d"},
        {1001, 1, 999, 1, 1, 3, "%d"},
        {1058, 0, 23, 1, 7, 2, "%.2d"},
    };
    int row = 0;
    for (const Field& f : fields) {
        layout->addWidget(Captioned<TResLabel>(panel.get(), f.label), row, 0);
        auto* edit = new TAdvEdit(panel.get());
        edit->SetContentType(TAdvEdit::ctAdvInt);
        edit->SetRestrictChars(true);
        edit->SetFormatContents(true);
        edit->SetAllowedChars("0123456789");
        edit->SetFormatString(f.format);
        edit->setMaxLength(f.maxLength);
        edit->setFixedWidth(60);
        auto* upDown = new TUpDown(panel.get());
        upDown->SetMin(f.min);
        upDown->SetMax(f.max);
        upDown->SetIncrement(f.increment);
        upDown->SetAssociate(edit);
        upDown->SetPosition(f.position);
        edit->SetAsInt(edit->GetAsInt());
        auto* pair = new QHBoxLayout;
        pair->setSpacing(0);
        pair->addWidget(edit);
        pair->addWidget(upDown);
        pair->addStretch();
        layout->addLayout(pair, row, 1);
        ++row;
    }
    return panel;
}

KAIRELON_SCENE("controls-protocol") {
    static TProtocolList list;
    auto panel = Panel(420);
    auto* layout = new QVBoxLayout(panel.get());
    auto* view = new TProtocolView(panel.get());
    view->setObjectName("lvwProtokoll");
    view->setFixedHeight(150);
    list.AddProtocolEntry(LoadStr(1071), ekInformation);
    list.AddProtocolEntry(LoadStr(1069), ekWarning);
    list.AddProtocolEntry(LoadStr(1029), ekInformation);
    list.AddProtocolEntry(Format(LoadStr(1016), "time.example.org"), ekInformation);
    list.AddProtocolEntry(Format(LoadStr(1019), "nirgendwo.example"), ekWarning);
    list.AddProtocolEntry(LoadStr(1027) + " Zeitüberschreitung", ekError);
    list.AddProtocolEntry("Art 7: unbekannt", 7);
    view->Bind(list);
    layout->addWidget(view);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* del = Captioned<TResButton>(panel.get(), 2000);
    del->setObjectName("btnDelProt");
    buttons->addWidget(del);
    layout->addLayout(buttons);
    return panel;
}
