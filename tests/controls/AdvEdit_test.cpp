// The typed edit field: the key filter, the typed getters and setters with their fallbacks,
// and the re-formatting when the focus leaves it.
#include "controls/AdvEdit.h"
#include "controls/UserPrompt.h"
#include "framework/Conversions.h"
#include "framework/DateTime.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace kairelon;

namespace {

class AdvEdit : public ::testing::Test {
protected:
    void SetUp() override {
        UserPrompt::ResetForTesting();
        SetFormatSettings(TFormatSettings{}); // ',' '.' and dd.mm.yyyy
    }
    void TearDown() override {
        UserPrompt::ResetForTesting();
        ResetFormatSettings();
    }
};

// A window with the field under test and a second field that takes the focus from it.
struct Window {
    QWidget window;
    TAdvEdit* edit = new TAdvEdit(&window);
    TAdvEdit* other = new TAdvEdit(&window);

    Window() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(other);
        window.show();
        QApplication::setActiveWindow(&window);
        edit->setFocus(Qt::OtherFocusReason);
    }
    void Leave() { other->setFocus(Qt::TabFocusReason); }
};

// The options dialog's numeric fields.
void MakeIntegerField(TAdvEdit& edit, const QString& format) {
    edit.SetContentType(TAdvEdit::ctAdvInt);
    edit.SetRestrictChars(true);
    edit.SetFormatContents(true);
    edit.SetAllowedChars(QStringLiteral("0123456789"));
    edit.SetFormatString(format);
}

} // namespace

TEST_F(AdvEdit, DefaultsOfANewField) {
    TAdvEdit edit;
    EXPECT_EQ(edit.ContentType(), TAdvEdit::ctAdvText);
    EXPECT_TRUE(edit.BeepOnFault());
    EXPECT_FALSE(edit.RestrictChars());
    EXPECT_FALSE(edit.FormatContents());
    EXPECT_TRUE(edit.AllowedChars().isEmpty());
    EXPECT_TRUE(edit.FormatString().isEmpty());
    EXPECT_EQ(static_cast<int>(TAdvEdit::ctAdvCurrency), 4);
    EXPECT_TRUE(edit.setProperty("ContentType", QStringLiteral("ctAdvInt")));
    EXPECT_EQ(edit.ContentType(), TAdvEdit::ctAdvInt);
    edit.setText("abc");
    edit.SetContentType(TAdvEdit::ctAdvFloat);
    EXPECT_EQ(edit.text(), "abc") << "setting the kind leaves the text alone";
}

