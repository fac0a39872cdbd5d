// The program's icon in the notification area and its popup menu.
//
// `TTrayIcon` owns the `QSystemTrayIcon` (the picture "TNA_ICON_1", the tip "Kairelon") and the
// menu `popOptions` with its items `mnuOptionen` (the default item, in bold), `mnuSync`,
// `mnuHilfe`, `mnuInfo` and `mnuBeenden`, separated by `N1` and `N2`. It does not decide what
// a click means: it turns the tray's activations into the mouse messages of the main window
// (`TrayIconMessage`), which applies its own rules (nothing while the dialog is shown, a beep
// while a synchronisation runs).
//
// Two kinds of notification area exist. An X11 notification area (XEmbed) reports a
// right-button press as `Context`, a left press as `Trigger` (on the press, not the release)
// and a left double click as `DoubleClick`; there the main window opens the menu itself, so
// the menu is never handed to the tray as its context menu, which the tray would open on its
// own even while a synchronisation runs. A desktop with a StatusNotifier host on the session
// bus (KDE Plasma, GNOME with its AppIndicator extension, every Wayland session) draws the
// menu itself: the program may not open a menu at the pointer there (Wayland forbids it), and
// the host reports its left click as `Trigger` ("Activate") and knows no double click. There
// the menu is the icon's context menu, exported to the host with its captions, images and
// enabled state, and the host's activation counts as the double click. Which kind the tray
// component uses is settled when it is made, by the same question it asks the session bus
// (`StatusNotifierHostRegistered`); `HostDrawsMenu` says which.
//
// The desktop's notification area may start after the program: `AddTrayIcon` shows the icon
// whenever a tray exists and says whether one does now; the window then asks again for a
// while before it warns. When the notification area restarts, the tray component embeds the
// icon again in the new one by itself. From `AddTrayIcon` on, `Placed` reports where the icon
// stands whenever that changes (read when its window is shown, moved or exposed; a host of the
// StatusNotifier kind tells no place).
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

namespace kairelon {

// The mouse messages of the tray icon that the main window tells apart.
enum class ETrayMouse {
    LeftDoubleClick, // WM_LBUTTONDBLCLK
    RightButtonDown, // WM_RBUTTONDOWN
    Other,           // single clicks, releases, moves, the middle button: ignored
};

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr const char* Tip = "Kairelon";

    explicit TTrayIcon(QObject* parent = nullptr);
    ~TTrayIcon() override;

    // Shows the icon; true when a notification area holds it now.
    bool AddTrayIcon();
    // Takes the icon away.
    void RemoveTrayIcon();
    bool IconShown() const { return Icon.isVisible(); }

    // Captions from the string table: 3000 mnuSync, 3001 mnuOptionen, 3002 mnuHilfe,
    // 3003 mnuInfo, 3004 mnuBeenden.
    void SetMenuCaptions();
    // Opens the menu with its top left corner at a screen position (not modal).
    void PopupAt(const QPoint& screenPosition);

    // The mouse message an activation stands for: on an X11 notification area
    // (`hostDrawsMenu` false) the double click and the right press; on a StatusNotifier host
    // its activation is the double click and its menu request is the host's own business.
    static ETrayMouse MouseMessageOf(QSystemTrayIcon::ActivationReason reason,
                                     bool hostDrawsMenu = false);

    // Whether the desktop's StatusNotifier host draws the menu (see above). Setting it hands
    // the menu to the tray as its context menu, or takes it back; tests set it, the
    // constructor sets it from `StatusNotifierHostRegistered`.
    bool HostDrawsMenu() const { return HostDrawsMenu_; }
    void SetHostDrawsMenu(bool hostDrawsMenu);
    // True when the tray component of this platform takes the StatusNotifier route: a
    // StatusNotifier watcher on the session bus says a host is registered (on X11 or Wayland).
    static bool StatusNotifierHostRegistered();

    // Where the icon stands on the screen; empty while no notification area shows it.
    QRect Geometry() const;
    const QSystemTrayIcon& SystemTrayIcon() const { return Icon; }

    QMenu popOptions;
    QAction* mnuOptionen;
    QAction* mnuSync;
    QAction* N1;
    QAction* mnuHilfe;
    QAction* mnuInfo;
    QAction* N2;
    QAction* mnuBeenden;

    // Seams: whether the desktop has a notification area, and the icon's picture (null when
    // it cannot be loaded).
    std::function<bool()> TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    std::function<QIcon()> IconSource;

public slots:
    // The tray's activation, as the tray reports it.
    void IconActivated(QSystemTrayIcon::ActivationReason reason);

signals:
    void TrayIconMessage(ETrayMouse message);
    // The icon's picture could not be loaded: `text` is the system's reason.
    void IconLoadFailed(const QString& text);
    // The icon now stands at `geometry` (screen coordinates); empty: no longer shown.
    void Placed(const QRect& geometry);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tPlacementTimer();

    QSystemTrayIcon Icon;
    QTimer tPlacement;
    QRect LastPlacement;
    bool WatchingPlacement = false;
    bool HostDrawsMenu_ = false;
};

} // namespace kairelon
