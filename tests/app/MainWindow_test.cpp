// The program's main window: the tray icon and its menu, the mouse rules on the icon, the quit
// question, the help, the animation while the dialog is shown, the protocol entries it passes
// on, the end of a run, and the end. A temporary settings folder, a fake dial-up layer, a fake
// clock, and a notification area that the test says is there (the offscreen platform has none).
#include "app/Application.h"
#include "app/HeadlessHost.h"
#include "app/MainWindow.h"
#include "app/Plasma.h"
#include "app/frmOptions.h"

#include "controls/UserPrompt.h"
#include "framework/StringTable.h"
#include "settings/Options.h"
#include "settings/ServerList.h"
#include "settings/SettingsTable.h"
#include "support/EventLoop.h"
#include "support/EventPrefix.h"
#include "support/FakeRasLayer.h"
#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace kairelon::test {
namespace {

class MainWindow : public ::testing::Test {
protected:
    MainWindow() {
        UserPrompt::ResetForTesting();
        store.Open();
    }
    ~MainWindow() override { UserPrompt::ResetForTesting(); }

    void Configure(const std::string& server = "time.example.org") {
        store.WriteCurrentServer(server);
        SaveServerListFile({server});
    }

    // The start-up of the program entry, with every start-up box answered.
    void StartUp(bool trayThere = true) {
        UserPrompt::SetAnswerFunction([this](const PromptRequest& request) {
            boxes.push_back(request.caption + ": " + request.text);
            return PromptButton::Ok;
        });
        window = std::make_unique<TMainWindow>(clock);
        window->Engine().RasLoader = FakeRasLoader(ras);
        window->frmOptions().TimeZoneSource = [] { return TTimeZoneDisplay{"CET", -60, true}; };
        window->Tray().TrayAvailable = [trayThere] { return trayThere; };
        window->Tray().CursorPos = [] { return QPoint(120, 90); };
        window->FormCreate();
        window->CreateOptionStores();
        window->InitializeMainWindow();
        UserPrompt::SetAnswerFunction(nullptr);
    }

    TTrayIcon& Tray() { return window->Tray(); }

    IsolatedHome home;
    UniqueEventPrefix events;
    CFakeClock clock;
    std::shared_ptr<FakeRasState> ras = std::make_shared<FakeRasState>();
    CLocalOptions store;
    std::unique_ptr<TMainWindow> window;
    std::vector<std::string> boxes; // "caption: text"
};

// ---- The icon and its menu -------------------------------------------------------------------

TEST_F(MainWindow, TheIconCarriesItsPictureAndTipFromFormCreateToFormDestroy) {
    Configure();
    StartUp();
    EXPECT_TRUE(Tray().IconShown());
    EXPECT_EQ(Tray().SystemTrayIcon().toolTip(), QStringLiteral("Kairelon"));
    EXPECT_FALSE(Tray().SystemTrayIcon().icon().isNull());
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    window->FormDestroy();
    EXPECT_FALSE(Tray().IconShown());
}

TEST_F(MainWindow, MenuItemsStandInOrderWithCaptionsImagesAndTheOptionsItemInBold) {
    Configure();
    window = std::make_unique<TMainWindow>(clock);
    // The captions come from the string table during the window's initialisation.
    for (const QAction* action : Tray().popOptions.actions())
        EXPECT_TRUE(action->text().isEmpty()) << action->objectName().toStdString();
    window->Engine().RasLoader = FakeRasLoader(ras);
    window->frmOptions().TimeZoneSource = [] { return TTimeZoneDisplay{"CET", -60, true}; };
    window->CreateOptionStores();
    window->InitializeMainWindow();

    struct Item {
        const char* name;
        const char* caption; // empty: a separator
    };
    const Item expected[] = {
        {"mnuOptionen", "&Optionen..."}, {"mnuSync", "&Synchronisieren"}, {"N1", ""},
        {"mnuHilfe", "&Hilfe"},          {"mnuInfo", "&Info..."},         {"N2", ""},
        {"mnuBeenden", "&Beenden"},
    };
    const QList<QAction*> actions = Tray().popOptions.actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(std::size(expected)));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].name);
        const QAction* action = actions[static_cast<qsizetype>(i)];
        EXPECT_EQ(action->objectName(), QLatin1String(expected[i].name));
        const bool separator = *expected[i].caption == '\0';
        EXPECT_EQ(action->isSeparator(), separator);
        if (separator)
            continue;
        EXPECT_EQ(action->text(), QString::fromUtf8(expected[i].caption));
        EXPECT_FALSE(action->icon().isNull());
        const bool isDefault = action == Tray().mnuOptionen;
        EXPECT_EQ(action->font().bold(), isDefault);
    }
    EXPECT_EQ(Tray().popOptions.defaultAction(), Tray().mnuOptionen);
    // Each item has a picture of its own.
    EXPECT_NE(Tray().mnuSync->icon().cacheKey(), Tray().mnuBeenden->icon().cacheKey());
}

