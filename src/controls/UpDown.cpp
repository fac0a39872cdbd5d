#include "controls/UpDown.h"

#include "framework/Format.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kairelon {

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    up_->setObjectName(QStringLiteral("up"));
    down_->setObjectName(QStringLiteral("down"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton* button : {up_, down_}) {
        button->setArrowType(button == up_ ? Qt::UpArrow : Qt::DownArrow);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(button);
    }
    connect(up_, &QToolButton::clicked, this, [this] { StepBy(1); });
    connect(down_, &QToolButton::clicked, this, [this] { StepBy(-1); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

int TUpDown::Clamp(long long value) const {
    return static_cast<int>(std::clamp<long long>(value, min_, std::max(min_, max_)));
}

int TUpDown::Position() const {
    int typed = 0;
    if (buddy_ && TryStrToInt(buddy_->text().toStdString(), typed) && typed >= min_ &&
        typed <= std::max(min_, max_)) {
        position_ = typed;
    }
    return position_;
}

void TUpDown::SetMin(int value) {
    min_ = value;
    SetPosition(position_);
}

void TUpDown::SetMax(int value) {
    max_ = value;
    SetPosition(position_);
}

void TUpDown::SetIncrement(int value) {
    increment_ = value;
}

void TUpDown::SetPosition(int value) {
    const int clamped = Clamp(value);
    const bool changed = clamped != position_;
    position_ = clamped;
    WriteBuddy();
    if (changed) {
        emit PositionChanged(position_);
    }
}

void TUpDown::SetAssociate(QLineEdit* buddy) {
    if (buddy_) {
        buddy_->removeEventFilter(this);
    }
    buddy_ = buddy;
    buddyObject_ = buddy;
    if (buddy_) {
        buddy_->installEventFilter(this);
        WriteBuddy();
    }
}

void TUpDown::WriteBuddy() {
    if (buddy_) {
        buddy_->setText(QString::number(position_));
    }
}

void TUpDown::StepBy(int steps) {
    long long from = position_;
    int typed = 0;
    if (buddy_ && TryStrToInt(buddy_->text().toStdString(), typed)) {
        from = Clamp(typed);
    }
    const long long low = min_;
    const long long high = std::max(min_, max_);
    long long to = from + static_cast<long long>(steps) * increment_;
    if (wrap_ && (to > high || to < low)) {
        to = to > high ? low : high;
    }
    const bool changed = Clamp(to) != position_;
    position_ = Clamp(to);
    WriteBuddy();
    if (changed) {
        emit PositionChanged(position_);
    }
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    // Compared as objects: the buddy may be in its destructor, no longer a QLineEdit.
    if (event->type() == QEvent::KeyPress && watched == buddyObject_ && buddy_ && isEnabled()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            StepBy(key->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QSize TUpDown::sizeHint() const {
    const int height = buddy_ ? buddy_->sizeHint().height() : 22;
    return QSize(std::max(16, height * 2 / 3), height);
}

} // namespace kairelon
