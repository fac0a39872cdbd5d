// The up-down control: two arrow buttons that step the number in a buddy edit field.
//
// `TUpDown` keeps `Position` inside `Min`..`Max` and writes it into its buddy (`Associate`)
// as plain decimal digits, without thousand separators, so the buddy reads it back as an
// integer. Asked for its position, it first reads the buddy's text: a number inside the range
// becomes the position, so what the user typed is what the dialog stores; a text that is no
// number or lies outside the range leaves the position as it was. The arrow buttons, and the Up and
// Down keys while the buddy has the focus, step by `Increment` (held down, they repeat). A step
// starts from the buddy's text when that is a number (clamped into the range), else from
// `Position`, and stops at the range's ends (there is no wrapping round unless `Wrap` is set). The
// control never limits what is typed into the buddy: a number outside the range stays as typed
// until the next step.
#pragma once

#include <QPointer>
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace kairelon {

class TUpDown : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Min READ Min WRITE setMin)
    Q_PROPERTY(int Max READ Max WRITE setMax)
    Q_PROPERTY(int Position READ Position WRITE setPosition)
    Q_PROPERTY(int Increment READ Increment WRITE setIncrement)
    Q_PROPERTY(bool Wrap READ Wrap WRITE setWrap)

public:
    explicit TUpDown(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    // The buddy's number when it lies inside the range, else the position as it was.
    int Position() const;
    int Increment() const { return increment_; }
    bool Wrap() const { return wrap_; }
    QLineEdit* Associate() const { return buddy_; }

    void SetMin(int value);
    void SetMax(int value);
    void SetPosition(int value); // clamped into the range, written into the buddy
    void SetIncrement(int value);
    void SetWrap(bool value) { wrap_ = value; }
    // Binds the buddy field and writes the position into it; null unbinds.
    void SetAssociate(QLineEdit* buddy);

    // The setters under the names a compiled window definition (uic) calls.
    void setMin(int value) { SetMin(value); }
    void setMax(int value) { SetMax(value); }
    void setPosition(int value) { SetPosition(value); }
    void setIncrement(int value) { SetIncrement(value); }
    void setWrap(bool value) { SetWrap(value); }

    // One step up (+Increment) or down (-Increment), as a click on an arrow button does.
    void StepBy(int steps);

    QSize sizeHint() const override;

signals:
    void PositionChanged(int position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int Clamp(long long value) const;
    void WriteBuddy();

    int min_ = 0;
    int max_ = 100;
    mutable int position_ = 0; // follows the buddy's text whenever it is asked for
    int increment_ = 1;
    bool wrap_ = false;
    QPointer<QLineEdit> buddy_;
    const QObject* buddyObject_ = nullptr; // the same, for comparing with events' receivers
    QToolButton* up_;
    QToolButton* down_;
};

} // namespace kairelon