TEST_F(MainWindow, SyncItemIsOfferedOnlyWithACurrentServerAndAgainAfterASavedOne) {
    for (const bool server : {true, false}) {
        SCOPED_TRACE(server ? "with a server" : "without a server");
        Configure();
        if (!server)
            store.DeleteValue("CurrentServer");
        boxes.clear();
        StartUp();
        EXPECT_EQ(Tray().mnuSync->isEnabled(), server);
        EXPECT_EQ(window->Engine().tGetTime.isActive(), server);
        if (!server) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0], "Hinweis: " + LoadStr(1011));
            // The user enters a server and confirms with OK.
            window->frmOptions()
                .findChild<QComboBox*>("cmbServer")
                ->setEditText("time.example.org");
            window->frmOptions().findChild<QAbstractButton*>("btnOkay")->click();
            EXPECT_TRUE(Tray().mnuSync->isEnabled());
            EXPECT_TRUE(window->Engine().tGetTime.isActive());
        }
        window.reset();
    }
}

// ---- The mouse on the icon -------------------------------------------------------------------

// Closes the dialog as soon as it runs its own modal loop (an event loop more than the test
// runs), noting that it did.
class ModalWatch {
public:
    explicit ModalWatch(TfrmOptions& dialog) {
        const int level = QThread::currentThread()->loopLevel();
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this, &dialog, level] {
            if (dialog.isVisible() && QThread::currentThread()->loopLevel() > level) {
                shownModally = true;
                dialog.reject();
            }
        });
        timer.start();
    }
    bool shownModally = false;

private:
    QTimer timer;
};

TEST_F(MainWindow, DoubleClickShowsTheDialogAndRightPressTheMenuUnlessBusyOrShown) {
    Configure();
    StartUp();
    struct Case {
        QSystemTrayIcon::ActivationReason reason;
        bool busy;
        bool dialogOpen;
        int beeps;
        bool dialog;
        bool menu;
    };
    using R = QSystemTrayIcon::ActivationReason;
    const Case cases[] = {
        {R::DoubleClick, false, false, 0, true, false},
        {R::DoubleClick, true, false, 1, false, false},
        {R::Context, false, false, 0, false, true},
        {R::Context, true, false, 1, false, false},
        {R::Trigger, false, false, 0, false, false}, // a single click does nothing
        {R::Trigger, true, false, 0, false, false},
        {R::MiddleClick, true, false, 0, false, false},
        {R::DoubleClick, false, true, 0, false, false}, // while the dialog is shown: nothing
        {R::DoubleClick, true, true, 0, false, false},
        {R::Context, false, true, 0, false, false},
        {R::Context, true, true, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "reason " << c.reason << (c.busy ? " busy" : "")
                                        << (c.dialogOpen ? " dialog open" : ""));
        UserPrompt::ResetForTesting();
        window->Engine().Busy = c.busy;
        if (c.dialogOpen)
            window->frmOptions().show();
        ModalWatch watch(window->frmOptions());
        Tray().IconActivated(c.reason);
        PumpFor(60);
        EXPECT_EQ(UserPrompt::BeepCount(), c.beeps);
        EXPECT_EQ(watch.shownModally, c.dialog);
        EXPECT_EQ(Tray().popOptions.isVisible(), c.menu);
        if (c.menu) {
            EXPECT_EQ(Tray().popOptions.pos(), QPoint(120, 90)); // at the cursor
        }
        Tray().popOptions.hide();
        window->frmOptions().hide();
    }
    window->Engine().Busy = false;
}

