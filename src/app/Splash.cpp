#include "app/Splash.h"

#include "app/Artwork.h"
#include "diag/ErrorLog.h"
#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/Library.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <sys/stat.h>

namespace kairelon {

std::string LogoLibraryPath(const std::string& programFolder) {
    std::string path = programFolder;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + LogoLibraryName;
}

TfrmSplash::TfrmSplash()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      imgSplash_(this) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Kairelon"));
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    imgSplash_.move(0, 0);
    imgSplash_.setPixmap(QPixmap::fromImage(BuiltInSplashPicture()));
    imgSplash_.adjustSize();
    tClose.setInterval(CloseDelayMs);
    // A coarse timer may fire up to 5 % early; the splash stays its full time.
    tClose.setTimerType(Qt::PreciseTimer);
    tClose.setSingleShot(false);
    connect(&tClose, &QTimer::timeout, this, &TfrmSplash::tCloseTimer);
}

void TfrmSplash::PrepareSplash(const std::string& logoLibraryPath) {
    struct stat st;
    if (::stat(logoLibraryPath.c_str(), &st) == 0 && LoadLibrary(logoLibraryPath)) {
        const QImage logo(QString::fromLatin1(LogoResourcePath));
        if (logo.isNull()) {
            WriteErrorLog("TfrmSplash::PrepareSplash()", Format(LoadStr(4211), logoLibraryPath));
        } else {
            imgSplash_.setPixmap(QPixmap::fromImage(logo));
            Picture_ = EPicture::Logo;
        }
    }
    imgSplash_.setScaledContents(true);
    imgSplash_.setGeometry(0, 0, SplashWidth, SplashHeight);
    setFixedSize(SplashWidth, SplashHeight);
    tClose.start();
}

void TfrmSplash::showEvent(QShowEvent* event) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    QWidget::showEvent(event);
}

void TfrmSplash::tCloseTimer() {
    tClose.stop();
    close();
}

} // namespace kairelon
