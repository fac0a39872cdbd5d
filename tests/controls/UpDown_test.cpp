// The up-down control bound to its buddy field: range, steps, plain digits, keys.
#include "controls/AdvEdit.h"
#include "controls/UpDown.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QTest>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

using namespace kairelon;

namespace {

// A field with its up-down, as the options dialog pairs them.
struct Pair {
    QWidget window;
    TAdvEdit* edit = new TAdvEdit(&window);
    TUpDown* upDown = new TUpDown(&window);

    Pair(int min, int max, int increment, int position) {
        auto* layout = new QHBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(upDown);
        upDown->SetMin(min);
        upDown->SetMax(max);
        upDown->SetIncrement(increment);
        upDown->SetPosition(position);
        upDown->SetAssociate(edit);
        window.show();
        QApplication::setActiveWindow(&window);
        edit->setFocus();
    }
    QToolButton* Button(const char* name) const {
        return upDown->findChild<QToolButton*>(QString::fromLatin1(name));
    }
};

} // namespace

TEST(UpDown, PositionStaysInsideTheRangeAndIsWrittenAsPlainDigits) {
    struct Case {
        int min, max, set, position;
        const char* text;
    };
    const Case cases[] = {
        {1000, 30000, 10000, 10000, "10000"},
        {1000, 30000, 500, 1000, "1000"},
        {1000, 30000, 99999, 30000, "30000"},
        {0, 23, 7, 7, "7"},
        {0, 59, -1, 0, "0"},
        {-10, 10, -5, -5, "-5"},
        {1, 999, 999, 999, "999"},
    };
    for (const Case& c : cases) {
        Pair p(c.min, c.max, 1, c.min);
        p.upDown->SetPosition(c.set);
        EXPECT_EQ(p.upDown->Position(), c.position) << c.set;
        EXPECT_EQ(p.edit->text(), c.text) << c.set;
        EXPECT_EQ(p.edit->GetAsInt(), c.position) << "the field reads it back";
    }
}

TEST(UpDown, NarrowingTheRangeMovesThePositionIntoIt) {
    Pair p(0, 100, 1, 50);
    p.upDown->SetMax(20);
    EXPECT_EQ(p.upDown->Position(), 20);
    EXPECT_EQ(p.edit->text(), "20");
    p.upDown->SetMin(30); // a minimum above the maximum: the minimum wins
    EXPECT_EQ(p.upDown->Position(), 30);
}

TEST(UpDown, StepsFollowTheArrowsAndStopAtTheEnds) {
    struct Case {
        const char* name;
        int min, max, increment, position;
        const char* typed; // nullptr: the field keeps what the up-down wrote
        int steps;
        const char* text;
    };
    const Case cases[] = {
        {"time-out up", 1000, 30000, 1000, 1000, nullptr, 1, "2000"},
        {"time-out down at the minimum", 1000, 30000, 1000, 1000, nullptr, -1, "1000"},
        {"time-out up at the maximum", 1000, 30000, 1000, 30000, nullptr, 1, "30000"},
        {"time-out near the maximum", 1000, 30000, 1000, 29500, nullptr, 1, "30000"},
        {"hour up to 23 and no further", 0, 23, 1, 22, nullptr, 2, "23"},
        {"minute down past 0 does not wrap", 0, 59, 1, 0, nullptr, -1, "0"},
        {"steps start from a typed number", 1, 999, 1, 1, "500", 1, "501"},
        {"a typed number below the range starts at the minimum", 1000, 30000, 1000, 5000, "500", 1,
         "2000"},
        {"a typed number above the range starts at the maximum", 0, 23, 1, 5, "99", -1, "22"},
        {"text that is no number steps from the position", 0, 59, 1, 30, "abc", 1, "31"},
        {"an empty field steps from the position", 0, 59, 1, 30, "", -1, "29"},
        {"a formatted 07 steps to 08", 0, 23, 1, 7, "07", 1, "8"},
    };
    for (const Case& c : cases) {
        Pair p(c.min, c.max, c.increment, c.position);
        if (c.typed) {
            p.edit->setText(c.typed);
        }
        for (int i = 0; i < std::abs(c.steps); ++i) {
            QTest::mouseClick(p.Button(c.steps > 0 ? "up" : "down"), Qt::LeftButton);
        }
        EXPECT_EQ(p.edit->text(), c.text) << c.name;
        EXPECT_EQ(p.upDown->Position(), p.edit->GetAsInt()) << c.name;
    }
}