TEST_F(MainWindow, TheOptionsItemShowsTheDialogModallyAndItHidesWhenClosed) {
    Configure();
    StartUp();
    ModalWatch watch(window->frmOptions());
    Tray().mnuOptionen->trigger();
    EXPECT_TRUE(watch.shownModally);
    EXPECT_FALSE(window->frmOptions().isVisible());
    EXPECT_EQ(window->Engine().Closing, false); // the program runs on
}

// ---- Commands while a synchronisation runs ---------------------------------------------------

// Any modal window of ours that opens while it runs, noted by its kind and closed at once.
class ModalNotes {
public:
    explicit ModalNotes(TfrmOptions& dialog) {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this, &dialog] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                opened.push_back(box == &dialog ? "dialog" : box->metaObject()->className());
                if (auto* modal = qobject_cast<QDialog*>(box))
                    modal->done(QDialog::Rejected); // works on a disabled dialog too
            }
        });
        timer.start();
    }
    std::vector<std::string> opened;

private:
    QTimer timer;
};

// A run started from the menu against a server that never answers, `actAtMs` into which
// `act` runs inside the run's wait; the run's length in milliseconds.
qint64 RunWhile(TMainWindow& window, int actAtMs, const std::function<void()>& act) {
    QTimer::singleShot(actAtMs, act);
    QElapsedTimer run;
    run.start();
    window.mnuSyncClick();
    return run.elapsed();
}

TEST_F(MainWindow, MenuCommandsChosenWhileARunWaitsAreRefusedAndTheRunEndsAtItsTimeOut) {
    // The menu opened before the scheduled run started; the command is chosen in its wait.
    LoopbackServer silent(LoopbackServer::NeverSend());
    Configure("127.0.0.1:" + std::to_string(silent.Port()));
    store.Write(settings::Timeout, 800);
    StartUp();
    struct Case {
        const char* item;
        QAction* action;
    };
    const Case cases[] = {
        {"Optionen...", Tray().mnuOptionen},
        {"Info...", Tray().mnuInfo},
        {"Synchronisieren", Tray().mnuSync},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        UserPrompt::ResetForTesting();
        ModalNotes notes(window->frmOptions());
        const qint64 ms = RunWhile(*window, 100, [&] { c.action->trigger(); });
        EXPECT_EQ(UserPrompt::BeepCount(), 1);
        EXPECT_TRUE(notes.opened.empty()) << notes.opened.front() << " opened inside the run";
        EXPECT_LT(ms, 3000); // the time-out ended it, nothing held it up
        EXPECT_FALSE(window->Engine().Busy);
        EXPECT_TRUE(window->frmOptions().isEnabled()); // the run enabled the dialog again
    }
}

TEST_F(MainWindow, QuitConfirmedWhileARunWaitsAbortsItsQueryAtOnce) {
    LoopbackServer silent(LoopbackServer::NeverSend());
    Configure("127.0.0.1:" + std::to_string(silent.Port()));
    store.Write(settings::Timeout, 5000);
    struct Case {
        bool ask;
    };
    for (const Case c : {Case{true}, Case{false}}) {
        SCOPED_TRACE(c.ask ? "asked, answered Yes" : "not asked");
        store.Write(settings::AskOnShutdown, c.ask);
        StartUp();
        UserPrompt::ResetForTesting();
        QSignalSpy terminate(window.get(), &TMainWindow::ApplicationTerminate);
        if (c.ask)
            UserPrompt::SetNextAnswer(PromptButton::Yes);
        const qint64 ms = RunWhile(*window, 100, [&] { Tray().mnuBeenden->trigger(); });
        EXPECT_EQ(UserPrompt::BoxCount(), c.ask ? 1 : 0);
        EXPECT_EQ(terminate.count(), 1);
        EXPECT_LT(ms, 1500) << "the run waited for its time-out of 5000 ms";
        window.reset();
    }
}

