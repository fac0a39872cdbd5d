// The splash window shown once at start-up.
//
// `TfrmSplash` is a frameless, black, always-on-top window of 348 x 212 pixels, centred on the
// screen. `PrepareSplash` takes the path of the optional logo library "morwick.dll" in the
// program's folder: when the file loads as a library and carries the picture MORWICKLOGO (a Qt
// resource it registers when loaded), that picture replaces the built-in one, stretched to the
// window. A library without the picture is written to the error log and the built-in picture
// stays: the logo is a decoration and must never stop the clock service. The window closes
// and frees itself on the first tick of its 4000 ms timer, which needs the event loop to run,
// so it stays up at least four seconds and until start-up lets events through.
#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <string>

namespace kairelon {

// The logo library's file name, looked for in the program's folder.
inline constexpr const char* LogoLibraryName = "morwick.dll";
// The resource the library carries its picture under.
inline constexpr const char* LogoResourcePath = ":/MORWICKLOGO";

// The folder of the running program's executable, a "/" appended unless it ends with one,
// then "morwick.dll".
std::string LogoLibraryPath(const std::string& programFolder);

class TfrmSplash : public QWidget {
    Q_OBJECT
public:
    static constexpr int SplashWidth = 348;  // pixels
    static constexpr int SplashHeight = 212; // pixels
    static constexpr int CloseDelayMs = 4000;

    // Where the shown picture came from.
    enum class EPicture { BuiltIn, Logo };

    TfrmSplash();

    // Loads the optional logo, sets the size, starts the close timer.
    void PrepareSplash(const std::string& logoLibraryPath);

    EPicture Picture() const { return Picture_; }
    const QLabel& imgSplash() const { return imgSplash_; }
    bool CloseTimerActive() const { return tClose.isActive(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tCloseTimer();

    QLabel imgSplash_;
    QTimer tClose;
    EPicture Picture_ = EPicture::BuiltIn;
};

} // namespace kairelon