TEST_F(AdvEdit, TypedKeysAreFilteredByAllowedChars) {
    struct Case {
        const char* name;
        bool restrict;
        const char* allowed;
        bool beepOnFault;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* typed; // QTest text for the key ("" lets QTest choose)
        const char* textAfter;
        int beeps;
    };
    // The field holds "12" with the cursor at its end before each key.
    const Case cases[] = {
        {"digit allowed", true, "0123456789", true, Qt::Key_5, {}, "5", "125", 0},
        {"letter refused with a beep", true, "0123456789", true, Qt::Key_A, {}, "a", "12", 1},
        {"letter refused silently", true, "0123456789", false, Qt::Key_A, {}, "a", "12", 0},
        {"minus refused", true, "0123456789", true, Qt::Key_Minus, {}, "-", "12", 1},
        {"backspace always passes", true, "0123456789", true, Qt::Key_Backspace, {}, "", "1", 0},
        {"backspace passes an allow-list without it",
         true,
         "x",
         true,
         Qt::Key_Backspace,
         {},
         "",
         "1",
         0},
        {"case-sensitive", true, "abc", true, Qt::Key_A, Qt::ShiftModifier, "A", "12", 1},
        {"listed letter passes", true, "abc", true, Qt::Key_A, {}, "a", "12a", 0},
        {"umlaut listed",
         true,
         "\xc3\xa4",
         true,
         Qt::Key_Adiaeresis,
         {},
         "\xc3\xa4",
         "12\xc3\xa4",
         0},
        {"empty allow-list refuses nothing", true, "", true, Qt::Key_A, {}, "a", "12a", 0},
        {"not restricted: anything", false, "0123456789", true, Qt::Key_A, {}, "a", "12a", 0},
        {"Ctrl+A (character 1) refused", true, "0123456789", true, Qt::Key_A, Qt::ControlModifier,
         "", "12", 1},
        {"Ctrl+X (character 24) refused: nothing cut", true, "0123456789", true, Qt::Key_X,
         Qt::ControlModifier, "", "12", 1},
        {"Ctrl+V (character 22) refused: nothing pasted", true, "0123456789", true, Qt::Key_V,
         Qt::ControlModifier, "", "12", 1},
        {"Ctrl+C (character 3) refused", true, "0123456789", true, Qt::Key_C, Qt::ControlModifier,
         "", "12", 1},
        {"Ctrl+X listed as character 24 cuts", true, "0123456789\x18", true, Qt::Key_X,
         Qt::ControlModifier, "", "", 0},
        {"cursor keys are no characters", true, "0123456789", true, Qt::Key_Left, {}, "", "12", 0},
        {"Home is no character", true, "0123456789", true, Qt::Key_Home, {}, "", "12", 0},
        {"Ctrl+V listed as character 22 pastes", true, "0123456789\x16", true, Qt::Key_V,
         Qt::ControlModifier, "", "1299", 0},
    };
    for (const Case& c : cases) {
        Window w;
        w.edit->SetRestrictChars(c.restrict);
        w.edit->SetAllowedChars(QString::fromUtf8(c.allowed));
        w.edit->SetBeepOnFault(c.beepOnFault);
        w.edit->setText("12");
        if (std::string(c.name).rfind("Ctrl+X listed", 0) == 0) {
            w.edit->selectAll();
        }
        QApplication::clipboard()->setText(QStringLiteral("99"));
        UserPrompt::ResetForTesting();
        if (std::string(c.typed).empty()) {
            QTest::keyClick(w.edit, c.key, c.modifiers);
        } else {
            QTest::sendKeyEvent(QTest::Click, w.edit, c.key, QString::fromUtf8(c.typed),
                                c.modifiers);
        }
        EXPECT_EQ(w.edit->text(), QString::fromUtf8(c.textAfter)) << c.name;
        EXPECT_EQ(UserPrompt::BeepCount(), c.beeps) << c.name;
    }
}

TEST_F(AdvEdit, KeyPressDecidesOnEachCharacter) {
    TAdvEdit edit;
    edit.SetRestrictChars(true);
    edit.SetAllowedChars(QStringLiteral("0123456789"));
    EXPECT_TRUE(edit.KeyPress(U'7'));
    EXPECT_TRUE(edit.KeyPress(8));
    for (const char32_t refused : {char32_t{3}, char32_t{22}, char32_t{24}, char32_t{13},
                                   char32_t{0x7f}, U'a', U' ', U'\u00e4'}) {
        EXPECT_FALSE(edit.KeyPress(refused)) << static_cast<int>(refused);
    }
    EXPECT_EQ(UserPrompt::BeepCount(), 8);
}

TEST_F(AdvEdit, TextFromTheProgramIsNotFiltered) {
    Window w;
    MakeIntegerField(*w.edit, "%d");
    w.edit->setText("abc");
    EXPECT_EQ(w.edit->text(), "abc");
    w.edit->insert("x-1"); // as a paste from the context menu inserts it
    EXPECT_EQ(w.edit->text(), "abcx-1");
    EXPECT_EQ(UserPrompt::BeepCount(), 0);
}

TEST_F(AdvEdit, GettersFallBackWhenTheTextDoesNotConvert) {
    struct Case {
        const char* text;
        int asInt;
        float asFloat;
        Currency asCurrency;
    };
    const Case cases[] = {
        {"12", 12, 12.0f, 120000},
        {"-7", -7, -7.0f, -70000},
        {"+7", 7, 7.0f, 70000},
        {"12x", 0, 0.0f, 0},
        {"", 0, 0.0f, 0},
        {" 12", 0, 12.0f, 120000},
        {"2147483647", 2147483647, 2147483647.0f, 21474836470000},
        {"2147483648", 0, 2147483648.0f, 21474836480000},
        {"-2147483648", -2147483647 - 1, -2147483648.0f, -21474836480000},
        {"1,5", 0, 1.5f, 15000},
        {"1.5", 0, 0.0f, 0},
        {"1e39", 0, 0.0f, 0}, // beyond single precision: no number
        {"0,1", 0, 0.1f, 1000},
    };
    for (const Case& c : cases) {
        TAdvEdit edit;
        edit.setText(c.text);
        EXPECT_EQ(edit.GetAsInt(), c.asInt) << c.text;
        EXPECT_EQ(edit.GetAsFloat(), c.asFloat) << c.text;
        EXPECT_EQ(edit.GetAsCurrency(), c.asCurrency) << c.text;
    }
}

