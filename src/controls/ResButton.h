// A push button whose caption comes from the string table.
//
// `TResButton` is a push button with the properties `LoadFromRes` and `ResourceId` (see
// controls/ResCaption.h for the caption rule); in design mode it shows "<Res. %d>".
// An "&" in the caption marks the
// button's access key.
#pragma once

#include "controls/ResCaption.h"

#include <QPushButton>

namespace kairelon {

class TResButton : public QPushButton, public IResCaptioned {
    Q_OBJECT
    Q_PROPERTY(bool LoadFromRes READ LoadFromRes WRITE setLoadFromRes)
    Q_PROPERTY(int ResourceId READ ResourceId WRITE setResourceId)

public:
    explicit TResButton(QWidget* parent = nullptr);

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

    CResCaption caption_{"<Res. %d>"};
};

} // namespace kairelon
