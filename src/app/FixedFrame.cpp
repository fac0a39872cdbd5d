#include "app/FixedFrame.h"

#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace kairelon {
namespace {

constexpr Qt::WindowStates Refused =
    Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

} // namespace

void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = window.screen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

void KeepFixedFrame(QWidget& window, const QEvent* event) {
    if (event->type() != QEvent::WindowStateChange || !(window.windowState() & Refused)) {
        return;
    }
    // Queued: the window system's own state change is still being delivered.
    QTimer::singleShot(0, &window, [target = QPointer<QWidget>(&window)] {
        if (target && target->isVisible() && (target->windowState() & Refused)) {
            target->setWindowState(target->windowState() & ~Refused);
            target->activateWindow();
        }
    });
}

} // namespace kairelon