TEST_F(AdvEdit, GetAsDateGivesTodayForAnImpossibleDate) {
    TAdvEdit edit;
    edit.setText("09.12.2026");
    EXPECT_EQ(edit.GetAsDate(), EncodeDate(2026, 12, 9));
    for (const char* text : {"31.02.2026", "", "heute", "12.2026.01"}) {
        edit.setText(text);
        const TDateTime before = Date();
        const TDateTime got = edit.GetAsDate();
        EXPECT_TRUE(got == before || got == Date()) << text;
        EXPECT_EQ(got, static_cast<double>(static_cast<long long>(got))) << "time of day 0";
    }
}

TEST_F(AdvEdit, SettersWriteThroughTheFormatOrTheirFallback) {
    struct Case {
        const char* name;
        bool formatContents;
        const char* format;
        std::function<void(TAdvEdit&)> set;
        const char* text;
    };
    const TDateTime day = EncodeDate(2026, 1, 9) + EncodeTime(13, 5, 0, 0);
    const Case cases[] = {
        {"int plain", false, "%.2d", [](TAdvEdit& e) { e.SetAsInt(7); }, "7"},
        {"int %.2d", true, "%.2d", [](TAdvEdit& e) { e.SetAsInt(7); }, "07"},
        {"int %.2d of 123", true, "%.2d", [](TAdvEdit& e) { e.SetAsInt(123); }, "123"},
        {"int %d negative", true, "%d", [](TAdvEdit& e) { e.SetAsInt(-5); }, "-5"},
        {"int empty format", true, "", [](TAdvEdit& e) { e.SetAsInt(7); }, ""},
        {"int format for text falls back", true, "%s", [](TAdvEdit& e) { e.SetAsInt(7); }, "7"},
        {"int format missing its type falls back", true, "%", [](TAdvEdit& e) { e.SetAsInt(7); },
         "7"},
        {"int format with two values falls back", true, "%d %d", [](TAdvEdit& e) { e.SetAsInt(7); },
         "7"},
        {"int with text around", true, "Wert %d", [](TAdvEdit& e) { e.SetAsInt(7); }, "Wert 7"},
        {"float plain", false, "0.00", [](TAdvEdit& e) { e.SetAsFloat(2.5f); }, "2,5"},
        {"float picture", true, "0.00", [](TAdvEdit& e) { e.SetAsFloat(2.5f); }, "2,50"},
        {"float empty format", true, "", [](TAdvEdit& e) { e.SetAsFloat(2.5f); }, "2,5"},
        {"date plain", false, "yyyy", [day](TAdvEdit& e) { e.SetAsDate(day); }, "09.01.2026"},
        {"date picture", true, "yyyy-mm-dd", [day](TAdvEdit& e) { e.SetAsDate(day); },
         "2026-01-09"},
        {"date empty format", true, "", [day](TAdvEdit& e) { e.SetAsDate(day); },
         "09.01.2026 13:05:00"},
        {"currency plain", false, "0.00", [](TAdvEdit& e) { e.SetAsCurrency(15000); }, "1,5"},
        {"currency picture", true, "0.00", [](TAdvEdit& e) { e.SetAsCurrency(15000); }, "1,50"},
        {"currency empty format", true, "", [](TAdvEdit& e) { e.SetAsCurrency(15000); }, "1,5"},
    };
    for (const Case& c : cases) {
        TAdvEdit edit;
        edit.SetFormatContents(c.formatContents);
        edit.SetFormatString(c.format);
        c.set(edit);
        EXPECT_EQ(edit.text(), QString::fromUtf8(c.text)) << c.name;
    }
}

