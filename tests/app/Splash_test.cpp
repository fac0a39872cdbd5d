// The splash window: its frame, size, picture sources, error log entry and self-closing, and
// the info window: its size, texts and the keys that close it.
#include "app/InfoWindow.h"
#include "app/Splash.h"
#include "framework/StringTable.h"
#include "support/EventLoop.h"

#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace kairelon {
namespace {

const std::string LogoDir = KAIRELON_TEST_LOGO_DIR;

// Points the error log at a fresh folder for the test's lifetime.
class StateFolderScope {
public:
    StateFolderScope() { setenv("XDG_STATE_HOME", dir.path().toLocal8Bit().constData(), 1); }
    ~StateFolderScope() { unsetenv("XDG_STATE_HOME"); }
    QString ErrorLog() const {
        QFile file(dir.path() + QStringLiteral("/kairelon/error.log"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll());
    }

private:
    QTemporaryDir dir;
};

// What a prepared splash shows, as one line: the picture's source, the colours at the left
// and right edge of the window, the size, the timer and the error log.
std::string Outcome(const std::string& libraryPath) {
    StateFolderScope state;
    auto* splash = new TfrmSplash;
    splash->PrepareSplash(libraryPath);
    const QImage shown = splash->grab().toImage().convertToFormat(QImage::Format_RGB32);
    auto colour = [&](int x) {
        const QRgb c = shown.pixel(x, shown.height() / 2);
        return qRed(c) > 200 && qGreen(c) < 50   ? "red"
               : qGreen(c) > 200 && qRed(c) < 50 ? "green"
                                                 : "other";
    };
    const QString log = state.ErrorLog();
    std::string line = std::string("picture=") +
                       (splash->Picture() == TfrmSplash::EPicture::Logo ? "logo" : "builtin") +
                       " left=" + colour(10) + " right=" + colour(shown.width() - 10) +
                       " size=" + std::to_string(splash->width()) + "x" +
                       std::to_string(splash->height()) +
                       " image=" + std::to_string(splash->imgSplash().width()) + "x" +
                       std::to_string(splash->imgSplash().height()) +
                       " timer=" + (splash->CloseTimerActive() ? "on" : "off") +
                       " log=" + (log.isEmpty() ? "empty" : "written");
    if (!log.isEmpty()) {
        line += log.contains(QStringLiteral("MORWICKLOGO")) ? " names-picture" : "";
        line += log.contains(QStringLiteral("Quelle : TfrmSplash::PrepareSplash()"))
                    ? " names-source"
                    : "";
    }
    delete splash;
    return line;
}

// Each library case runs in a process of its own: a loaded library stays loaded, and with it
// the pictures it registered.
void ExpectOutcome(const std::string& libraryPath, const char* pattern) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::fprintf(stderr, "%s\n", Outcome(libraryPath).c_str());
            std::fflush(stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), pattern);
}

TEST(SplashLogo, LibraryPathIsTheProgramsFolderWithOneSlash) {
    const struct {
        const char* folder;
        const char* path;
    } cases[] = {
        {"/usr/bin", "/usr/bin/morwick.dll"},
        {"/usr/bin/", "/usr/bin/morwick.dll"},
        {"/", "/morwick.dll"},
        {"/opt/Kairelon 1", "/opt/Kairelon 1/morwick.dll"},
        {"", "/morwick.dll"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogoLibraryPath(c.folder), c.path) << c.folder;
}

TEST(SplashLogo, WithoutTheLibraryTheBuiltInPictureIsShown) {
    ExpectOutcome(LogoDir + "/missing/morwick.dll",
                  "picture=builtin left=other right=other size=348x212 image=348x212 timer=on "
                  "log=empty");
}

TEST(SplashLogo, AFileThatIsNoLibraryLeavesTheBuiltInPicture) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/morwick.dll";
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a shared object\n");
    file.close();
    ExpectOutcome(path, "picture=builtin left=other right=other size=348x212 image=348x212 "
                        "timer=on log=empty");
}

TEST(SplashLogo, TheLibrarysPictureIsShownStretchedTo348By212) {
    ExpectOutcome(LogoDir + "/with-logo/morwick.dll",
                  "picture=logo left=red right=green size=348x212 image=348x212 timer=on "
                  "log=empty");
}

TEST(SplashLogo, ALibraryWithoutThePictureIsLoggedAndTheBuiltInPictureShown) {
    ExpectOutcome(LogoDir + "/other-picture/morwick.dll",
                  "picture=builtin left=other right=other size=348x212 image=348x212 timer=on "
                  "log=written names-picture names-source");
}

