// The list view of the event protocol.
//
// `TProtocolView` shows the entries of a `TProtocolList` as a report-style list: column 0,
// 25 pixels wide, holds only the entry's icon (0 warning, 1 information, 2 question, 3 error,
// drawn from the SVG images under resources/protocol/); column 1, headed by text 1037
// "Ereignis" and sized to its longest text, holds the entry's text. Rows are selected whole,
// nothing can be edited, clicks on the headers do nothing, and each new entry is scrolled into
// view (one added while the view is hidden is in view when it is shown). The view follows the
// model through `ProtocolChanged`, which the model's listener (or the engine's host) calls for
// every change: an added entry is appended, a cleared model empties the view at once.
#pragma once

#include "diag/ProtocolList.h"

#include <QIcon>
#include <QTreeWidget>

namespace kairelon {

class TProtocolView : public QTreeWidget {
    Q_OBJECT

public:
    static constexpr int ImageColumnWidth = 25;

    explicit TProtocolView(QWidget* parent = nullptr);

    // Shows `list`'s entries and follows its changes by taking the list's one listener. The
    // engine's list already has a listener (its host): a window hosting the engine calls
    // `Reload` once and `ProtocolChanged` from its `SyncHost::ProtocolChanged` instead.
    void Bind(TProtocolList& list);
    // The model changed: `added` is the new entry, or null when it was cleared.
    void ProtocolChanged(const ProtocolItem* added);
    // Shows exactly these entries.
    void Reload(const std::vector<ProtocolItem>& items);

    // The icon of an image index (0 warning, 1 information, 2 question, 3 error).
    static QIcon ImageIcon(int imageIndex);
    int ImageIndexOf(int row) const; // the image index shown in a row

private:
    void Append(const ProtocolItem& item);
    void ScrollToNewest();
};

} // namespace kairelon