TEST_F(MainWindow, QuitAnsweredYesWhileARunStartedUnderTheQuestionWaitsAbortsItsQueryAtOnce) {
    LoopbackServer silent(LoopbackServer::NeverSend());
    Configure("127.0.0.1:" + std::to_string(silent.Port()));
    store.Write(settings::Timeout, 5000);
    StartUp();
    QSignalSpy terminate(window.get(), &TMainWindow::ApplicationTerminate);
    // The question stands (a real box); the scheduler's run starts under it, and the user
    // clicks "Ja" while the run waits for its server.
    QElapsedTimer sinceYes;
    QTimer::singleShot(50, [&] {
        QTimer::singleShot(100, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (QAbstractButton* button : box->buttons()) {
                if (box->buttonRole(button) == QMessageBox::YesRole) {
                    sinceYes.start();
                    button->click();
                }
            }
        });
        window->mnuSyncClick(); // as the scheduler's run, inside the question's loop
    });
    Tray().mnuBeenden->trigger();
    ASSERT_TRUE(sinceYes.isValid()) << "no Ja button";
    EXPECT_LT(sinceYes.elapsed(), 1500) << "the run waited for its time-out of 5000 ms";
    EXPECT_EQ(terminate.count(), 1);
}

TEST_F(MainWindow, AShowRequestBringsAPendingQuestionForwardInsteadOfOpeningTheDialog) {
    Configure();
    StartUp();
    // The quit question stands open (a real box); another start asks for the dialog.
    QSignalSpy terminate(window.get(), &TMainWindow::ApplicationTerminate);
    bool dialogOpened = false;
    QWidget* boxSeen = nullptr;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (window->frmOptions().isVisible()) {
            dialogOpened = true;
            window->frmOptions().reject();
        }
    });
    watch.start(5);
    QTimer::singleShot(50, [&] {
        boxSeen = QApplication::activeModalWidget();
        window->ShowRequest();
        QTimer::singleShot(100, [&] {
            EXPECT_EQ(QApplication::activeModalWidget(), boxSeen);
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->reject(); // Escape: No
        });
    });
    Tray().mnuBeenden->trigger();
    ASSERT_NE(boxSeen, nullptr);
    EXPECT_NE(boxSeen, &window->frmOptions());
    EXPECT_FALSE(dialogOpened);
    EXPECT_EQ(terminate.count(), 0); // answered No
}

// ---- A StatusNotifier host -------------------------------------------------------------------

TEST_F(MainWindow, OnAStatusNotifierHostItsActivationOpensTheDialogAndTheHostDrawsTheMenu) {
    Configure();
    StartUp();
    EXPECT_EQ(Tray().SystemTrayIcon().contextMenu(), nullptr); // X11: the window opens it
    Tray().SetHostDrawsMenu(true);
    EXPECT_EQ(Tray().SystemTrayIcon().contextMenu(), &Tray().popOptions);
    struct Case {
        QSystemTrayIcon::ActivationReason reason;
        bool busy;
        int beeps;
        bool dialog;
    };
    using R = QSystemTrayIcon::ActivationReason;
    const Case cases[] = {
        {R::Trigger, false, 0, true}, // the host's Activate
        {R::Trigger, true, 1, false},  {R::DoubleClick, false, 0, true},
        {R::Context, false, 0, false}, // the host shows the exported menu itself
        {R::Context, true, 0, false},  {R::MiddleClick, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "reason " << c.reason << (c.busy ? " busy" : ""));
        UserPrompt::ResetForTesting();
        window->Engine().Busy = c.busy;
        ModalWatch watch(window->frmOptions());
        Tray().IconActivated(c.reason);
        PumpFor(60);
        EXPECT_EQ(UserPrompt::BeepCount(), c.beeps);
        EXPECT_EQ(watch.shownModally, c.dialog);
        EXPECT_FALSE(Tray().popOptions.isVisible());
    }
    window->Engine().Busy = false;
}

