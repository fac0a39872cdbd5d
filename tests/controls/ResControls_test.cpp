// The resource-captioned controls: captions from the string table, placeholders, the
// wrapping check box.
#include "controls/ResButton.h"
#include "controls/ResCaption.h"
#include "controls/ResCheckBox.h"
#include "controls/ResLabel.h"
#include "controls/ResRadioButton.h"
#include "framework/StringTable.h"

#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

using namespace kairelon;

namespace {

class ResControls : public ::testing::Test {
protected:
    void TearDown() override { ResetStringTable(); }
};

// Makes each of the four controls, with the stored caption "stored".
template <typename Control> std::unique_ptr<Control> Make(bool loadFromRes, int resourceId) {
    auto control = std::make_unique<Control>();
    control->setText(QStringLiteral("stored"));
    control->SetLoadFromRes(loadFromRes);
    control->SetResId(resourceId);
    return control;
}

template <typename Control> QString Loaded(bool loadFromRes, int resourceId) {
    auto control = Make<Control>(loadFromRes, resourceId);
    control->Loaded();
    return control->text();
}

QString LoadedAs(const std::string& cls, bool loadFromRes, int resourceId) {
    if (cls == "TResLabel") {
        return Loaded<TResLabel>(loadFromRes, resourceId);
    }
    if (cls == "TResButton") {
        return Loaded<TResButton>(loadFromRes, resourceId);
    }
    if (cls == "TResCheckBox") {
        return Loaded<TResCheckBox>(loadFromRes, resourceId);
    }
    return Loaded<TResRadioButton>(loadFromRes, resourceId);
}

const char* const kClasses[] = {"TResLabel", "TResButton", "TResCheckBox", "TResRadioButton"};

} // namespace

TEST_F(ResControls, LoadedCaptionFollowsOffsetEntryAndResourceId) {
    struct Case {
        const char* name;
        std::map<int, std::string> table;
        bool loadFromRes;
        int resourceId;
        QString caption;
    };
    const Case cases[] = {
        {"no offset entry", {{1009, "Neun"}}, true, 1009, "Neun"},
        {"offset 100 moves 1009 to 1109",
         {{1, "100"}, {1009, "Neun"}, {1109, "Hundert"}},
         true,
         1009,
         "Hundert"},
        {"negative offset", {{1, "-9"}, {1000, "Tausend"}}, true, 1009, "Tausend"},
        {"offset not a number counts as 0", {{1, "abc"}, {1009, "Neun"}}, true, 1009, "Neun"},
        {"offset with a trailing letter counts as 0",
         {{1, "100x"}, {1009, "Neun"}},
         true,
         1009,
         "Neun"},
        {"empty offset counts as 0", {{1, ""}, {1009, "Neun"}}, true, 1009, "Neun"},
        {"number without a string: empty caption", {{1009, "Neun"}}, true, 1010, ""},
        {"LoadFromRes false keeps the stored caption", {{1009, "Neun"}}, false, 1009, "stored"},
        {"LoadFromRes false keeps it whatever the id", {}, false, 0, "stored"},
        {"an offset pushing past the integer range names no string",
         {{1, "2147483647"}, {1009, "Neun"}, {-2147482640, "wrapped"}},
         true,
         1009,
         ""},
        {"umlauts arrive intact", {{2000, "&Löschen"}}, true, 2000, QString::fromUtf8("&Löschen")},
    };
    for (const Case& c : cases) {
        SetStringTable(c.table);
        for (const char* cls : kClasses) {
            EXPECT_EQ(LoadedAs(cls, c.loadFromRes, c.resourceId), c.caption)
                << c.name << " (" << cls << ")";
        }
    }
}

TEST_F(ResControls, TheOffsetIsReadAfreshForEachControl) {
    SetStringTable({{1009, "Neun"}, {1109, "Hundert"}});
    TResLabel label;
    label.SetLoadFromRes(true);
    label.SetResId(1009);
    label.Loaded();
    EXPECT_EQ(label.text(), "Neun");
    SetStringTable({{1, "100"}, {1009, "Neun"}, {1109, "Hundert"}});
    label.Loaded();
    EXPECT_EQ(label.text(), "Hundert");
}

TEST_F(ResControls, TheProgramsOwnTableCaptionsTheDialogsControls) {
    ResetStringTable();
    EXPECT_EQ(LoadedAs("TResButton", true, 2001), "&OK");
    EXPECT_EQ(LoadedAs("TResButton", true, 2000), QString::fromUtf8("&Löschen"));
    EXPECT_EQ(LoadedAs("TResLabel", true, 1010), "Timeout ( ms )");
    EXPECT_TRUE(LoadedAs("TResCheckBox", true, 1009).startsWith("Falls keine Internet"));
}

