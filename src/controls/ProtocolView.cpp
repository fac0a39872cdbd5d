#include "controls/ProtocolView.h"

#include "framework/StringTable.h"

#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <array>

// Resources of a static library must be registered by name, outside any namespace.
static void InitKairelonResources() {
    Q_INIT_RESOURCE(resources);
}

namespace kairelon {
namespace {

constexpr int kImageRole = Qt::UserRole + 1;

// Renders the SVG at each size the view may ask for, independent of image plug-ins.
QIcon LoadSvgIcon(const QString& path) {
    QSvgRenderer renderer(path);
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon TProtocolView::ImageIcon(int imageIndex) {
    static const std::array<QIcon, 4> icons = [] {
        InitKairelonResources();
        return std::array<QIcon, 4>{
            LoadSvgIcon(QStringLiteral(":/kairelon/protocol/warning.svg")),
            LoadSvgIcon(QStringLiteral(":/kairelon/protocol/information.svg")),
            LoadSvgIcon(QStringLiteral(":/kairelon/protocol/question.svg")),
            LoadSvgIcon(QStringLiteral(":/kairelon/protocol/error.svg")),
        };
    }();
    return imageIndex >= 0 && imageIndex < static_cast<int>(icons.size())
               ? icons[static_cast<std::size_t>(imageIndex)]
               : icons[2];
}

TProtocolView::TProtocolView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(2);
    setHeaderLabels({QString(), QString::fromStdString(LoadStr(1037))});
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setIconSize(QSize(16, 16));
    setAllColumnsShowFocus(true);
    QHeaderView* header = this->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header->setMinimumSectionSize(ImageColumnWidth);
    header->resizeSection(0, ImageColumnWidth);
}

void TProtocolView::Bind(TProtocolList& list) {
    list.SetListener([this](const ProtocolItem* added) { ProtocolChanged(added); });
    Reload(list.Items());
}

void TProtocolView::ProtocolChanged(const ProtocolItem* added) {
    if (added == nullptr) {
        clear();
        return;
    }
    Append(*added);
    ScrollToNewest();
}

void TProtocolView::Reload(const std::vector<ProtocolItem>& items) {
    clear();
    for (const ProtocolItem& item : items) {
        Append(item);
    }
    ScrollToNewest();
}

void TProtocolView::Append(const ProtocolItem& item) {
    auto* row = new QTreeWidgetItem(this);
    row->setIcon(0, ImageIcon(item.imageIndex));
    row->setData(0, kImageRole, item.imageIndex);
    row->setText(1, QString::fromStdString(item.text));
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren);
}

int TProtocolView::ImageIndexOf(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->data(0, kImageRole).toInt() : -1;
}

void TProtocolView::ScrollToNewest() {
    if (QTreeWidgetItem* last = topLevelItem(topLevelItemCount() - 1)) {
        scrollToItem(last, QAbstractItemView::EnsureVisible);
    }
}

} // namespace kairelon