TEST_F(MainWindow, OnAStatusNotifierHostARunGreysOutTheCommandsItRefuses) {
    LoopbackServer silent(LoopbackServer::NeverSend());
    Configure("127.0.0.1:" + std::to_string(silent.Port()));
    store.Write(settings::Timeout, 500);
    StartUp();
    const auto enabled = [this] {
        std::string states;
        for (const QAction* action : Tray().popOptions.actions())
            if (!action->isSeparator())
                states += action->isEnabled() ? '1' : '0';
        return states; // Optionen, Synchronisieren, Hilfe, Info, Beenden
    };
    for (const bool hostDrawsMenu : {false, true}) {
        SCOPED_TRACE(hostDrawsMenu ? "StatusNotifier host" : "X11 notification area");
        Tray().SetHostDrawsMenu(hostDrawsMenu);
        std::string during;
        RunWhile(*window, 100, [&] { during = enabled(); });
        EXPECT_EQ(during, hostDrawsMenu ? "00101" : "11111");
        EXPECT_EQ(enabled(), "11111");
    }
    // Without a server "Synchronisieren" stays greyed out after a run as before it.
    window->SetSyncCommandEnabled(false);
    std::string during;
    RunWhile(*window, 50, [&] { during = enabled(); });
    EXPECT_EQ(enabled(), "10111");
}

// ---- Quitting --------------------------------------------------------------------------------

TEST_F(MainWindow, QuitAsksWithNoAsDefaultUnlessAskOnShutdownIsOff) {
    struct Case {
        std::optional<bool> stored; // "AskOnShutdown" before; none: not stored
        std::optional<PromptButton> answer;
        bool asked;
        bool ends;
    };
    const Case cases[] = {
        {std::nullopt, PromptButton::No, true, false},
        {std::nullopt, PromptButton::Yes, true, true},
        {true, PromptButton::No, true, false},
        {true, PromptButton::Yes, true, true},
        {false, std::nullopt, false, true},
    };
    Configure();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored " << (c.stored ? int(*c.stored) : -1));
        store.DeleteValue("AskOnShutdown");
        if (c.stored)
            store.Write(settings::AskOnShutdown, *c.stored);
        StartUp();
        QSignalSpy terminate(window.get(), &TMainWindow::ApplicationTerminate);
        UserPrompt::ResetForTesting();
        if (c.answer)
            UserPrompt::SetNextAnswer(*c.answer);
        Tray().mnuBeenden->trigger();
        EXPECT_EQ(UserPrompt::BoxCount(), c.asked ? 1 : 0);
        if (c.asked) {
            const PromptRequest& box = *UserPrompt::LastRequest();
            EXPECT_EQ(box.text, "Kairelon beenden ?");
            EXPECT_EQ(box.caption, "Beenden");
            EXPECT_EQ(box.style, MessageBoxStyle::Question);
            EXPECT_EQ(box.defaultButton, PromptButton::No);
        }
        EXPECT_EQ(terminate.count(), c.ends ? 1 : 0);
        // A missing value is written back with its default.
        CLocalOptions other;
        other.Open();
        EXPECT_EQ(other.ReadBool("AskOnShutdown"), c.stored.value_or(true));
        EXPECT_TRUE(other.ValueExists("AskOnShutdown"));
        window.reset();
    }
}

