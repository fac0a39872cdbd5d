// The caption rule shared by the resource-captioned controls.
//
// `TResLabel`, `TResButton`, `TResCheckBox` and `TResRadioButton` take their caption from the
// string table: when `LoadFromRes` is true, `Loaded` (run once the window holding the control
// has been built from its definition) replaces the stored caption by the text numbered
// `ResourceId` plus the caption offset, the number held by entry 1 of the table (0 when it is
// missing or not a number; read afresh every time). A control shown in a form designer
// (design mode) shows a placeholder naming the number instead. `CResCaption` holds the two
// properties and this rule; the controls apply the captions it gives them through their shared
// base (controls/ResControl.h).
// `LoadResourceCaptions` runs `Loaded` on every such control of a window.
#pragma once

#include <QString>

#include <optional>
#include <string>

class QWidget;

namespace kairelon {

// What a window asks of each of its resource-captioned controls once it has been built.
class IResCaptioned {
public:
    virtual ~IResCaptioned() = default;
    virtual void Loaded() = 0;
};

// The number entry 1 of the string table holds, or 0.
int CaptionOffset();

// The text of string `resourceId` moved by the caption offset; empty when there is none.
QString ResourceCaption(int resourceId);

// Runs `Loaded` on `window` and on every resource-captioned control inside it.
void LoadResourceCaptions(QWidget* window);

class CResCaption {
public:
    // `placeholder` is the design-mode caption with %d for the number.
    explicit CResCaption(std::string placeholder) : placeholder_(std::move(placeholder)) {}

    bool LoadFromRes() const { return loadFromRes_; }
    int ResourceId() const { return resourceId_; }
    bool DesignMode() const { return designMode_; }

    // Each setter stores its value and returns the caption to show now, if any.
    std::optional<QString> SetLoadFromRes(bool value);
    std::optional<QString> SetResId(int value);
    void SetDesignMode(bool value) { designMode_ = value; }

    QString DesignCaption() const;
    // The caption after loading, or nothing when the stored caption stays.
    std::optional<QString> Loaded() const;

private:
    std::string placeholder_;
    bool loadFromRes_ = false;
    int resourceId_ = 0;
    bool designMode_ = false;
};

} // namespace kairelon
