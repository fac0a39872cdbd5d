// The tray icon on its own: the click rules and what the menu asks for, with the main window's
// answers (dialog shown, busy, an open window to raise) given by the test.
#include "app/TrayIcon.h"

#include "controls/UserPrompt.h"
#include "support/EventLoop.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace kairelon::test {
namespace {

class TrayIcon : public ::testing::Test {
protected:
    TrayIcon() {
        UserPrompt::ResetForTesting();
        tray.SetHostDrawsMenu(false);
        tray.DialogShown = [this] { return dialogShown; };
        tray.Busy = [this] { return busy; };
        tray.RaiseOpenWindow = [this] {
            raised += openWindow ? 1 : 0;
            return openWindow;
        };
        tray.CursorPos = [] { return QPoint(40, 30); };
    }
    ~TrayIcon() override {
        tray.popOptions.hide();
        UserPrompt::ResetForTesting();
    }

    TTrayIcon tray;
    bool dialogShown = false;
    bool busy = false;
    bool openWindow = false;
    int raised = 0;
};

TEST_F(TrayIcon, EachMenuItemAsksForItsCommand) {
    QSignalSpy options(&tray, &TTrayIcon::OptionsRequested);
    QSignalSpy sync(&tray, &TTrayIcon::SyncRequested);
    QSignalSpy help(&tray, &TTrayIcon::HelpRequested);
    QSignalSpy info(&tray, &TTrayIcon::InfoRequested);
    QSignalSpy quit(&tray, &TTrayIcon::QuitRequested);
    tray.mnuSync->trigger();
    tray.mnuBeenden->trigger();
    tray.mnuBeenden->trigger();
    tray.mnuHilfe->trigger();
    tray.mnuInfo->trigger();
    tray.mnuOptionen->trigger();
    EXPECT_EQ(options.count(), 1);
    EXPECT_EQ(sync.count(), 1);
    EXPECT_EQ(help.count(), 1);
    EXPECT_EQ(info.count(), 1);
    EXPECT_EQ(quit.count(), 2);
}

TEST_F(TrayIcon, ClickRulesDecideBetweenNothingARaiseABeepTheOptionsAndTheMenu) {
    struct Case {
        ETrayMouse message;
        bool dialogShown, openWindow, busy;
        int raised, beeps, options;
        bool menu;
    };
    const ETrayMouse dbl = ETrayMouse::LeftDoubleClick;
    const ETrayMouse right = ETrayMouse::RightButtonDown;
    const Case cases[] = {
        {dbl, false, false, false, 0, 0, 1, false},
        {right, false, false, false, 0, 0, 0, true},
        {dbl, false, false, true, 0, 1, 0, false},
        {right, false, false, true, 0, 1, 0, false},
        {dbl, false, true, true, 1, 0, 0, false}, // the open window first, even while busy
        {right, false, true, false, 1, 0, 0, false},
        {dbl, true, true, true, 0, 0, 0, false}, // the dialog is shown: nothing at all
        {right, true, false, false, 0, 0, 0, false},
        {ETrayMouse::Other, false, false, true, 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.message) << " shown " << c.dialogShown << " open "
                                        << c.openWindow << " busy " << c.busy);
        UserPrompt::ResetForTesting();
        dialogShown = c.dialogShown;
        openWindow = c.openWindow;
        busy = c.busy;
        raised = 0;
        QSignalSpy options(&tray, &TTrayIcon::OptionsRequested);
        tray.TrayIconMessage(c.message);
        EXPECT_EQ(raised, c.raised);
        EXPECT_EQ(UserPrompt::BeepCount(), c.beeps);
        EXPECT_EQ(options.count(), c.options);
        EXPECT_EQ(tray.popOptions.isVisible(), c.menu);
        if (c.menu) {
            EXPECT_EQ(tray.popOptions.pos(), QPoint(40, 30));
        }
        tray.popOptions.hide();
    }
}

TEST_F(TrayIcon, AnActivationIsHandledFromTheEventQueueNotInsideTheTraysSignal) {
    QSignalSpy options(&tray, &TTrayIcon::OptionsRequested);
    tray.IconActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(options.count(), 0);
    PumpFor(20);
    EXPECT_EQ(options.count(), 1);
}

TEST_F(TrayIcon, TheMenuGreysOutWhatARunRefusesOnlyWhereTheHostDrawsIt) {
    const auto states = [this] {
        return std::string{
            tray.mnuOptionen->isEnabled() ? '1' : '0', tray.mnuSync->isEnabled() ? '1' : '0',
            tray.mnuHilfe->isEnabled() ? '1' : '0', tray.mnuInfo->isEnabled() ? '1' : '0',
            tray.mnuBeenden->isEnabled() ? '1' : '0'};
    };
    tray.SetRunInProgress(true);
    EXPECT_EQ(states(), "11111"); // X11: the menu does not open during a run at all
    tray.SetHostDrawsMenu(true);
    EXPECT_EQ(states(), "00101");
    tray.SetSyncCommandEnabled(false);
    tray.SetRunInProgress(false);
    EXPECT_EQ(states(), "10111");
    tray.SetHostDrawsMenu(false);
    tray.SetSyncCommandEnabled(true);
    EXPECT_EQ(states(), "11111");
}

} // namespace
} // namespace kairelon::test
