// A push button whose caption comes from the string table.
//
// `TResButton` is a push button with the properties `LoadFromRes` and `ResourceId` (see
// controls/ResCaption.h for the caption rule); in design mode it shows "<Res. %d>".
// An "&" in the caption marks the
// button's access key.
#pragma once

#include "controls/ResControl.h"

#include <QPushButton>

namespace kairelon {

class TResButton : public TResControl<QPushButton> {
    Q_OBJECT
    Q_PROPERTY(bool LoadFromRes READ LoadFromRes WRITE setLoadFromRes)
    Q_PROPERTY(int ResourceId READ ResourceId WRITE setResourceId)

public:
    explicit TResButton(QWidget* parent = nullptr) : TResControl(parent, "<Res. %d>") {}
};

} // namespace kairelon
