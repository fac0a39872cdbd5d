#include "controls/AdvEdit.h"

#include "controls/UserPrompt.h"
#include "framework/Exception.h"
#include "framework/Format.h"

#include <QFocusEvent>
#include <QKeyEvent>

#include <cmath>
#include <limits>
#include <string>

namespace kairelon {

TAdvEdit::TAdvEdit(QWidget* parent) : QLineEdit(parent) {}

std::int32_t TAdvEdit::GetAsInt() const {
    int value = 0;
    return TryStrToInt(text().toStdString(), value) ? value : 0;
}

float TAdvEdit::GetAsFloat() const {
    try {
        const double value = StrToFloat(text().toStdString());
        // A number beyond single precision's range does not convert either.
        if (std::fabs(value) > std::numeric_limits<float>::max()) {
            return 0;
        }
        return static_cast<float>(value);
    } catch (const EConvertError&) {
        return 0;
    }
}

TDateTime TAdvEdit::GetAsDate() const {
    try {
        return StrToDate(text().toStdString());
    } catch (const EConvertError&) {
        return Date();
    }
}

Currency TAdvEdit::GetAsCurrency() const {
    try {
        return StrToCurr(text().toStdString());
    } catch (const EConvertError&) {
        return 0;
    }
}

void TAdvEdit::SetText(const std::string& text) {
    setText(QString::fromStdString(text));
}

void TAdvEdit::SetAsInt(std::int32_t value) {
    if (!formatContents_) {
        SetText(IntToStr(value));
        return;
    }
    try {
        SetText(Format(formatString_.toStdString(), value));
    } catch (const std::exception&) {
        SetText(IntToStr(value));
    }
}

void TAdvEdit::SetAsFloat(float value) {
    if (!formatContents_ || formatString_.isEmpty()) {
        SetText(SingleToStr(value));
        return;
    }
    try {
        SetText(FormatFloat(formatString_.toStdString(), value));
    } catch (const std::exception&) {
        SetText(SingleToStr(value));
    }
}

void TAdvEdit::SetAsDate(TDateTime value) {
    const std::string plain = "dd.mm.yyyy";
    if (!formatContents_) {
        SetText(FormatDateTime(plain, value));
        return;
    }
    try {
        if (formatString_.isEmpty()) {
            // The general form: the short date, and the time when there is one.
            std::string text = DateToStr(value);
            if (value != std::trunc(value)) {
                text += FormatDateTime(" hh:nn:ss", value);
            }
            SetText(text);
        } else {
            SetText(FormatDateTime(formatString_.toStdString(), value));
        }
    } catch (const std::exception&) {
        SetText(FormatDateTime(plain, value));
    }
}

void TAdvEdit::SetAsCurrency(Currency value) {
    if (!formatContents_) {
        SetText(CurrToStr(value));
        return;
    }
    try {
        SetText(FormatCurr(formatString_.toStdString(), value));
    } catch (const std::exception&) {
        SetText(CurrToStr(value));
    }
}

bool TAdvEdit::KeyPress(char32_t key) {
    if (key == 8 || !restrictChars_ || allowedChars_.isEmpty()) {
        return true;
    }
    if (allowedChars_.toUcs4().contains(static_cast<uint>(key))) {
        return true;
    }
    if (beepOnFault_) {
        UserPrompt::Beep();
    }
    return false;
}

void TAdvEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        QLineEdit::keyPressEvent(event);
        return;
    default:
        break;
    }
    // Ctrl with a letter types the control character of that letter (Ctrl+C is 3).
    if ((modifiers & Qt::ControlModifier) && !(modifiers & Qt::AltModifier) && key >= Qt::Key_A &&
        key <= Qt::Key_Z) {
        if (KeyPress(static_cast<char32_t>(key - Qt::Key_A + 1))) {
            QLineEdit::keyPressEvent(event);
        } else {
            event->accept();
        }
        return;
    }
    const QList<uint> typed = event->text().toUcs4();
    if (typed.isEmpty()) {
        QLineEdit::keyPressEvent(event); // moving the cursor, selecting: no character
        return;
    }
    std::u32string kept;
    for (const uint c : typed) {
        if (KeyPress(c)) {
            kept += static_cast<char32_t>(c);
        }
    }
    if (kept.size() == static_cast<std::size_t>(typed.size())) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (!kept.empty()) {
        insert(QString::fromStdU32String(kept));
    }
    event->accept();
}

void TAdvEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Another window becoming active or a popup menu opening does not leave the field.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason) {
        DoExit();
    }
}

void TAdvEdit::DoExit() {
    if (formatContents_) {
        const bool modified = isModified();
        switch (contentType_) {
        case ctAdvInt:
            SetAsInt(GetAsInt());
            break;
        case ctAdvFloat:
            SetAsFloat(GetAsFloat());
            break;
        case ctAdvDate:
            SetAsDate(GetAsDate());
            break;
        case ctAdvCurrency:
            SetAsCurrency(GetAsCurrency());
            break;
        case ctAdvText:
            break;
        }
        setModified(modified);
    }
    emit exited();
}

} // namespace kairelon
