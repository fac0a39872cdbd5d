#include "controls/ResRadioButton.h"

namespace kairelon {

TResRadioButton::TResRadioButton(QWidget* parent) : QRadioButton(parent) {}

void TResRadioButton::SetLoadFromRes(bool value) {
    Show(caption_.SetLoadFromRes(value));
}

void TResRadioButton::SetResId(int value) {
    Show(caption_.SetResId(value));
}

void TResRadioButton::SetDesignCaption() {
    setText(caption_.DesignCaption());
}

void TResRadioButton::Loaded() {
    Show(caption_.Loaded());
}

void TResRadioButton::Show(const std::optional<QString>& caption) {
    if (caption) {
        setText(*caption);
    }
}

} // namespace kairelon
