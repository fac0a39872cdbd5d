// The program's icon in the notification area, its popup menu and the rules of the mouse on it.
//
// `TTrayIcon` owns the `QSystemTrayIcon` (the picture "TNA_ICON_1", the tip "Kairelon") and the
// menu `popOptions` with its items `mnuOptionen` (the default item, in bold), `mnuSync`,
// `mnuHilfe`, `mnuInfo` and `mnuBeenden`, separated by `N1` and `N2`. It says what the user
// asked for (`OptionsRequested`, `SyncRequested`, `HelpRequested`, `InfoRequested`,
// `QuitRequested`) and leaves the doing to the main window. Its click rules
// (`TrayIconMessage`): nothing while the dialog is shown; an open question or window of ours
// comes to the front instead; a beep while a synchronisation runs; else a double click asks for
// the options and a right-button press opens the menu at the cursor. It also keeps the menu's
// enabled state ("Synchronisieren" only with a server; on a menu drawn by the desktop's host,
// the commands a run refuses greyed out while one runs). What it asks of the main window (is
// the dialog shown, is the engine busy, raise an open window) comes through plain function
// seams, so it needs neither the dialog nor the engine.
//
// Two kinds of notification area exist. An X11 notification area (XEmbed) reports a
// right-button press as `Context`, a left press as `Trigger` (on the press, not the release)
// and a left double click as `DoubleClick`; there the menu is opened by the click rules, so it
// is never handed to the tray component as its context menu, which that would open on its own
// even while a synchronisation runs. A desktop with a StatusNotifier host on the session
// bus (KDE Plasma, GNOME with its AppIndicator extension, every Wayland session) draws the
// menu itself: the program may not open a menu at the pointer there (Wayland forbids it), and
// the host reports its left click as `Trigger` ("Activate") and knows no double click. There
// the menu is the icon's context menu, exported to the host with its captions, images and
// enabled state, and the host's activation counts as the double click. Which kind the tray
// component uses is settled when it is made, by the same question it asks the session bus
// (`StatusNotifierHostRegistered`); `HostDrawsMenu` says which.
//
// The desktop's notification area may start after the program: `AddTrayIcon` shows the icon
// whenever a tray exists and says whether one does now; the main window then asks again for
// a while before it warns. When the notification area restarts, the tray component embeds the
// icon again in the new one by itself. From `AddTrayIcon` on, `Placed` reports where the icon
// stands whenever that changes (read when its window is shown, moved or exposed; a host of the
// StatusNotifier kind tells no place).
#pragma once

#include <QAction>
#include <QCursor>
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

    // A mouse message of the icon, by the click rules above. The tray's activations arrive
    // here through the event queue, so no modal loop ever runs inside the tray's own handler.
    void TrayIconMessage(ETrayMouse message);

    // The menu's enabled state: a run in progress (the dialog is disabled) and whether
    // "Synchronisieren" is offered at all.
    void SetRunInProgress(bool running);
    void SetSyncCommandEnabled(bool enabled);

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
    // What the click rules ask of the main window: whether the dialog is shown, whether a
    // synchronisation runs, and to bring an open modal window of ours to the front (false when
    // none is open); unset: no, no, none. Where the mouse cursor is.
    std::function<bool()> DialogShown;
    std::function<bool()> Busy;
    std::function<bool()> RaiseOpenWindow;
    std::function<QPoint()> CursorPos = [] { return QCursor::pos(); };

public slots:
    // The tray's activation, as the tray reports it.
    void IconActivated(QSystemTrayIcon::ActivationReason reason);

signals:
    // What the user asked for: a double click or "Optionen...", "Synchronisieren", "Hilfe",
    // "Info...", "Beenden".
    void OptionsRequested();
    void SyncRequested();
    void HelpRequested();
    void InfoRequested();
    void QuitRequested();
    // The icon's picture could not be loaded: `text` is the system's reason.
    void IconLoadFailed(const QString& text);
    // The icon now stands at `geometry` (screen coordinates); empty: no longer shown.
    void Placed(const QRect& geometry);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tPlacementTimer();
    void UpdateMenuState();

    QSystemTrayIcon Icon;
    QTimer tPlacement;
    QRect LastPlacement;
    bool WatchingPlacement = false;
    bool HostDrawsMenu_ = false;
    bool RunInProgress_ = false;
    bool SyncCommandEnabled_ = true;
};

} // namespace kairelon
