#include "app/TrayIcon.h"

#include "app/Artwork.h"
#include "controls/UserPrompt.h"
#include "framework/StringTable.h"
#include "platform/SystemError.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QWindow>

#include <cerrno>
#include <cstring>

namespace kairelon {
namespace {

// The class of the small window that holds the icon on X11 and that the notification area
// takes in; it is made again when the area restarts.
bool IsTrayIconWindow(const QObject* object) {
    const QWidget* widget = qobject_cast<const QWidget*>(object);
    if (widget == nullptr) {
        if (const QWindow* window = qobject_cast<const QWindow*>(object)) {
            for (const QWidget* topLevel : QApplication::topLevelWidgets()) {
                if (topLevel->windowHandle() == window) {
                    widget = topLevel;
                    break;
                }
            }
        }
    }
    return widget != nullptr &&
           std::strcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0;
}

QIcon LoadTnaIcon() {
    if (TnaIcon16().isNull())
        return QIcon();
    return ProgramIcon();
}

} // namespace

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent), IconSource(&LoadTnaIcon) {
    popOptions.setObjectName(QStringLiteral("popOptions"));
    const auto item = [this](const char* name, int image) {
        QAction* action = popOptions.addAction(MenuImage(image), QString());
        action->setObjectName(QLatin1String(name));
        return action;
    };
    mnuOptionen = item("mnuOptionen", miOptions);
    mnuSync = item("mnuSync", miSync);
    N1 = popOptions.addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    mnuHilfe = item("mnuHilfe", miHelp);
    mnuInfo = item("mnuInfo", miInfo);
    N2 = popOptions.addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    mnuBeenden = item("mnuBeenden", miQuit);

    // The default item: bold, as the menu shows its default everywhere.
    popOptions.setDefaultAction(mnuOptionen);
    QFont bold = mnuOptionen->font();
    bold.setBold(true);
    mnuOptionen->setFont(bold);

    connect(mnuOptionen, &QAction::triggered, this, &TTrayIcon::OptionsRequested);
    connect(mnuSync, &QAction::triggered, this, &TTrayIcon::SyncRequested);
    connect(mnuHilfe, &QAction::triggered, this, &TTrayIcon::HelpRequested);
    connect(mnuInfo, &QAction::triggered, this, &TTrayIcon::InfoRequested);
    connect(mnuBeenden, &QAction::triggered, this, &TTrayIcon::QuitRequested);

    Icon.setToolTip(QString::fromLatin1(Tip));
    connect(&Icon, &QSystemTrayIcon::activated, this, &TTrayIcon::IconActivated);
    tPlacement.setSingleShot(true);
    connect(&tPlacement, &QTimer::timeout, this, &TTrayIcon::tPlacementTimer);
    SetHostDrawsMenu(StatusNotifierHostRegistered());
}

bool TTrayIcon::StatusNotifierHostRegistered() {
    // The platforms whose tray component asks the session bus for a StatusNotifier host.
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && !platform.startsWith(QLatin1String("wayland")))
        return false;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.interface()->isServiceRegistered(watcher).value())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({watcher, QStringLiteral("IsStatusNotifierHostRegistered")});
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void TTrayIcon::SetHostDrawsMenu(bool hostDrawsMenu) {
    HostDrawsMenu_ = hostDrawsMenu;
    Icon.setContextMenu(hostDrawsMenu ? &popOptions : nullptr);
    UpdateMenuState();
}

void TTrayIcon::SetRunInProgress(bool running) {
    RunInProgress_ = running;
    UpdateMenuState();
}

void TTrayIcon::SetSyncCommandEnabled(bool enabled) {
    SyncCommandEnabled_ = enabled;
    UpdateMenuState();
}

void TTrayIcon::UpdateMenuState() {
    // A menu drawn by the desktop's host cannot be refused with a beep: the commands that a
    // running synchronisation refuses are greyed out while it runs. On an X11 notification
    // area the menu opens only when no run is in progress, and each command is judged when
    // it is chosen.
    const bool offered = !(HostDrawsMenu_ && RunInProgress_);
    mnuOptionen->setEnabled(offered);
    mnuInfo->setEnabled(offered);
    mnuSync->setEnabled(offered && SyncCommandEnabled_);
}