TEST_F(AdvEdit, AFloatKeepsSinglePrecisionOnly) {
    TAdvEdit edit;
    const double precise = 3.14159265358979;
    edit.SetAsFloat(static_cast<float>(precise));
    EXPECT_EQ(edit.GetAsFloat(), static_cast<float>(precise));
    EXPECT_NE(static_cast<double>(edit.GetAsFloat()), precise);
    for (const float value : {0.1f, 1e-7f, 123456.789f, -98765.4321f, 3.4e38f, 1.17549435e-38f}) {
        edit.SetAsFloat(value);
        EXPECT_EQ(edit.GetAsFloat(), value) << edit.text().toStdString();
    }
}

TEST_F(AdvEdit, LeavingAnIntegerFieldReformatsItsText) {
    struct Case {
        const char* format;
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {
        {"%.2d", "7", "07"}, {"%.2d", "", "00"},   {"%.2d", "23", "23"},  {"%d", "007", "7"},
        {"%d", "12x", "0"},  {"%d", "500", "500"}, {"%.2d", "-1", "-01"},
    };
    for (const Case& c : cases) {
        Window w;
        MakeIntegerField(*w.edit, c.format);
        w.edit->setText(c.typed);
        w.Leave();
        EXPECT_EQ(w.edit->text(), c.shown) << c.format << " " << c.typed;
    }
}

TEST_F(AdvEdit, LeavingADateFieldShowsTodayForAnImpossibleDate) {
    Window w;
    w.edit->SetContentType(TAdvEdit::ctAdvDate);
    w.edit->SetFormatContents(true);
    w.edit->SetFormatString("dd.mm.yyyy");
    w.edit->setText("31.02.2026");
    const std::string before = FormatDateTime("dd.mm.yyyy", Date());
    w.Leave();
    const std::string after = FormatDateTime("dd.mm.yyyy", Date());
    const std::string shown = w.edit->text().toStdString();
    EXPECT_TRUE(shown == before || shown == after) << shown;
}

TEST_F(AdvEdit, LeavingWithoutFormatContentsOrAsTextLeavesTheTextAsTyped) {
    for (const bool formatContents : {false, true}) {
        Window w;
        w.edit->SetContentType(formatContents ? TAdvEdit::ctAdvText : TAdvEdit::ctAdvInt);
        w.edit->SetFormatContents(formatContents);
        w.edit->SetFormatString("%.2d");
        QTest::keyClicks(w.edit, "7x ");
        w.Leave();
        EXPECT_EQ(w.edit->text(), "7x ") << formatContents;
    }
}

TEST_F(AdvEdit, LeavingKeepsTheModifiedFlag) {
    for (const bool typed : {false, true}) {
        Window w;
        MakeIntegerField(*w.edit, "%.2d");
        w.edit->setText("7");
        if (typed) {
            QTest::keyClick(w.edit, Qt::Key_5);
        }
        ASSERT_EQ(w.edit->isModified(), typed);
        w.Leave();
        EXPECT_EQ(w.edit->text(), typed ? "75" : "07");
        EXPECT_EQ(w.edit->isModified(), typed) << typed;
    }
}

TEST_F(AdvEdit, TheExitHandlerSeesTheReformattedText) {
    Window w;
    MakeIntegerField(*w.edit, "%.2d");
    std::vector<QString> seen;
    QObject::connect(w.edit, &TAdvEdit::exited, [&] { seen.push_back(w.edit->text()); });
    w.edit->setText("5");
    w.Leave();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "05");
}

TEST_F(AdvEdit, ASwitchToAnotherWindowDoesNotLeaveTheField) {
    Window w;
    MakeIntegerField(*w.edit, "%.2d");
    int exits = 0;
    QObject::connect(w.edit, &TAdvEdit::exited, [&] { ++exits; });
    w.edit->setText("5");
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(w.edit, &away);
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(w.edit, &popup);
    EXPECT_EQ(exits, 0);
    EXPECT_EQ(w.edit->text(), "5");
    QFocusEvent tab(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w.edit, &tab);
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(w.edit->text(), "05");
}
