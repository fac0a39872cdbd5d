#include "diag/ProtocolList.h"

#include "diag/ProtocolEntry.h"

namespace kairelon {

int TProtocolList::ImageIndexForKind(int kind) {
    switch (kind) {
    case ekInformation:
        return 1;
    case ekWarning:
        return 0;
    case ekError:
        return 3;
    default:
        return 2;
    }
}

void TProtocolList::AddProtocolEntry(const std::string& text, int kind) {
    if (items_.size() > MaxItemsBeforeClear) {
        DeleteAll();
    }
    items_.push_back(ProtocolItem{text, kind, ImageIndexForKind(kind)});
    if (listener_) {
        listener_(&items_.back());
    }
}

void TProtocolList::DeleteAll() {
    items_.clear();
    if (listener_) {
        listener_(nullptr);
    }
}

} // namespace kairelon
