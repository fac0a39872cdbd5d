#include "platform/linux/NetworkManagerAgent.h"

#include "platform/linux/NetworkManagerBus.h"
#include "platform/linux/NetworkManagerCodes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>

namespace kairelon::nm {

bool DialSecretAgent::handleMessage(const QDBusMessage& message,
                                    const QDBusConnection& connection) {
    if (message.interface() != kAgentIface) {
        return false;
    }
    const QString member = message.member();
    if (member != QLatin1String("GetSecrets")) {
        // Cancel, save and delete: this agent keeps nothing, so there is nothing to do.
        connection.send(message.createReply());
        return true;
    }
    const QVariantList args = message.arguments();
    const QString path = args.size() > 1 ? args.at(1).value<QDBusObjectPath>().path() : QString();
    const QString setting = args.size() > 2 ? args.at(2).toString() : QString();
    const uint flags = args.size() > 4 ? args.at(4).toUInt() : 0;
    if (path != profilePath_ || setting.isEmpty() ||
        ((flags & SecretsRequestNew) != 0 && answered_.loadAcquire() != 0)) {
        connection.send(message.createErrorReply(
            QStringLiteral("org.freedesktop.NetworkManager.SecretAgent.NoSecrets"),
            QStringLiteral("No secrets for this request")));
        return true;
    }
    answered_.storeRelease(1);
    NMSettings secrets;
    QVariantMap values;
    // The service takes only secrets from an agent; the user name reaches it through the
    // profile (DialJob::ApplyUserName).
    if (setting == QLatin1String("vpn")) {
        // VPN plug-ins take their secrets as a map of strings.
        StringMap vpnSecrets;
        vpnSecrets.insert(QStringLiteral("password"), password_);
        values.insert(QStringLiteral("secrets"), QVariant::fromValue(vpnSecrets));
    } else {
        values.insert(QStringLiteral("password"), password_);
    }
    secrets.insert(setting, values);
    connection.send(message.createReply(QVariant::fromValue(secrets)));
    return true;
}

} // namespace kairelon::nm