TEST_F(MainWindow, AQuitRequestClosesTheDialogAndEndsWithoutAsking) {
    Configure();
    StartUp();
    QSignalSpy terminate(window.get(), &TMainWindow::ApplicationTerminate);
    bool closedByRequest = false;
    QTimer::singleShot(20, [&] {
        window->QuitRequest();
        closedByRequest = !window->frmOptions().isVisible();
    });
    window->ShowModal(); // returns once the request closed it
    EXPECT_TRUE(closedByRequest);
    EXPECT_EQ(terminate.count(), 1);
    EXPECT_EQ(UserPrompt::BoxCount(), 0);
}

TEST_F(MainWindow, AShowRequestWaitsForARunningSynchronisationAndIsDoneWhenItEnds) {
    LoopbackServer silent(LoopbackServer::NeverSend());
    Configure("127.0.0.1:" + std::to_string(silent.Port()));
    store.Write(settings::Timeout, 800);
    StartUp();
    QSignalSpy ended(window.get(), &TMainWindow::RunEnded);
    ModalWatch watch(window->frmOptions());
    // Another start asks for the dialog while the run waits for its server.
    RunWhile(*window, 100, [&] { window->ShowRequest(); });
    EXPECT_FALSE(watch.shownModally) << "the dialog opened inside the run";
    EXPECT_EQ(ended.count(), 1);
    EXPECT_TRUE(PumpUntil([&] { return watch.shownModally; }, 2000));
    EXPECT_EQ(UserPrompt::BeepCount(), 0);
    // Shown once: a later run's end opens nothing.
    watch.shownModally = false;
    RunWhile(*window, 50, [] {});
    EXPECT_EQ(ended.count(), 2);
    PumpFor(100);
    EXPECT_FALSE(watch.shownModally);
}

// Notes whether the engine was busy when the dialog was shown.
class ShowSpy : public QObject {
public:
    ShowSpy(TMainWindow& window) : window_(window) { window.frmOptions().installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            ++shown;
            shownWhileBusy |= window_.Engine().Busy;
        }
        return false;
    }
    int shown = 0;
    bool shownWhileBusy = false;

private:
    TMainWindow& window_;
};

TEST_F(MainWindow, AShowRequestDuringAScheduledRunIsDoneOnceTheTickHasReturned) {
    LoopbackServer silent(LoopbackServer::NeverSend());
    Configure("127.0.0.1:" + std::to_string(silent.Port()));
    store.Write(settings::Timeout, 600);
    store.Write(settings::SyncModus, 2);
    store.Write(settings::Intervall, 1);
    store.Write(settings::Einheit, 1); // every tick runs
    StartUp();
    QSignalSpy ended(window.get(), &TMainWindow::RunEnded);
    ShowSpy spy(*window);
    ModalWatch watch(window->frmOptions());
    TSyncEngine& engine = window->Engine();
    bool askedInRun = false;
    QTimer::singleShot(150, [&] {
        askedInRun = engine.Busy && !window->frmOptions().isEnabled();
        engine.tGetTime.stop(); // one scheduled run
        window->ShowRequest();
    });
    engine.tGetTime.start(50);
    EXPECT_TRUE(PumpUntil([&] { return watch.shownModally; }, 3000));
    EXPECT_TRUE(askedInRun) << "the request came outside the run";
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(spy.shown, 1);
    EXPECT_FALSE(spy.shownWhileBusy);
}

TEST_F(MainWindow, AQuitRequestDropsAShowRequestThatWaitsForARun) {
    LoopbackServer silent(LoopbackServer::NeverSend());
    Configure("127.0.0.1:" + std::to_string(silent.Port()));
    store.Write(settings::Timeout, 5000);
    StartUp();
    ModalWatch watch(window->frmOptions());
    RunWhile(*window, 50, [&] {
        window->ShowRequest();
        window->QuitRequest(); // aborts the run's query
    });
    PumpFor(200);
    EXPECT_FALSE(watch.shownModally);
}

// ---- No notification area --------------------------------------------------------------------

