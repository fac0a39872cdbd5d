// The wake watcher on the system bus: the login manager's PrepareForSleep(false) and
// NetworkManager reaching full connectivity.
//
// NetworkManager tells of its overall state in three ways, depending on its age: the signal
// StateChanged(u) of its manager interface, the older PropertiesChanged(a{sv}) of that
// interface, and the standard org.freedesktop.DBus.Properties.PropertiesChanged. All three are
// heard; a value counts once, when it differs from the last one heard, so the same change told
// twice is one event. Full connectivity is the state CONNECTED_GLOBAL (70) or the connectivity
// FULL (4). StateChanged is taken from any object: only the manager has that interface.
#include "platform/WakeWatcher.h"

#include "platform/linux/NetworkManagerBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QVariantMap>

namespace kairelon {
namespace {

const QString kLoginService = QStringLiteral("org.freedesktop.login1");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kLoginManagerIface = QStringLiteral("org.freedesktop.login1.Manager");

constexpr quint32 kStateConnectedGlobal = 70;
constexpr quint32 kConnectivityFull = 4;
constexpr qint64 kUnknown = -1;

class BusWakeWatcher : public QObject, public WakeWatcher {
    Q_OBJECT
public:
    BusWakeWatcher(WakeListener listener, QString name, QDBusConnection connection)
        : listener_(std::move(listener)), name_(std::move(name)),
          connection_(std::move(connection)) {}

    ~BusWakeWatcher() override {
        connection_.disconnect(kLoginService, kLoginPath, kLoginManagerIface,
                               QStringLiteral("PrepareForSleep"), this,
                               SLOT(OnPrepareForSleep(bool)));
        connection_.disconnect(nm::kService, QString(), nm::kManagerIface,
                               QStringLiteral("StateChanged"), this,
                               SLOT(OnStateChanged(QDBusMessage)));
        connection_.disconnect(nm::kService, nm::kManagerPath, nm::kManagerIface,
                               QStringLiteral("PropertiesChanged"), this,
                               SLOT(OnLegacyPropertiesChanged(QDBusMessage)));
        connection_.disconnect(nm::kService, nm::kManagerPath, nm::kPropertiesIface,
                               QStringLiteral("PropertiesChanged"), this,
                               SLOT(OnPropertiesChanged(QDBusMessage)));
        QDBusConnection::disconnectFromBus(name_);
    }

    // False when one of the subscriptions was refused.
    bool Subscribe() {
        bool ok = connection_.connect(kLoginService, kLoginPath, kLoginManagerIface,
                                      QStringLiteral("PrepareForSleep"), this,
                                      SLOT(OnPrepareForSleep(bool)));
        ok = connection_.connect(nm::kService, QString(), nm::kManagerIface,
                                 QStringLiteral("StateChanged"), this,
                                 SLOT(OnStateChanged(QDBusMessage))) &&
             ok;
        ok = connection_.connect(nm::kService, nm::kManagerPath, nm::kManagerIface,
                                 QStringLiteral("PropertiesChanged"), this,
                                 SLOT(OnLegacyPropertiesChanged(QDBusMessage))) &&
             ok;
        ok = connection_.connect(nm::kService, nm::kManagerPath, nm::kPropertiesIface,
                                 QStringLiteral("PropertiesChanged"), this,
                                 SLOT(OnPropertiesChanged(QDBusMessage))) &&
             ok;
        return ok;
    }

public slots:
    void OnPrepareForSleep(bool goingToSleep) {
        if (!goingToSleep) {
            listener_(WakeEvent::Resumed);
        }
    }

    void OnStateChanged(const QDBusMessage& signal) {
        const QVariantList args = signal.arguments();
        if (!args.isEmpty()) {
            Observe(state_, args.at(0), kStateConnectedGlobal);
        }
    }

    void OnLegacyPropertiesChanged(const QDBusMessage& signal) {
        const QVariantList args = signal.arguments();
        if (!args.isEmpty()) {
            ObserveProperties(qdbus_cast<QVariantMap>(args.at(0)));
        }
    }

    void OnPropertiesChanged(const QDBusMessage& signal) {
        const QVariantList args = signal.arguments();
        if (args.size() >= 2 && args.at(0).toString() == nm::kManagerIface) {
            ObserveProperties(qdbus_cast<QVariantMap>(args.at(1)));
        }
    }

private:
    void ObserveProperties(const QVariantMap& changed) {
        if (const auto it = changed.find(QStringLiteral("State")); it != changed.end()) {
            Observe(state_, *it, kStateConnectedGlobal);
        }
        if (const auto it = changed.find(QStringLiteral("Connectivity")); it != changed.end()) {
            Observe(connectivity_, *it, kConnectivityFull);
        }
    }

    // Records a new value; an event when it reaches `full` from anything else.
    void Observe(qint64& last, const QVariant& value, quint32 full) {
        const QVariant plain =
            value.canConvert<QDBusVariant>() ? value.value<QDBusVariant>().variant() : value;
        bool ok = false;
        const quint32 now = plain.toUInt(&ok);
        if (!ok) {
            return;
        }
        const bool reached = now == full && last != qint64{full};
        last = now;
        if (reached) {
            listener_(WakeEvent::NetworkReturned);
        }
    }

    WakeListener listener_;
    QString name_;
    QDBusConnection connection_;
    qint64 state_ = kUnknown;
    qint64 connectivity_ = kUnknown;
};

} // namespace

std::unique_ptr<WakeWatcher> LoadSystemWakeWatcher(WakeListener listener,
                                                   const WakeWatcherOptions& options) {
    const QString name = nm::UniqueConnectionName();
    QDBusConnection connection = nm::OpenBus(options.busAddress, name);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return nullptr;
    }
    auto watcher = std::make_unique<BusWakeWatcher>(std::move(listener), name, connection);
    if (!watcher->Subscribe()) {
        return nullptr;
    }
    return watcher;
}

} // namespace kairelon

#include "WakeWatcher.moc"
