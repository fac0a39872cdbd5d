// NetworkManager on D-Bus as the dial-up layer reaches it: names, types and blocking calls.
//
// The object paths and interface names the layer uses, the settings types of profiles
// (a{sa{sv}}, a{ss}) with their registration, the opening of a private bus connection, and
// `Bus`, the blocking call with a bounded wait that every part of the layer uses. Calls never
// start the service and never handle events of the calling thread.
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>

#include <string>
#include <utility>
#include <vector>

namespace kairelon::nm {

using NMSettings = QMap<QString, QVariantMap>; // a{sa{sv}}
using StringMap = QMap<QString, QString>;      // a{ss}

inline const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
inline const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
inline const QString kManagerIface = QStringLiteral("org.freedesktop.NetworkManager");
inline const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
inline const QString kSettingsIface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
inline const QString kProfileIface =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
inline const QString kActiveIface =
    QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
inline const QString kDeviceIface = QStringLiteral("org.freedesktop.NetworkManager.Device");
inline const QString kAgentManagerPath =
    QStringLiteral("/org/freedesktop/NetworkManager/AgentManager");
inline const QString kAgentManagerIface =
    QStringLiteral("org.freedesktop.NetworkManager.AgentManager");
inline const QString kAgentPath = QStringLiteral("/org/freedesktop/NetworkManager/SecretAgent");
inline const QString kAgentIface = QStringLiteral("org.freedesktop.NetworkManager.SecretAgent");
inline const QString kPropertiesIface = QStringLiteral("org.freedesktop.DBus.Properties");
inline const QString kIntrospectableIface = QStringLiteral("org.freedesktop.DBus.Introspectable");

// Registers the settings types with Qt D-Bus; safe to call from any thread, any number of times.
void RegisterTypes();
// A private connection (named `name`) to the bus at `address`; the system bus when empty.
QDBusConnection OpenBus(const std::string& address, const QString& name);
// A connection name not used before in this process.
QString UniqueConnectionName();

// Blocking bus calls with a bounded wait; they handle no events of the calling thread.
class Bus {
public:
    Bus(QDBusConnection connection, int timeoutMs)
        : connection_(std::move(connection)), timeoutMs_(timeoutMs) {}

    QDBusMessage Call(const QString& path, const QString& iface, const QString& method,
                      const QVariantList& args = {}) const {
        QDBusMessage msg = QDBusMessage::createMethodCall(kService, path, iface, method);
        msg.setArguments(args);
        // Asking must not start the service: where it is not running, there is no dial-up.
        msg.setAutoStartService(false);
        return connection_.call(msg, QDBus::Block, timeoutMs_);
    }

    // A property's value; invalid when it could not be read (`reply` tells why).
    QVariant Property(const QString& path, const QString& iface, const QString& name,
                      QDBusMessage* reply = nullptr) const {
        const QDBusMessage r = Call(path, kPropertiesIface, QStringLiteral("Get"), {iface, name});
        if (reply) {
            *reply = r;
        }
        if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) {
            return {};
        }
        return r.arguments().at(0).value<QDBusVariant>().variant();
    }

    static QList<QDBusObjectPath> Paths(const QVariant& value) {
        if (value.canConvert<QDBusArgument>()) {
            return qdbus_cast<QList<QDBusObjectPath>>(value.value<QDBusArgument>());
        }
        return value.value<QList<QDBusObjectPath>>();
    }

    // The profiles by path with their names, in the service's order. False when the service
    // did not answer.
    bool Profiles(std::vector<std::pair<QString, std::string>>& profiles) const {
        profiles.clear();
        const QDBusMessage list =
            Call(kSettingsPath, kSettingsIface, QStringLiteral("ListConnections"));
        if (list.type() != QDBusMessage::ReplyMessage || list.arguments().isEmpty()) {
            return false;
        }
        for (const QDBusObjectPath& path : Paths(list.arguments().at(0))) {
            const QDBusMessage settings =
                Call(path.path(), kProfileIface, QStringLiteral("GetSettings"));
            if (settings.type() != QDBusMessage::ReplyMessage || settings.arguments().isEmpty()) {
                continue; // removed meanwhile or not visible to this user
            }
            const NMSettings map = qdbus_cast<NMSettings>(settings.arguments().at(0));
            const QString id =
                map.value(QStringLiteral("connection")).value(QStringLiteral("id")).toString();
            profiles.emplace_back(path.path(), id.toStdString());
        }
        return true;
    }

    const QDBusConnection& Connection() const { return connection_; }

private:
    QDBusConnection connection_;
    int timeoutMs_;
};

} // namespace kairelon::nm