TEST_F(MainWindow, WithoutANotificationAreaTheWarningComesAfterTheWait) {
    Configure();
    struct Case {
        int appearsAfterMs; // -1: never
        bool warned;
    };
    for (const Case c : {Case{-1, true}, Case{60, false}}) {
        SCOPED_TRACE(c.appearsAfterMs);
        UserPrompt::ResetForTesting();
        window = std::make_unique<TMainWindow>(clock);
        QElapsedTimer since;
        since.start();
        window->Tray().TrayAvailable = [&] {
            return c.appearsAfterMs >= 0 && since.elapsed() >= c.appearsAfterMs;
        };
        window->TrayWaitMs = 200;
        window->TrayRetryMs = 20;
        UserPrompt::SetNextAnswer(PromptButton::Ok);
        window->FormCreate();
        EXPECT_EQ(UserPrompt::BoxCount(), 0); // not at once: the desktop may come later
        PumpFor(400);
        EXPECT_EQ(UserPrompt::BoxCount(), c.warned ? 1 : 0);
        if (c.warned) {
            EXPECT_EQ(UserPrompt::LastRequest()->text, LoadStr(4210));
            EXPECT_EQ(
                LoadStr(4210),
                "Das Symbol kann nicht im Infobereich der Kontrollleiste installiert werden.");
            EXPECT_EQ(UserPrompt::LastRequest()->caption, "Warnung");
            EXPECT_EQ(UserPrompt::LastRequest()->style, MessageBoxStyle::Warning);
        }
        window.reset();
    }
}

TEST_F(MainWindow, AnIconWithoutItsPictureIsAddedAfterTheLoadIconBox) {
    window = std::make_unique<TMainWindow>(clock);
    window->Tray().TrayAvailable = [] { return true; };
    window->Tray().IconSource = [] { return QIcon(); };
    UserPrompt::SetNextAnswer(PromptButton::Ok);
    window->FormCreate();
    ASSERT_EQ(UserPrompt::BoxCount(), 1);
    EXPECT_EQ(UserPrompt::LastRequest()->caption, "LoadIcon()");
    EXPECT_EQ(UserPrompt::LastRequest()->style, MessageBoxStyle::Warning);
    EXPECT_FALSE(UserPrompt::LastRequest()->text.empty());
    EXPECT_TRUE(window->Tray().IconShown());
}

// ---- Help ------------------------------------------------------------------------------------

TEST_F(MainWindow, TheMenuItemAndTheDialogButtonOpenTheSameHelpPage) {
    Configure();
    StartUp();
    QTemporaryDir folder;
    {
        QFile page(folder.filePath(QStringLiteral("Kairelon.html")));
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
        page.write("<html></html>");
    }
    std::vector<QUrl> opened;
    window->ProgramFolder = folder.path().toStdString();
    window->HelpOpener = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    Tray().mnuHilfe->trigger();
    window->frmOptions().findChild<QAbstractButton*>("ResButton1")->click();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], opened[1]);
    EXPECT_EQ(opened[0].toLocalFile(),
              QFileInfo(folder.filePath(QStringLiteral("Kairelon.html"))).canonicalFilePath());
    EXPECT_EQ(UserPrompt::BoxCount(), 0);

    // A missing page (or a desktop that refuses it) is said in a box, not ignored.
    for (const bool pageThere : {false, true}) {
        if (!pageThere)
            QFile::remove(folder.filePath(QStringLiteral("Kairelon.html")));
        UserPrompt::ResetForTesting();
        UserPrompt::SetNextAnswer(PromptButton::Ok);
        window->HelpOpener = [](const QUrl&) { return false; };
        window->mnuHilfeClick();
        ASSERT_EQ(UserPrompt::BoxCount(), 1);
        EXPECT_NE(UserPrompt::LastRequest()->text.find("Kairelon.html"), std::string::npos);
    }
}

// ---- The animation ---------------------------------------------------------------------------

