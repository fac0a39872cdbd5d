#include "controls/ResCaption.h"

#include "framework/Format.h"
#include "framework/StringTable.h"

#include <QWidget>

#include <cstdint>
#include <limits>

namespace kairelon {

int CaptionOffset() {
    int offset = 0;
    return TryStrToInt(LoadStr(1), offset) ? offset : 0;
}

QString ResourceCaption(int resourceId) {
    // Added in 64 bits: an offset near the end of the integer range names no string rather
    // than wrapping round to another one.
    const std::int64_t number = std::int64_t{CaptionOffset()} + resourceId;
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
        return QString();
    }
    return QString::fromStdString(LoadStr(static_cast<int>(number)));
}

void LoadResourceCaptions(QWidget* window) {
    if (auto* self = dynamic_cast<IResCaptioned*>(window)) {
        self->Loaded();
    }
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (auto* control = dynamic_cast<IResCaptioned*>(child)) {
            control->Loaded();
        }
    }
}

std::optional<QString> CResCaption::SetLoadFromRes(bool value) {
    loadFromRes_ = value;
    if (value && designMode_) {
        return DesignCaption();
    }
    return std::nullopt;
}

std::optional<QString> CResCaption::SetResId(int value) {
    resourceId_ = value;
    if (loadFromRes_ && designMode_) {
        return DesignCaption();
    }
    return std::nullopt;
}

QString CResCaption::DesignCaption() const {
    return QString::fromStdString(Format(placeholder_, resourceId_));
}

std::optional<QString> CResCaption::Loaded() const {
    if (!loadFromRes_) {
        return std::nullopt;
    }
    if (designMode_) {
        return DesignCaption();
    }
    return ResourceCaption(resourceId_);
}

} // namespace kairelon