TEST(UpDown, UpAndDownKeysInTheFieldStepLikeTheArrows) {
    Pair p(1000, 30000, 1000, 1000);
    QTest::keyClick(p.edit, Qt::Key_Up);
    QTest::keyClick(p.edit, Qt::Key_Up);
    EXPECT_EQ(p.edit->text(), "3000");
    QTest::keyClick(p.edit, Qt::Key_Down);
    EXPECT_EQ(p.edit->text(), "2000");
    p.upDown->setEnabled(false);
    QTest::keyClick(p.edit, Qt::Key_Up);
    EXPECT_EQ(p.edit->text(), "2000") << "a disabled up-down does not step";
}

TEST(UpDown, TypedTextIsNotLimitedByTheRange) {
    Pair p(1000, 30000, 1000, 1000);
    p.edit->SetRestrictChars(true);
    p.edit->SetAllowedChars("0123456789");
    p.edit->clear();
    QTest::keyClicks(p.edit, "500");
    EXPECT_EQ(p.edit->text(), "500");
    QTest::keyClicks(p.edit, "00");
    EXPECT_EQ(p.edit->text(), "50000");
    EXPECT_EQ(p.upDown->Position(), 1000) << "typing does not move the position";
}

TEST(UpDown, PositionIsReadFromTheFieldWhenItIsAsked) {
    struct Case {
        const char* typed;
        int position; // the hour 0 to 23, at 12 before the typing
    };
    const Case cases[] = {
        {"15", 15},          {"07", 7},  {"0", 0},    {"23", 23}, {"+5", 5},   {"24", 12},
        {"-1", 12},          {"99", 12}, {"abc", 12}, {"", 12},   {"1 5", 12}, {"15x", 12},
        {"99999999999", 12},
    };
    for (const Case& c : cases) {
        Pair p(0, 23, 1, 12);
        p.edit->setText(c.typed);
        EXPECT_EQ(p.upDown->Position(), c.position) << '"' << c.typed << '"';
        EXPECT_EQ(p.edit->text(), c.typed) << "asking does not rewrite the field";
    }
    Pair p(0, 59, 1, 30);
    p.edit->setText("45");
    EXPECT_EQ(p.upDown->Position(), 45);
    p.edit->setText("75");
    EXPECT_EQ(p.upDown->Position(), 45) << "a number outside the range keeps the last one read";
}

TEST(UpDown, WrapGoesRoundOnlyWhenSet) {
    Pair p(0, 59, 1, 59);
    p.upDown->StepBy(1);
    EXPECT_EQ(p.edit->text(), "59");
    p.upDown->SetWrap(true);
    p.upDown->StepBy(1);
    EXPECT_EQ(p.edit->text(), "0");
    p.upDown->StepBy(-1);
    EXPECT_EQ(p.edit->text(), "59");
}

TEST(UpDown, ExtremeRangesDoNotOverflow) {
    Pair p(-2147483647 - 1, 2147483647, 2147483647, 2147483647);
    p.upDown->StepBy(1);
    EXPECT_EQ(p.upDown->Position(), 2147483647);
    p.upDown->StepBy(-3);
    EXPECT_EQ(p.upDown->Position(), -2147483647 - 1);
    EXPECT_EQ(p.edit->text(), "-2147483648");
}
