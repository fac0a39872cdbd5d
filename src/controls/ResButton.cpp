#include "controls/ResButton.h"

namespace kairelon {

TResButton::TResButton(QWidget* parent) : QPushButton(parent) {}

void TResButton::SetLoadFromRes(bool value) {
    Show(caption_.SetLoadFromRes(value));
}

void TResButton::SetResId(int value) {
    Show(caption_.SetResId(value));
}

void TResButton::SetDesignCaption() {
    setText(caption_.DesignCaption());
}

void TResButton::Loaded() {
    Show(caption_.Loaded());
}

void TResButton::Show(const std::optional<QString>& caption) {
    if (caption) {
        setText(*caption);
    }
}

} // namespace kairelon
