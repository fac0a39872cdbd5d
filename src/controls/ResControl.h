// The part every resource-captioned control shares, between its Qt class and itself.
//
// `TResControl<QtControl>` gives a label or button (any Qt control with `setText`) the
// properties `LoadFromRes` and `ResourceId`, their setters under the names the control offers
// and those a compiled window definition (uic) calls, and `Loaded`: it applies the captions
// that `CResCaption` (controls/ResCaption.h) decides on. It declares no Qt properties itself:
// the meta-object compiler reads no templates, so each control declares them over these
// accessors. It does not draw or lay out anything.
#pragma once

#include "controls/ResCaption.h"

#include <QWidget>

#include <optional>
#include <string>
#include <utility>

namespace kairelon {

template <typename QtControl> class TResControl : public QtControl, public IResCaptioned {
public:
    bool LoadFromRes() const { return caption_.LoadFromRes(); }
    int ResourceId() const { return caption_.ResourceId(); }
    void SetLoadFromRes(bool value) { Show(caption_.SetLoadFromRes(value)); }
    void SetResId(int value) { Show(caption_.SetResId(value)); }
    void SetDesignMode(bool value) { caption_.SetDesignMode(value); }
    void SetDesignCaption() { this->setText(caption_.DesignCaption()); }
    void Loaded() override { Show(caption_.Loaded()); }

    // The setters under the names a compiled window definition (uic) calls.
    void setLoadFromRes(bool value) { SetLoadFromRes(value); }
    void setResourceId(int value) { SetResId(value); }

protected:
    // `placeholder`: the design-mode caption, %d for the number.
    TResControl(QWidget* parent, std::string placeholder)
        : QtControl(parent), caption_(std::move(placeholder)) {}

private:
    void Show(const std::optional<QString>& caption) {
        if (caption) {
            this->setText(*caption);
        }
    }

    CResCaption caption_;
};

} // namespace kairelon