TEST(SplashWindow, IsAFramelessBlackWindowOnTop) {
    TfrmSplash splash;
    splash.PrepareSplash(LogoDir + "/missing/morwick.dll");
    const Qt::WindowFlags flags = splash.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(splash.palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_TRUE(splash.testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(splash.size(), QSize(348, 212));
}

TEST(SplashWindow, IsCentredOnTheScreenWhenShown) {
    QPointer<TfrmSplash> splash = new TfrmSplash;
    splash->PrepareSplash(LogoDir + "/missing/morwick.dll");
    splash->show();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect frame = splash->geometry();
    EXPECT_LE(std::abs(frame.center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(frame.center().y() - screen.center().y()), 1);
    delete splash;
}

TEST(SplashWindow, StaysFourSecondsAndUntilEventsGoThroughThenFreesItself) {
    QPointer<TfrmSplash> splash = new TfrmSplash;
    splash->PrepareSplash(LogoDir + "/missing/morwick.dll");
    splash->show();
    test::PumpFor(3700);
    ASSERT_FALSE(splash.isNull());
    EXPECT_TRUE(splash->isVisible()) << "closed before four seconds";
    // Start-up busy without processing events past the four seconds: still shown.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_FALSE(splash.isNull());
    EXPECT_TRUE(splash->isVisible());
    EXPECT_TRUE(test::PumpUntil([&] { return splash.isNull(); }, 2000))
        << "the splash did not close and free itself once events went through";
}

TEST(InfoWindow, Is336By252WithoutCloseBoxCaptionedInfo) {
    TfrmInfo info;
    EXPECT_EQ(info.size(), QSize(336, 252));
    EXPECT_EQ(info.minimumSize(), info.maximumSize());
    EXPECT_EQ(info.windowTitle(), QStringLiteral("Info"));
    EXPECT_FALSE(info.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(info.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    EXPECT_EQ(info.btnOkay.geometry(), QRect(258, 221, 71, 23));
    EXPECT_TRUE(info.btnOkay.isDefault());
    EXPECT_EQ(info.btnOkay.text(), QStringLiteral("&OK"));
}

TEST(InfoWindow, OpensCentredOnTheScreenWhereverItsHiddenOwnerIs) {
    QWidget owner; // the options dialog, hidden at the top left as after start-up
    owner.setFixedSize(363, 319);
    owner.move(0, 0);
    for (const QPoint ownerAt : {QPoint(0, 0), QPoint(400, 300)}) {
        owner.move(ownerAt);
        TfrmInfo info(&owner);
        info.open();
        ASSERT_TRUE(info.isVisible());
        const QPoint centre = info.screen()->availableGeometry().center();
        EXPECT_LE((info.frameGeometry().center() - centre).manhattanLength(), 2)
            << "info window at " << info.frameGeometry().x() << "," << info.frameGeometry().y();
        info.accept();
    }
}

TEST(InfoWindow, StaysNormalWhenMinimisedMaximisedOrMadeFullScreen) {
    for (const Qt::WindowState state :
         {Qt::WindowMinimized, Qt::WindowMaximized, Qt::WindowFullScreen}) {
        TfrmInfo info;
        info.open();
        ASSERT_TRUE(info.isVisible());
        info.setWindowState(state);
        test::PumpFor(20);
        EXPECT_EQ(info.windowState(), Qt::WindowNoState) << state;
        EXPECT_TRUE(info.isVisible()) << state;
        EXPECT_EQ(info.size(), QSize(336, 252)) << state;
    }
}

TEST(InfoWindow, ShowsTheNoticeTheMakerAndTheWebAddress) {
    TfrmInfo info;
    EXPECT_EQ(info.ResLabel1.text().toStdString(), LoadStr(1050));
    EXPECT_TRUE(info.ResLabel1.text().contains(QStringLiteral("support@")));
    EXPECT_TRUE(info.ResLabel1.text().contains(QStringLiteral("info@")));
    EXPECT_TRUE(info.ResLabel1.wordWrap());
    EXPECT_EQ(info.ResLabel1.geometry(), QRect(8, 70, 321, 56));
    EXPECT_TRUE(info.lblMaker.text().contains(QStringLiteral("Quarnel Developments")));
    EXPECT_EQ(info.lblWeb.text(), QStringLiteral("www.quarnel.example"));
    EXPECT_TRUE(info.lblWeb.font().underline());
    EXPECT_EQ(info.lblWeb.palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_TRUE(info.lblWeb.alignment().testFlag(Qt::AlignHCenter));
}

TEST(InfoWindow, TextsFitTheirLabels) {
    TfrmInfo info;
    EXPECT_LE(info.ResLabel1.heightForWidth(321), 56) << "the notice is cut off";
    EXPECT_LE(info.lblMaker.sizeHint().width(), 321);
    EXPECT_LE(info.lblMaker.sizeHint().height(), info.lblMaker.height());
    EXPECT_LE(info.lblWeb.sizeHint().width(), 321);
}

void SendKey(QWidget& target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &release);
}

TEST(InfoWindow, EscapeDoesNotCloseIt) {
    TfrmInfo info;
    info.open();
    ASSERT_TRUE(info.isVisible());
    SendKey(info, Qt::Key_Escape);
    test::PumpFor(20);
    EXPECT_TRUE(info.isVisible());
}

TEST(InfoWindow, EnterAndTheOkButtonCloseIt) {
    for (const char* how : {"Return", "Enter", "click"}) {
        TfrmInfo info;
        info.open();
        ASSERT_TRUE(info.isVisible());
        if (std::string(how) == "click")
            info.btnOkay.click();
        else
            SendKey(info, std::string(how) == "Return" ? Qt::Key_Return : Qt::Key_Enter);
        test::PumpFor(20);
        EXPECT_FALSE(info.isVisible()) << how;
        EXPECT_EQ(info.result(), QDialog::Accepted) << how;
    }
}

} // namespace
} // namespace kairelon
