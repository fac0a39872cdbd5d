// The event protocol: the visible log of start-up, dialling and synchronising.
//
// `TProtocolList` is the model behind the list on the "Protokoll" page: entries in the order
// they were added, each a text and a kind with the image index of its icon. It lives only in
// memory and starts empty. When it already holds more than 250 entries, the next entry first
// clears it, so it never holds more than 251. A listener (the list view, or the headless host
// that prints each entry) is told of every change.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kairelon {

struct ProtocolItem {
    std::string text;
    int kind = 0;       // 1 information, 2 warning, 3 error
    int imageIndex = 0; // icon in the image list: 0 warning, 1 information, 2 question, 3 error
};

class TProtocolList {
public:
    static constexpr std::size_t MaxItemsBeforeClear = 250;

    // Called after every change: `added` is the new entry, or null when the list was cleared.
    using Listener = std::function<void(const ProtocolItem* added)>;

    void AddProtocolEntry(const std::string& text, int kind);
    void DeleteAll(); // the "Löschen" button of the page: no question asked

    const std::vector<ProtocolItem>& Items() const { return items_; }
    void SetListener(Listener listener) { listener_ = std::move(listener); }

    static int ImageIndexForKind(int kind);

private:
    std::vector<ProtocolItem> items_;
    Listener listener_;
};

} // namespace kairelon
