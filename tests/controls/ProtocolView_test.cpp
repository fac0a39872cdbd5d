// The protocol list view following the protocol model: columns, icons, the 250/251 rule,
// clearing and scrolling to the newest entry.
#include "controls/ProtocolView.h"
#include "controls/ResButton.h"
#include "diag/ProtocolEntry.h"
#include "diag/ProtocolList.h"
#include "framework/StringTable.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <iterator>
#include <string>

using namespace kairelon;

namespace {

void AddEntries(TProtocolList& list, int count, int kind = ekInformation) {
    for (int i = 0; i < count; ++i) {
        list.AddProtocolEntry("Eintrag " + std::to_string(i), kind);
    }
}

bool NewestFullyVisible(const TProtocolView& view) {
    const QTreeWidgetItem* last = view.topLevelItem(view.topLevelItemCount() - 1);
    const QRect rect = view.visualItemRect(last);
    return view.viewport()->rect().contains(rect);
}

} // namespace

TEST(ProtocolView, ColumnsOfTheReportStyleList) {
    TProtocolView view;
    EXPECT_EQ(view.columnCount(), 2);
    EXPECT_EQ(view.headerItem()->text(0), "");
    EXPECT_EQ(view.headerItem()->text(1), "Ereignis");
    EXPECT_EQ(view.columnWidth(0), TProtocolView::ImageColumnWidth);
    EXPECT_EQ(view.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(view.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(view.header()->sectionsClickable());
    EXPECT_FALSE(view.isSortingEnabled());
}

TEST(ProtocolView, EachKindShowsItsImageAndTheTextInColumnOne) {
    struct Case {
        int kind;
        int imageIndex;
    };
    const Case cases[] = {
        {ekInformation, 1}, {ekWarning, 0}, {ekError, 3}, {0, 2}, {4, 2}, {-1, 2}};
    TProtocolList list;
    TProtocolView view;
    view.Bind(list);
    for (const Case& c : cases) {
        list.AddProtocolEntry("Art " + std::to_string(c.kind), c.kind);
    }
    ASSERT_EQ(view.topLevelItemCount(), static_cast<int>(std::size(cases)));
    for (int row = 0; row < view.topLevelItemCount(); ++row) {
        const Case& c = cases[row];
        EXPECT_EQ(view.ImageIndexOf(row), c.imageIndex) << c.kind;
        EXPECT_EQ(view.topLevelItem(row)->text(0), "") << "the caption stays empty";
        EXPECT_FALSE(view.topLevelItem(row)->icon(0).isNull());
        EXPECT_EQ(view.topLevelItem(row)->text(1),
                  QString::fromStdString("Art " + std::to_string(c.kind)));
    }
}

TEST(ProtocolView, TheFourImagesDiffer) {
    QImage images[4];
    for (int i = 0; i < 4; ++i) {
        images[i] = TProtocolView::ImageIcon(i).pixmap(16, 16).toImage();
        EXPECT_EQ(images[i].size(), QSize(16, 16));
        EXPECT_NE(images[i].pixelColor(8, 8).alpha(), 0) << "image " << i << " is drawn";
    }
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) {
            EXPECT_NE(images[i], images[j]) << i << " and " << j;
        }
    }
    // The main colour of each: yellow warning, white bubble, blue question, red error.
    const QColor warning = images[0].pixelColor(5, 12);
    EXPECT_GT(warning.red(), 200);
    EXPECT_GT(warning.green(), 150);
    EXPECT_LT(warning.blue(), 100);
    const QColor error = images[3].pixelColor(3, 8);
    EXPECT_GT(error.red(), 180);
    EXPECT_LT(error.green(), 80);
    const QColor question = images[2].pixelColor(3, 8);
    EXPECT_GT(question.blue(), 180);
    EXPECT_LT(question.red(), 80);
}

TEST(ProtocolView, The251stEntryIsAddedAndThe252ndClearsTheListFirst) {
    struct Case {
        int before;
        int after;
    };
    for (const Case c : {Case{0, 1}, Case{249, 250}, Case{250, 251}, Case{251, 1}}) {
        TProtocolList list;
        TProtocolView view;
        view.Bind(list);
        AddEntries(list, c.before);
        ASSERT_EQ(view.topLevelItemCount(), c.before);
        list.AddProtocolEntry("neu", ekWarning);
        EXPECT_EQ(view.topLevelItemCount(), c.after) << c.before;
        EXPECT_EQ(view.topLevelItem(view.topLevelItemCount() - 1)->text(1), "neu");
        const bool onlyNew = c.before == 0 || c.before == 251;
        EXPECT_EQ(view.topLevelItem(0)->text(1), onlyNew ? "neu" : "Eintrag 0") << c.before;
    }
}

TEST(ProtocolView, ClearingTheModelEmptiesTheViewAtOnce) {
    TProtocolList list;
    TProtocolView view;
    view.Bind(list);
    TResButton btnDelProt;
    QObject::connect(&btnDelProt, &QPushButton::clicked, [&list] { list.DeleteAll(); });
    AddEntries(list, 5);
    QTest::mouseClick(&btnDelProt, Qt::LeftButton);
    EXPECT_EQ(view.topLevelItemCount(), 0);
    QTest::mouseClick(&btnDelProt, Qt::LeftButton); // on an empty list: nothing happens
    EXPECT_EQ(view.topLevelItemCount(), 0);
    list.AddProtocolEntry("wieder", ekInformation);
    EXPECT_EQ(view.topLevelItemCount(), 1);
}

TEST(ProtocolView, BindingShowsTheEntriesAlreadyThereInOrder) {
    TProtocolList list;
    AddEntries(list, 3);
    TProtocolView view;
    view.Bind(list);
    ASSERT_EQ(view.topLevelItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(view.topLevelItem(i)->text(1), QString("Eintrag %1").arg(i));
    }
}

TEST(ProtocolView, TheNewestEntryIsScrolledIntoView) {
    TProtocolList list;
    TProtocolView view;
    view.resize(300, 120);
    view.Bind(list);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    for (int i = 0; i < 60; ++i) {
        list.AddProtocolEntry("Eintrag " + std::to_string(i), ekInformation);
        QApplication::processEvents();
        ASSERT_TRUE(NewestFullyVisible(view)) << i;
    }
    EXPECT_GT(view.verticalScrollBar()->value(), 0);
}

TEST(ProtocolView, EntriesAddedWhileHiddenAreThereAndTheNewestInViewWhenShown) {
    TProtocolList list;
    TProtocolView view;
    view.resize(300, 120);
    view.Bind(list);
    AddEntries(list, 80);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QApplication::processEvents();
    EXPECT_EQ(view.topLevelItemCount(), 80);
    EXPECT_TRUE(NewestFullyVisible(view));
    view.hide();
    AddEntries(list, 10);
    view.show();
    QApplication::processEvents();
    EXPECT_TRUE(NewestFullyVisible(view));
}

TEST(ProtocolView, TheTextColumnIsWideEnoughForTheLongestText) {
    TProtocolList list;
    TProtocolView view;
    view.Bind(list);
    const std::string longText =
        "Die RAS Verbindung konnte nicht aufgebaut werden. Der folgende Fehler ist aufgetreten :";
    list.AddProtocolEntry("kurz", ekInformation);
    list.AddProtocolEntry(longText, ekError);
    view.show();
    QApplication::processEvents();
    EXPECT_GE(view.columnWidth(1),
              view.fontMetrics().horizontalAdvance(QString::fromStdString(longText)));
}
