// A label whose caption comes from the string table.
//
// `TResLabel` is a label with the properties `LoadFromRes` and `ResourceId` (see
// controls/ResCaption.h for the caption rule); in design mode it shows "<Resource - Id %d>".
// Its caption is plain text (a placeholder such as "<Resource - Id 1009>" is never read as
// markup); word wrapping is the label's own (`setWordWrap`).
#pragma once

#include "controls/ResControl.h"

#include <QLabel>

namespace kairelon {

class TResLabel : public TResControl<QLabel> {
    Q_OBJECT
    Q_PROPERTY(bool LoadFromRes READ LoadFromRes WRITE setLoadFromRes)
    Q_PROPERTY(int ResourceId READ ResourceId WRITE setResourceId)

public:
    explicit TResLabel(QWidget* parent = nullptr) : TResControl(parent, "<Resource - Id %d>") {
        setTextFormat(Qt::PlainText);
    }
};

} // namespace kairelon
