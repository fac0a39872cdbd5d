#include "controls/ResLabel.h"

namespace kairelon {

TResLabel::TResLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
}

void TResLabel::SetLoadFromRes(bool value) {
    Show(caption_.SetLoadFromRes(value));
}

void TResLabel::SetResId(int value) {
    Show(caption_.SetResId(value));
}

void TResLabel::SetDesignCaption() {
    setText(caption_.DesignCaption());
}

void TResLabel::Loaded() {
    Show(caption_.Loaded());
}

void TResLabel::Show(const std::optional<QString>& caption) {
    if (caption) {
        setText(*caption);
    }
}

} // namespace kairelon