TEST_F(ResControls, DesignModeShowsThePlaceholderOfEachClass) {
    SetStringTable({{1009, "Neun"}, {2001, "&OK"}});
    struct Case {
        const char* cls;
        int id;
        QString placeholder;
    };
    const Case cases[] = {
        {"TResLabel", 1009, "<Resource - Id 1009>"},
        {"TResCheckBox", 1009, "<Resource - Id 1009>"},
        {"TResRadioButton", 1009, "<Resource - Id 1009>"},
        {"TResButton", 2001, "<Res. 2001>"},
        {"TResLabel", -5, "<Resource - Id -5>"},
    };
    for (const Case& c : cases) {
        auto check = [&](auto control) {
            control->setText("stored");
            control->SetDesignMode(true);
            control->SetResId(c.id); // LoadFromRes still false: nothing shown yet
            EXPECT_EQ(control->text(), "stored") << c.cls;
            control->SetLoadFromRes(true);
            EXPECT_EQ(control->text(), c.placeholder) << c.cls;
            control->setText("stored");
            control->SetResId(c.id);
            EXPECT_EQ(control->text(), c.placeholder) << c.cls << ": SetResId";
            control->setText("stored");
            control->Loaded();
            EXPECT_EQ(control->text(), c.placeholder) << c.cls << ": Loaded in design mode";
        };
        const std::string cls = c.cls;
        if (cls == "TResLabel") {
            check(std::make_unique<TResLabel>());
        } else if (cls == "TResButton") {
            check(std::make_unique<TResButton>());
        } else if (cls == "TResCheckBox") {
            check(std::make_unique<TResCheckBox>());
        } else {
            check(std::make_unique<TResRadioButton>());
        }
    }
}

TEST_F(ResControls, ChangingTheIdWhileRunningKeepsTheCaptionUntilLoadedAgain) {
    SetStringTable({{1009, "Neun"}, {1010, "Zehn"}});
    TResButton button;
    button.SetLoadFromRes(true);
    button.SetResId(1009);
    button.Loaded();
    button.SetResId(1010);
    button.SetLoadFromRes(false);
    button.SetLoadFromRes(true);
    EXPECT_EQ(button.text(), "Neun");
}

TEST_F(ResControls, PropertiesAreReachableByNameAsAWindowDefinitionSetsThem) {
    SetStringTable({{1009, "Neun"}});
    TResCheckBox box;
    EXPECT_FALSE(box.property("LoadFromRes").toBool());
    EXPECT_EQ(box.property("ResourceId").toInt(), 0);
    EXPECT_FALSE(box.property("WordWrap").toBool());
    EXPECT_EQ(box.TextAlign(), TResCheckBox::rctaCenter);
    EXPECT_TRUE(box.setProperty("LoadFromRes", true));
    EXPECT_TRUE(box.setProperty("ResourceId", 1009));
    EXPECT_TRUE(box.setProperty("WordWrap", true));
    EXPECT_TRUE(box.setProperty("TextAlign", QStringLiteral("rctaTop")));
    EXPECT_TRUE(box.WordWrap());
    EXPECT_EQ(box.TextAlign(), TResCheckBox::rctaTop);
    box.Loaded();
    EXPECT_EQ(box.text(), "Neun");
}

TEST_F(ResControls, LoadResourceCaptionsFillsEveryControlOfAWindow) {
    SetStringTable({{1000, "Label"}, {2001, "&OK"}, {1076, "Service"}, {1056, "Relativ"}});
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* inner = new QWidget(&window); // a page inside the window
    new QVBoxLayout(inner);
    layout->addWidget(inner);
    auto* label = new TResLabel(&window);
    auto* button = new TResButton(inner);
    auto* box = new TResCheckBox(inner);
    auto* radio = new TResRadioButton(&window);
    auto* untouched = new TResLabel(&window);
    const std::pair<QAbstractButton*, int> buttons[] = {{button, 2001}, {box, 1076}, {radio, 1056}};
    for (const auto& [b, id] : buttons) {
        b->setText("<Res. placeholder>");
        b->setProperty("LoadFromRes", true);
        b->setProperty("ResourceId", id);
    }
    label->setText("<Resource - Id 1000>");
    label->SetLoadFromRes(true);
    label->SetResId(1000);
    untouched->setText("fixed");
    LoadResourceCaptions(&window);
    EXPECT_EQ(label->text(), "Label");
    EXPECT_EQ(button->text(), "&OK");
    EXPECT_EQ(box->text(), "Service");
    EXPECT_EQ(radio->text(), "Relativ");
    EXPECT_EQ(untouched->text(), "fixed");
}

