// The message-box and beep seam: answers set beforehand, the real box's German buttons and
// default, and the engine's yes/no form.
#include "controls/UserPrompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace kairelon;

namespace {

class UserPromptTest : public ::testing::Test {
protected:
    void SetUp() override { UserPrompt::ResetForTesting(); }
    void TearDown() override { UserPrompt::ResetForTesting(); }
};

// Works the next real message box from the event loop once it is open.
void WhenBoxOpens(std::function<void(QMessageBox&)> work) {
    QTimer::singleShot(0, [work] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                work(*box);
                return;
            }
        }
        ADD_FAILURE() << "no message box open";
    });
}

QStringList ButtonTexts(const QMessageBox& box) {
    QStringList texts;
    for (QAbstractButton* b : box.buttons()) {
        texts << b->text();
    }
    texts.sort();
    return texts;
}

} // namespace

TEST_F(UserPromptTest, ASetAnswerIsUsedOnceAndTheBoxIsRecorded) {
    UserPrompt::SetNextAnswer(PromptButton::Yes);
    const PromptRequest request{"Wollen Sie?", "Hinweis", MessageBoxStyle::Question,
                                PromptButtons::ByStyle, PromptButton::No};
    EXPECT_EQ(UserPrompt::MessageBox(nullptr, request), PromptButton::Yes);
    ASSERT_TRUE(UserPrompt::LastRequest());
    EXPECT_EQ(UserPrompt::LastRequest()->text, "Wollen Sie?");
    EXPECT_EQ(UserPrompt::LastRequest()->caption, "Hinweis");
    EXPECT_EQ(UserPrompt::LastRequest()->style, MessageBoxStyle::Question);
    EXPECT_EQ(UserPrompt::BoxCount(), 1);

    // The answer is spent: the next box opens for real.
    WhenBoxOpens([](QMessageBox& box) { box.reject(); });
    EXPECT_EQ(UserPrompt::MessageBox(nullptr, request), PromptButton::No);
    EXPECT_EQ(UserPrompt::BoxCount(), 2);
}

TEST_F(UserPromptTest, TheEnginesFormAnswersTrueOnlyForYes) {
    struct Case {
        MessageBoxStyle style;
        PromptButton answer;
        bool result;
    };
    const Case cases[] = {
        {MessageBoxStyle::Question, PromptButton::Yes, true},
        {MessageBoxStyle::Question, PromptButton::No, false},
        {MessageBoxStyle::Question, PromptButton::Cancel, false},
        {MessageBoxStyle::Information, PromptButton::Ok, true},
        {MessageBoxStyle::Warning, PromptButton::Ok, true},
        {MessageBoxStyle::Error, PromptButton::Ok, true},
    };
    for (const Case& c : cases) {
        UserPrompt::SetNextAnswer(c.answer);
        EXPECT_EQ(UserPrompt::MessageBox(nullptr, "Text", "Titel", c.style), c.result)
            << static_cast<int>(c.style);
    }
}

TEST_F(UserPromptTest, TheEnginesQuestionOffersJaAndNeinWithNeinAsDefault) {
    WhenBoxOpens([](QMessageBox& box) {
        EXPECT_EQ(ButtonTexts(box), (QStringList{"&Ja", "&Nein"}));
        ASSERT_NE(box.defaultButton(), nullptr);
        EXPECT_EQ(box.defaultButton()->text(), "&Nein");
        EXPECT_EQ(box.icon(), QMessageBox::Question);
        EXPECT_EQ(box.windowTitle(), QString::fromUtf8("Kairelon beenden ?"));
        box.defaultButton()->click();
    });
    EXPECT_FALSE(UserPrompt::MessageBox(nullptr, "Kairelon beenden ?", "Kairelon beenden ?",
                                        MessageBoxStyle::Question));
}

TEST_F(UserPromptTest, EachStyleShowsItsIconAndButtons) {
    struct Case {
        MessageBoxStyle style;
        PromptButtons buttons;
        QMessageBox::Icon icon;
        QStringList texts;
        const char* clicked;
        PromptButton result;
    };
    const Case cases[] = {
        {MessageBoxStyle::Information,
         PromptButtons::ByStyle,
         QMessageBox::Information,
         {"OK"},
         "OK",
         PromptButton::Ok},
        {MessageBoxStyle::Warning,
         PromptButtons::ByStyle,
         QMessageBox::Warning,
         {"OK"},
         "OK",
         PromptButton::Ok},
        {MessageBoxStyle::Error,
         PromptButtons::ByStyle,
         QMessageBox::Critical,
         {"OK"},
         "OK",
         PromptButton::Ok},
        {MessageBoxStyle::Question,
         PromptButtons::ByStyle,
         QMessageBox::Question,
         {"&Ja", "&Nein"},
         "&Ja",
         PromptButton::Yes},
        {MessageBoxStyle::Warning,
         PromptButtons::OkCancel,
         QMessageBox::Warning,
         {"Abbrechen", "OK"},
         "Abbrechen",
         PromptButton::Cancel},
        {MessageBoxStyle::Question,
         PromptButtons::YesNoCancel,
         QMessageBox::Question,
         {"&Ja", "&Nein", "Abbrechen"},
         "&Nein",
         PromptButton::No},
    };
    for (const Case& c : cases) {
        WhenBoxOpens([&c](QMessageBox& box) {
            EXPECT_EQ(box.icon(), c.icon);
            QStringList expected = c.texts;
            expected.sort();
            EXPECT_EQ(ButtonTexts(box), expected);
            for (QAbstractButton* b : box.buttons()) {
                if (b->text() == c.clicked) {
                    b->click();
                    return;
                }
            }
            ADD_FAILURE() << "no button " << c.clicked;
            box.reject();
        });
        const PromptRequest request{"Text", "Titel", c.style, c.buttons, std::nullopt};
        EXPECT_EQ(UserPrompt::MessageBox(nullptr, request), c.result) << c.clicked;
    }
}

TEST_F(UserPromptTest, EscapeGivesCancelElseNoElseOk) {
    struct Case {
        PromptButtons buttons;
        PromptButton onEscape;
    };
    for (const Case c : {Case{PromptButtons::Ok, PromptButton::Ok},
                         Case{PromptButtons::OkCancel, PromptButton::Cancel},
                         Case{PromptButtons::YesNo, PromptButton::No},
                         Case{PromptButtons::YesNoCancel, PromptButton::Cancel}}) {
        WhenBoxOpens([](QMessageBox& box) { box.reject(); });
        const PromptRequest request{"Text", "Titel", MessageBoxStyle::Question, c.buttons,
                                    std::nullopt};
        EXPECT_EQ(UserPrompt::MessageBox(nullptr, request), c.onEscape);
    }
}

TEST_F(UserPromptTest, BeepsAreCounted) {
    EXPECT_EQ(UserPrompt::BeepCount(), 0);
    UserPrompt::Beep();
    UserPrompt::Beep();
    EXPECT_EQ(UserPrompt::BeepCount(), 2);
    UserPrompt::ResetForTesting();
    EXPECT_EQ(UserPrompt::BeepCount(), 0);
}
