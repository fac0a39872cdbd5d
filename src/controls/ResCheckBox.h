// A check box whose caption comes from the string table and may wrap.
//
// `TResCheckBox` has `LoadFromRes` and `ResourceId` like the other resource-captioned controls
// (controls/ResCaption.h; design-mode placeholder "<Resource - Id %d>") and two properties of
// layout: `WordWrap` lets a long caption wrap inside the control's width, and `TextAlign`
// places the caption at the top, in the middle or at the bottom of the control; the box sits
// beside the caption's first line (top), its middle (centre) or its last line (bottom). A plain
// check box can do neither, so this one draws its box and caption itself. Both properties
// take effect at once. Clicking anywhere in the control toggles it.
#pragma once

#include "controls/ResControl.h"

#include <QCheckBox>

namespace kairelon {

class TResCheckBox : public TResControl<QCheckBox> {
    Q_OBJECT
    Q_PROPERTY(bool LoadFromRes READ LoadFromRes WRITE setLoadFromRes)
    Q_PROPERTY(int ResourceId READ ResourceId WRITE setResourceId)
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE setWordWrap)
    Q_PROPERTY(TRCTextAlign TextAlign READ TextAlign WRITE setTextAlign)

public:
    enum TRCTextAlign { rctaTop = 0, rctaCenter = 1, rctaBottom = 2 };
    Q_ENUM(TRCTextAlign)

    explicit TResCheckBox(QWidget* parent = nullptr);

    // The setters under the names a compiled window definition (uic) calls.
    void setWordWrap(bool value) { SetWordWrap(value); }
    void setTextAlign(TRCTextAlign value) { SetTextAlign(value); }

    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    TRCTextAlign TextAlign() const { return textAlign_; }
    void SetTextAlign(TRCTextAlign value);

    // Where the box and the caption are drawn in the control's present size.
    QRect IndicatorRect() const;
    QRect CaptionRect() const; // the area the caption's lines take

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    struct Geometry {
        QRect indicator;
        QRect textArea; // where the caption may be drawn
        QRect caption;  // where its lines are
        int flags = 0;  // text flags for drawing
    };
    Geometry Layout(const QRect& area) const;
    void Relayout();

    bool wordWrap_ = false;
    TRCTextAlign textAlign_ = rctaCenter;
};

} // namespace kairelon