TEST_F(ResControls, ALabelShowsAPlaceholderAsPlainText) {
    TResLabel label;
    label.SetDesignMode(true);
    label.SetLoadFromRes(true);
    label.SetResId(1009);
    EXPECT_EQ(label.textFormat(), Qt::PlainText);
    EXPECT_EQ(label.text(), "<Resource - Id 1009>");
}

// The wrapping check box.

namespace {

const QString kLongCaption = QString::fromUtf8(
    "Falls keine Internet - Verbindung besteht, soll zum Synchronisieren der Zeit die folgende "
    "Verbindung aufgebaut werden :");

std::unique_ptr<TResCheckBox> CheckBox(bool wrap, TResCheckBox::TRCTextAlign align, int width,
                                       int height) {
    auto box = std::make_unique<TResCheckBox>();
    box->setText(kLongCaption);
    box->SetWordWrap(wrap);
    box->SetTextAlign(align);
    box->resize(width, height);
    return box;
}

} // namespace

TEST_F(ResControls, ADefaultCheckBoxHasOneCentredLine) {
    auto box = CheckBox(false, TResCheckBox::rctaCenter, 200, 60);
    const QRect caption = box->CaptionRect();
    const int line = box->fontMetrics().height();
    EXPECT_LE(caption.height(), line + 1) << "one line only";
    EXPECT_NEAR(caption.center().y(), box->rect().center().y(), 2);
    EXPECT_NEAR(box->IndicatorRect().center().y(), box->rect().center().y(), 2);
    EXPECT_FALSE(box->hasHeightForWidth());
}

TEST_F(ResControls, AWrappingCheckBoxPlacesItsCaptionByTextAlign) {
    struct Case {
        TResCheckBox::TRCTextAlign align;
        const char* name;
    };
    for (const Case c :
         {Case{TResCheckBox::rctaTop, "top"}, Case{TResCheckBox::rctaCenter, "centre"},
          Case{TResCheckBox::rctaBottom, "bottom"}}) {
        auto box = CheckBox(true, c.align, 260, 120);
        const QRect caption = box->CaptionRect();
        const QRect indicator = box->IndicatorRect();
        const int line = box->fontMetrics().height();
        EXPECT_GE(caption.height(), 2 * line) << c.name << ": the caption wraps";
        EXPECT_LE(caption.right(), box->width()) << c.name << ": inside the width";
        EXPECT_GT(caption.left(), indicator.right()) << c.name << ": beside the box";
        switch (c.align) {
        case TResCheckBox::rctaTop:
            EXPECT_LE(caption.top(), 1) << "starts at the top";
            EXPECT_LT(indicator.bottom(), caption.top() + line + 1) << "box by the first line";
            break;
        case TResCheckBox::rctaCenter:
            EXPECT_NEAR(caption.center().y(), box->rect().center().y(), 2);
            break;
        case TResCheckBox::rctaBottom:
            EXPECT_GE(caption.bottom(), box->height() - 2) << "ends at the bottom";
            EXPECT_GT(indicator.top(), caption.bottom() - line - 1) << "box by the last line";
            break;
        }
    }
}

TEST_F(ResControls, SwitchingWordWrapOrTextAlignTakesEffectAtOnce) {
    auto box = CheckBox(false, TResCheckBox::rctaCenter, 260, 120);
    const int line = box->fontMetrics().height();
    ASSERT_LE(box->CaptionRect().height(), line + 1);
    box->SetWordWrap(true);
    EXPECT_GE(box->CaptionRect().height(), 2 * line);
    EXPECT_TRUE(box->hasHeightForWidth());
    EXPECT_GE(box->heightForWidth(260), 2 * line);
    EXPECT_GT(box->heightForWidth(150), box->heightForWidth(400)) << "narrower is taller";
    box->SetTextAlign(TResCheckBox::rctaTop);
    EXPECT_LE(box->CaptionRect().top(), 1);
    box->SetWordWrap(false);
    EXPECT_LE(box->CaptionRect().height(), line + 1);
}

TEST_F(ResControls, AClickAnywhereOnAWrappingCheckBoxTogglesIt) {
    auto box = CheckBox(true, TResCheckBox::rctaTop, 260, 120);
    box->show();
    ASSERT_FALSE(box->isChecked());
    QTest::mouseClick(box.get(), Qt::LeftButton, {}, QPoint(200, box->CaptionRect().bottom() - 2));
    EXPECT_TRUE(box->isChecked()) << "on the last line of the caption";
    QTest::mouseClick(box.get(), Qt::LeftButton, {}, box->IndicatorRect().center());
    EXPECT_FALSE(box->isChecked()) << "on the box";
}
