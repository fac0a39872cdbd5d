// One tray program per user session, over the session bus.
//
// The first `kairelon` of a session owns the bus name "example.quarnel.Kairelon" and offers
// the object "/Kairelon" with two methods: `ShowDialog` (a later start from the applications
// menu asks the running one to show its dialog) and `Quit` (`kairelon --quit`). The methods
// answer at once and hand the request to the program through the queued signals
// `ShowRequested` and `QuitRequested`, so a dialog shown modally in reply never keeps the
// asking process waiting. Without a session bus every start counts as the first: the program
// then runs as it would without this class.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace kairelon {

class CSingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "example.quarnel.Kairelon")
public:
    static constexpr const char* ServiceName = "example.quarnel.Kairelon";
    static constexpr const char* ObjectPath = "/Kairelon";
    static constexpr int CallTimeoutMs = 5000;

    enum class ERole {
        First,  // this process owns the name and answers the others
        Second, // another process of the session owns it
        NoBus,  // no session bus: nothing to coordinate with
    };

    // `bus` defaults to the session bus; tests give a private one.
    explicit CSingleInstance(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);
    ~CSingleInstance() override;

    // Offers the object and tries to own the name.
    ERole Register();
    ERole Role() const { return Role_; }

    // Ask the running instance; true when it answered within the time-out. They wait in the
    // event loop, not by blocking the thread.
    bool AskShowDialog();
    bool AskQuit();

public slots:
    // Called over the bus.
    Q_SCRIPTABLE void ShowDialog();
    Q_SCRIPTABLE void Quit();

signals:
    void ShowRequested();
    void QuitRequested();

private:
    bool Ask(const QString& method);

    QDBusConnection Bus;
    ERole Role_ = ERole::NoBus;
    bool ObjectRegistered = false;
};

} // namespace kairelon