void TTrayIcon::TrayIconMessage(ETrayMouse message) {
    if (message == ETrayMouse::Other || (DialogShown && DialogShown()))
        return;
    // A question or the info window of ours is open (a StatusNotifier host reaches the icon
    // through any window): it comes to the front instead of a second modal window over it.
    if (RaiseOpenWindow && RaiseOpenWindow())
        return;
    if (Busy && Busy()) {
        UserPrompt::Beep();
        return;
    }
    if (message == ETrayMouse::LeftDoubleClick)
        emit OptionsRequested();
    else
        PopupAt(CursorPos ? CursorPos() : QCursor::pos());
}

TTrayIcon::~TTrayIcon() {
    RemoveTrayIcon();
}

bool TTrayIcon::AddTrayIcon() {
    if (Icon.icon().isNull()) {
        const QIcon picture = IconSource ? IconSource() : QIcon();
        if (picture.isNull()) {
            // The icon is installed without a picture; the caller tells the user.
            emit IconLoadFailed(QString::fromStdString(SystemErrorText(ENOENT)));
        } else {
            Icon.setIcon(picture);
        }
    }
    Icon.show();
    // The icon's place is read when its window is shown, moved, exposed or hidden (also when
    // the notification area restarts and takes it in again), never by polling: an idle
    // program wakes for nothing.
    if (!WatchingPlacement) {
        qApp->installEventFilter(this);
        WatchingPlacement = true;
    }
    tPlacement.start(0);
    return TrayAvailable && TrayAvailable();
}

void TTrayIcon::RemoveTrayIcon() {
    if (WatchingPlacement) {
        qApp->removeEventFilter(this);
        WatchingPlacement = false;
    }
    tPlacement.stop();
    Icon.hide();
}

QRect TTrayIcon::Geometry() const {
    if (!Icon.isVisible())
        return QRect();
    const QRect geometry = Icon.geometry();
    // On X11 the icon is a small window of its own that the notification area takes in; until
    // it has (and after the area went away) that window is not exposed and its place means
    // nothing.
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (IsTrayIconWindow(widget)) {
            const QWindow* window = widget->windowHandle();
            return window != nullptr && window->isExposed() ? geometry : QRect();
        }
    }
    return geometry;
}

void TTrayIcon::tPlacementTimer() {
    const QRect placement = Geometry();
    if (placement != LastPlacement) {
        LastPlacement = placement;
        emit Placed(placement);
    }
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Expose:
        // After the event is handled, so the window's place is up to date.
        if (!tPlacement.isActive() && IsTrayIconWindow(watched))
            tPlacement.start(0);
        break;
    default:
        break;
    }
    return false;
}

void TTrayIcon::SetMenuCaptions() {
    const std::pair<QAction*, int> captions[] = {
        {mnuSync, 3000}, {mnuOptionen, 3001}, {mnuHilfe, 3002}, {mnuInfo, 3003}, {mnuBeenden, 3004},
    };
    for (const auto& [action, number] : captions)
        action->setText(QString::fromStdString(LoadStr(number)));
}

void TTrayIcon::PopupAt(const QPoint& screenPosition) {
    popOptions.popup(screenPosition);
}

ETrayMouse TTrayIcon::MouseMessageOf(QSystemTrayIcon::ActivationReason reason, bool hostDrawsMenu) {
    if (hostDrawsMenu) {
        // The host's left click ("Activate") and a double click, should a host report one,
        // open the dialog; its menu request is answered by the host with the exported menu.
        return reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick
                   ? ETrayMouse::LeftDoubleClick
                   : ETrayMouse::Other;
    }
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        return ETrayMouse::LeftDoubleClick;
    case QSystemTrayIcon::Context:
        return ETrayMouse::RightButtonDown;
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
        break;
    }
    return ETrayMouse::Other;
}

void TTrayIcon::IconActivated(QSystemTrayIcon::ActivationReason reason) {
    const ETrayMouse message = MouseMessageOf(reason, HostDrawsMenu_);
    QMetaObject::invokeMethod(
        this, [this, message] { TrayIconMessage(message); }, Qt::QueuedConnection);
}

} // namespace kairelon