TEST_F(MainWindow, TheStripRunsOnlyWhileTheDialogIsShown) {
    Configure();
    StartUp();
    TPlasmaStrip& strip = window->Plasma();
    EXPECT_FALSE(strip.IsRunning());
    ASSERT_FALSE(strip.PlasmaBitmap().isNull()); // made during start-up
    const TPlasmaPhases before = PlasmaPhases();
    window->frmOptions().show();
    EXPECT_TRUE(strip.IsRunning());
    EXPECT_NE(PlasmaPhases().P0, before.P0); // one frame at once
    PumpFor(200);
    window->frmOptions().hide();
    EXPECT_FALSE(strip.IsRunning());
    const QImage frozen = strip.PlasmaBitmap();
    const std::uint8_t p0 = PlasmaPhases().P0;
    PumpFor(150);
    EXPECT_EQ(strip.PlasmaBitmap(), frozen);
    EXPECT_EQ(PlasmaPhases().P0, p0);
}

// ---- Protocol on standard output -------------------------------------------------------------

TEST_F(MainWindow, EveryProtocolEntryIsPassedOnAsItIsAdded) {
    Configure();
    std::string text; // as the tray program's echo writes them
    window = std::make_unique<TMainWindow>(clock);
    QObject::connect(window.get(), &TMainWindow::ProtocolEntryAdded, [&](const ProtocolItem& item) {
        text += HeadlessHost::EntryLine(item) + "\n";
    });
    window->Engine().RasLoader = [] { return std::unique_ptr<RasLayer>(); }; // no dial-up layer
    window->frmOptions().TimeZoneSource = [] { return TTimeZoneDisplay{"CET", -60, true}; };
    window->CreateOptionStores();
    window->InitializeMainWindow();
    window->Engine().AddProtocolEntry("Fehler beim Test", 3);
    EXPECT_EQ(text, "warning: " + LoadStr(1070) + "\ninfo: " + LoadStr(1029) +
                        "\nerror: Fehler beim Test\n");
}

// ---- The end ---------------------------------------------------------------------------------

TEST_F(MainWindow, FormDestroyStopsTheScheduleReleasesTheStoresAndRemovesTheIconOnce) {
    Configure();
    ras->entries = {"Büro"};
    StartUp();
    window->frmOptions().show();
    ASSERT_TRUE(window->Engine().tGetTime.isActive());
    window->FormDestroy();
    TSyncEngine& engine = window->Engine();
    EXPECT_TRUE(engine.Closing);
    EXPECT_FALSE(engine.tGetTime.isActive());
    EXPECT_EQ(engine.LocalOptions, nullptr);
    EXPECT_EQ(engine.GlobalOptions, nullptr);
    EXPECT_EQ(engine.RasApi, nullptr);
    EXPECT_EQ(ras->destroyed, 1); // the dial-up layer is let go
    EXPECT_FALSE(window->Plasma().IsRunning());
    EXPECT_FALSE(Tray().IconShown());
    window.reset(); // the destructor does not run it again
    EXPECT_EQ(ras->destroyed, 1);
}

// ---- Exceptions in event handlers ------------------------------------------------------------

TEST(ExceptionBox, AnExceptionOutOfAHandlerIsShownAndDeliveryGoesOn) {
    UserPrompt::ResetForTesting();
    UserPrompt::SetNextAnswer(PromptButton::Ok);
    EXPECT_FALSE(DeliverGuarded([]() -> bool { throw std::runtime_error("kaputt"); }));
    ASSERT_EQ(UserPrompt::BoxCount(), 1);
    EXPECT_EQ(UserPrompt::LastRequest()->text, "kaputt");
    EXPECT_EQ(UserPrompt::LastRequest()->caption, "Kairelon");
    EXPECT_EQ(UserPrompt::LastRequest()->style, MessageBoxStyle::Error);
    EXPECT_TRUE(DeliverGuarded([] { return true; }));
    EXPECT_EQ(UserPrompt::BoxCount(), 1);
    UserPrompt::ResetForTesting();
}

} // namespace
} // namespace kairelon::test
