// A radio button whose caption comes from the string table.
//
// `TResRadioButton` is a radio button with the properties `LoadFromRes` and `ResourceId` (see
// controls/ResCaption.h for the caption rule); in design mode it shows "<Resource - Id %d>".
// An "&" in the caption marks the
// access key.
#pragma once

#include "controls/ResCaption.h"

#include <QRadioButton>

namespace kairelon {

class TResRadioButton : public QRadioButton, public IResCaptioned {
    Q_OBJECT
    Q_PROPERTY(bool LoadFromRes READ LoadFromRes WRITE setLoadFromRes)
    Q_PROPERTY(int ResourceId READ ResourceId WRITE setResourceId)

public:
    explicit TResRadioButton(QWidget* parent = nullptr);

    bool LoadFromRes() const { return caption_.LoadFromRes(); }
    int ResourceId() const { return caption_.ResourceId(); }
    void SetLoadFromRes(bool value);
    void SetResId(int value);
    void SetDesignMode(bool value) { caption_.SetDesignMode(value); }
    void SetDesignCaption();
    void Loaded() override;

    // The setters under the names a compiled window definition (uic) calls.
    void setLoadFromRes(bool value) { SetLoadFromRes(value); }
    void setResourceId(int value) { SetResId(value); }

private:
    void Show(const std::optional<QString>& caption);

    CResCaption caption_{"<Resource - Id %d>"};
};

} // namespace kairelon
