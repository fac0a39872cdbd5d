// The application object of the tray program.
//
// `TApplication` is the widget application with the settings the program makes at start-up:
// the title "Kairelon", the program's icon, and no quitting when its last window closes (the
// dialog only hides; the tray icon stays). An exception that escapes an event handler does
// not end the program: it is shown in the exception box (the message, the title as caption,
// the error icon) and the program keeps running. `DeliverGuarded` is that rule on its own.
#pragma once

#include <QApplication>

#include <exception>
#include <functional>

namespace kairelon {

// The application title, the caption of the exception box.
inline constexpr const char* ApplicationTitle = "Kairelon";

// Shows the exception box for `error` (and writes it to standard error).
void ShowExceptionBox(const std::exception& error);

// Runs `deliver`; an exception it lets escape is shown in the exception box and gives false.
bool DeliverGuarded(const std::function<bool()>& deliver);

class TApplication : public QApplication {
    Q_OBJECT
public:
    // `argc` must outlive the application object.
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace kairelon
