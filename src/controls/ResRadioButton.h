// A radio button whose caption comes from the string table.
//
// `TResRadioButton` is a radio button with the properties `LoadFromRes` and `ResourceId` (see
// controls/ResCaption.h for the caption rule); in design mode it shows "<Resource - Id %d>".
// An "&" in the caption marks the
// access key.
#pragma once

#include "controls/ResControl.h"

#include <QRadioButton>

namespace kairelon {

class TResRadioButton : public TResControl<QRadioButton> {
    Q_OBJECT
    Q_PROPERTY(bool LoadFromRes READ LoadFromRes WRITE setLoadFromRes)
    Q_PROPERTY(int ResourceId READ ResourceId WRITE setResourceId)

public:
    explicit TResRadioButton(QWidget* parent = nullptr)
        : TResControl(parent, "<Resource - Id %d>") {}
};

} // namespace kairelon
