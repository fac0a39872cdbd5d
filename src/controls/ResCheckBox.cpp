#include "controls/ResCheckBox.h"

#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include <algorithm>

namespace kairelon {

TResCheckBox::TResCheckBox(QWidget* parent) : TResControl(parent, "<Resource - Id %d>") {}

void TResCheckBox::SetWordWrap(bool value) {
    wordWrap_ = value;
    Relayout();
}

void TResCheckBox::SetTextAlign(TRCTextAlign value) {
    textAlign_ = value;
    Relayout();
}

void TResCheckBox::Relayout() {
    QSizePolicy policy = sizePolicy();
    policy.setHeightForWidth(wordWrap_);
    policy.setVerticalPolicy(wordWrap_ ? QSizePolicy::Preferred : QSizePolicy::Fixed);
    setSizePolicy(policy);
    updateGeometry();
    update();
}

TResCheckBox::Geometry TResCheckBox::Layout(const QRect& area) const {
    QStyleOptionButton option;
    initStyleOption(&option);
    const int boxWidth = style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, this);
    const int boxHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, this);
    const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);

    Geometry g;
    g.textArea = QRect(area.left() + boxWidth + spacing, area.top(),
                       std::max(0, area.width() - boxWidth - spacing), area.height());
    const int vertical = textAlign_ == rctaTop      ? Qt::AlignTop
                         : textAlign_ == rctaBottom ? Qt::AlignBottom
                                                    : Qt::AlignVCenter;
    g.flags = Qt::AlignLeft | vertical | Qt::TextShowMnemonic |
              (wordWrap_ ? Qt::TextWordWrap : Qt::TextSingleLine);
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.height();
    g.caption = text().isEmpty() ? QRect() : metrics.boundingRect(g.textArea, g.flags, text());

    // The box sits beside the first line, the middle or the last line of the caption.
    int boxTop = area.top() + (area.height() - boxHeight) / 2;
    if (!g.caption.isEmpty() && textAlign_ == rctaTop) {
        boxTop = g.caption.top() + (line - boxHeight) / 2;
    } else if (!g.caption.isEmpty() && textAlign_ == rctaBottom) {
        boxTop = g.caption.bottom() + 1 - line + (line - boxHeight) / 2;
    } else if (text().isEmpty() && textAlign_ == rctaTop) {
        boxTop = area.top();
    } else if (text().isEmpty() && textAlign_ == rctaBottom) {
        boxTop = area.bottom() + 1 - boxHeight;
    }
    boxTop = std::clamp(boxTop, area.top(), std::max(area.top(), area.bottom() + 1 - boxHeight));
    g.indicator = QRect(area.left(), boxTop, boxWidth, boxHeight);
    return g;
}

QRect TResCheckBox::IndicatorRect() const {
    return Layout(rect()).indicator;
}

QRect TResCheckBox::CaptionRect() const {
    return Layout(rect()).caption;
}

QSize TResCheckBox::sizeHint() const {
    QSize size = QCheckBox::sizeHint();
    if (wordWrap_) {
        size.setHeight(std::max(size.height(), heightForWidth(size.width())));
    }
    return size;
}

QSize TResCheckBox::minimumSizeHint() const {
    if (!wordWrap_) {
        return QCheckBox::minimumSizeHint();
    }
    // Wide enough for the box and the longest word; the height follows the width given.
    const Geometry g = Layout(QRect(0, 0, 0, 0));
    int word = 0;
    for (const QString& part : text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        word = std::max(word, fontMetrics().horizontalAdvance(part));
    }
    const int width = g.textArea.left() + word + 2;
    return QSize(width, std::max(g.indicator.height(), fontMetrics().height()) + 2);
}

bool TResCheckBox::hasHeightForWidth() const {
    return wordWrap_;
}

int TResCheckBox::heightForWidth(int width) const {
    const Geometry g = Layout(QRect(0, 0, width, QWIDGETSIZE_MAX / 2));
    const int flags = g.flags & ~(Qt::AlignBottom | Qt::AlignVCenter);
    const QRect lines = fontMetrics().boundingRect(
        QRect(g.textArea.left(), 0, g.textArea.width(), QWIDGETSIZE_MAX / 2), flags | Qt::AlignTop,
        text());
    return std::max({lines.height(), g.indicator.height(), fontMetrics().height()}) + 2;
}

void TResCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const Geometry g = Layout(rect());

    QStyleOptionButton box = option;
    box.rect = g.indicator;
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, box);

    painter.setClipRect(rect());
    style()->drawItemText(&painter, g.textArea, g.flags, option.palette, isEnabled(), text(),
                          QPalette::WindowText);

    if (hasFocus() && !g.caption.isEmpty()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = g.caption.adjusted(-1, 0, 1, 0).intersected(rect());
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool TResCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

} // namespace kairelon
