// The program's icon in the notification area and its popup menu.
//
// `TTrayIcon` owns the `QSystemTrayIcon` (the picture "TNA_ICON_1", the tip "Kairelon") and the
// menu `popOptions` with its items `mnuOptionen` (the default item, in bold), `mnuSync`,
// `mnuHilfe`, `mnuInfo` and `mnuBeenden`, separated by `N1` and `N2`. It does not decide what
// a click means: it turns the tray's activations into the mouse messages of the main window
// (`TrayIconMessage`), which applies its own rules (nothing while the dialog is shown, a beep
// while a synchronisation runs) and opens the menu itself. The menu is therefore never handed
// to the tray as its context menu, which the tray would open on its own.
//
// On X11 the tray reports a right-button press as `Context` and a left press as `Trigger` (on
// the press, not the release) and a left double click as `DoubleClick`; a desktop with a
// status-notifier host reports its "context menu" request as `Context` and its "activate" as
// `Trigger`. `MouseMessageOf` maps them: `DoubleClick` is the double click of the left button,
// `Context` the press of the right button, everything else (single clicks, the middle button)
// is ignored.
//
// The desktop's notification area may start after the program: `AddTrayIcon` shows the icon
// whenever a tray exists and says whether one does now; the window then asks again for a
// while before it warns. When the notification area restarts, the tray component embeds the
// icon again in the new one by itself. From `AddTrayIcon` on, `Placed` reports where the icon
// stands whenever that changes (asked every 20 ms for the first 10 s, then every 2 s).
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

    static ETrayMouse MouseMessageOf(QSystemTrayIcon::ActivationReason reason);

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
};

} // namespace kairelon
