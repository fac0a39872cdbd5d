// A window definition compiled by uic holds the controls with their properties; once built,
// one call gives every resource-captioned control its caption.
#include "controls/ResCaption.h"
#include "framework/StringTable.h"
#include "ui_ControlsProbe.h"

#include <QAbstractButton>
#include <QLabel>

#include <gtest/gtest.h>

#include <memory>

using namespace kairelon;

TEST(WindowDefinition, TheDefinitionsPropertiesReachTheControls) {
    QWidget window;
    Ui::ControlsProbe ui;
    ui.setupUi(&window);
    EXPECT_TRUE(ui.chkConnect->LoadFromRes());
    EXPECT_EQ(ui.chkConnect->ResourceId(), 1009);
    EXPECT_TRUE(ui.chkConnect->WordWrap());
    EXPECT_EQ(ui.chkConnect->TextAlign(), TResCheckBox::rctaTop);
    EXPECT_EQ(ui.txtStunde->ContentType(), TAdvEdit::ctAdvInt);
    EXPECT_TRUE(ui.txtStunde->RestrictChars());
    EXPECT_TRUE(ui.txtStunde->FormatContents());
    EXPECT_EQ(ui.txtStunde->AllowedChars(), "0123456789");
    EXPECT_EQ(ui.txtStunde->FormatString(), "%.2d");
    EXPECT_EQ(ui.udStunde->Max(), 23);
    EXPECT_EQ(ui.btnOkay->text(), "<Res. 2001>") << "the stored placeholder until loaded";
}

TEST(WindowDefinition, LoadingCaptionsLeavesNoPlaceholder) {
    ResetStringTable();
    QWidget window;
    Ui::ControlsProbe ui;
    ui.setupUi(&window);
    LoadResourceCaptions(&window);
    int captioned = 0;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (dynamic_cast<IResCaptioned*>(w) == nullptr) {
            continue;
        }
        ++captioned;
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            text = button->text();
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
        } else {
            continue;
        }
        EXPECT_FALSE(text.startsWith("<Res")) << w->objectName().toStdString();
        EXPECT_FALSE(text.isEmpty()) << w->objectName().toStdString();
    }
    EXPECT_EQ(captioned, 4);
    EXPECT_EQ(ui.btnOkay->text(), "&OK");
    EXPECT_TRUE(ui.lblServer->wordWrap());
}
