#include "app/Application.h"

#include "app/Artwork.h"
#include "controls/UserPrompt.h"

#include <cstdio>

namespace kairelon {

void ShowExceptionBox(const std::exception& error) {
    std::fprintf(stderr, "kairelon: %s\n", error.what());
    std::fflush(stderr);
    UserPrompt::MessageBox(nullptr, error.what(), ApplicationTitle, MessageBoxStyle::Error);
}

bool DeliverGuarded(const std::function<bool()>& deliver) {
    try {
        return deliver();
    } catch (const std::exception& error) {
        ShowExceptionBox(error);
    }
    return false;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(ApplicationTitle));
    setDesktopFileName(QStringLiteral("kairelon"));
    setWindowIcon(ProgramIcon());
    setQuitOnLastWindowClosed(false);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    return DeliverGuarded([&] { return QApplication::notify(receiver, event); });
}

} // namespace kairelon
