// The typed edit field of the numeric fields.
//
// `TAdvEdit` is a single-line edit field that knows the kind of value it holds
// (`ContentType`). It can refuse typed characters outside `AllowedChars` (with a beep through
// the prompt seam when `BeepOnFault`); only backspace is always let through, while control
// characters such as the clipboard shortcuts Ctrl+C, Ctrl+V and Ctrl+X (characters 3, 22 and
// 24) count as typed characters. Dialog keys (Return, Enter, Escape, Tab) are not characters
// typed into the field and pass unfiltered. Text set by the program or pasted from the context
// menu is not filtered. The typed getters read the text with the framework's conversions and
// give a fallback (0, today) when it does not convert; the setters write through
// `FormatString` when `FormatContents` is true, falling back to the plain text when the format
// fails. When the focus leaves the field, `DoExit` re-formats the text by its kind (keeping the
// modified flag) before the `exited` signal, the field's own exit handler, is emitted.
#pragma once

#include "framework/Conversions.h"
#include "framework/DateTime.h"

#include <QLineEdit>

#include <cstdint>

namespace kairelon {

class TAdvEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(TContentType ContentType READ ContentType WRITE setContentType)
    Q_PROPERTY(bool BeepOnFault READ BeepOnFault WRITE setBeepOnFault)
    Q_PROPERTY(bool RestrictChars READ RestrictChars WRITE setRestrictChars)
    Q_PROPERTY(bool FormatContents READ FormatContents WRITE setFormatContents)
    Q_PROPERTY(QString AllowedChars READ AllowedChars WRITE setAllowedChars)
    Q_PROPERTY(QString FormatString READ FormatString WRITE setFormatString)

public:
    enum TContentType {
        ctAdvInt = 0,
        ctAdvFloat = 1,
        ctAdvDate = 2,
        ctAdvText = 3,
        ctAdvCurrency = 4
    };
    Q_ENUM(TContentType)

    explicit TAdvEdit(QWidget* parent = nullptr);

    TContentType ContentType() const { return contentType_; }
    void SetContentType(TContentType value) { contentType_ = value; }
    bool BeepOnFault() const { return beepOnFault_; }
    void SetBeepOnFault(bool value) { beepOnFault_ = value; }
    bool RestrictChars() const { return restrictChars_; }
    void SetRestrictChars(bool value) { restrictChars_ = value; }
    bool FormatContents() const { return formatContents_; }
    void SetFormatContents(bool value) { formatContents_ = value; }
    QString AllowedChars() const { return allowedChars_; }
    void SetAllowedChars(const QString& value) { allowedChars_ = value; }
    QString FormatString() const { return formatString_; }
    void SetFormatString(const QString& value) { formatString_ = value; }

    // The setters under the names a compiled window definition (uic) calls.
    void setContentType(TContentType value) { SetContentType(value); }
    void setBeepOnFault(bool value) { SetBeepOnFault(value); }
    void setRestrictChars(bool value) { SetRestrictChars(value); }
    void setFormatContents(bool value) { SetFormatContents(value); }
    void setAllowedChars(const QString& value) { SetAllowedChars(value); }
    void setFormatString(const QString& value) { SetFormatString(value); }

    std::int32_t GetAsInt() const;  // 0 when the text is not a 32-bit integer
    float GetAsFloat() const;       // 0 when it is not a number of single precision
    TDateTime GetAsDate() const;    // today, time of day 0, when it is not a date
    Currency GetAsCurrency() const; // 0 when it is not an amount
    void SetAsInt(std::int32_t value);
    void SetAsFloat(float value);
    void SetAsDate(TDateTime value);
    void SetAsCurrency(Currency value);

    // Decides on one typed character: true to let it into the field. Refusing beeps when
    // `BeepOnFault` is true.
    bool KeyPress(char32_t key);

signals:
    // The focus has left the field (after the re-formatting).
    void exited();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    virtual void DoExit();

private:
    void SetText(const std::string& text);

    TContentType contentType_ = ctAdvText;
    bool beepOnFault_ = true;
    bool restrictChars_ = false;
    bool formatContents_ = false;
    QString allowedChars_;
    QString formatString_;
};

} // namespace kairelon
