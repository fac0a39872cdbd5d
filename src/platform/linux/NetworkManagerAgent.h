// The secret agent of one dial.
//
// Registered on the dial's own bus connection for the time of one dial, it answers
// NetworkManager's requests for the secrets of the profile being dialled with the given
// password, once. NetworkManager takes only secrets from an agent, so the user name is not
// its business (the dial puts it into the profile). It keeps nothing and stores nothing.
#pragma once

#include <QAtomicInt>
#include <QDBusVirtualObject>
#include <QString>

namespace kairelon::nm {

// The secret agent of one dial: answers NetworkManager's requests for the secrets of the
// profile being dialled with the given password, once; a repeated request after the secrets
// were refused, or one for any other profile, gets no secrets.
class DialSecretAgent : public QDBusVirtualObject {
public:
    DialSecretAgent(QString profilePath, QString password)
        : profilePath_(std::move(profilePath)), password_(std::move(password)) {}
    ~DialSecretAgent() override { password_.fill(QChar(0)); }

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.NetworkManager.SecretAgent\">"
            "<method name=\"GetSecrets\"><arg name=\"connection\" type=\"a{sa{sv}}\" "
            "direction=\"in\"/><arg name=\"connection_path\" type=\"o\" direction=\"in\"/>"
            "<arg name=\"setting_name\" type=\"s\" direction=\"in\"/><arg name=\"hints\" "
            "type=\"as\" direction=\"in\"/><arg name=\"flags\" type=\"u\" direction=\"in\"/>"
            "<arg name=\"secrets\" type=\"a{sa{sv}}\" direction=\"out\"/></method>"
            "<method name=\"CancelGetSecrets\"><arg name=\"connection_path\" type=\"o\" "
            "direction=\"in\"/><arg name=\"setting_name\" type=\"s\" direction=\"in\"/></method>"
            "<method name=\"SaveSecrets\"><arg name=\"connection\" type=\"a{sa{sv}}\" "
            "direction=\"in\"/><arg name=\"connection_path\" type=\"o\" direction=\"in\"/>"
            "</method><method name=\"DeleteSecrets\"><arg name=\"connection\" "
            "type=\"a{sa{sv}}\" direction=\"in\"/><arg name=\"connection_path\" type=\"o\" "
            "direction=\"in\"/></method></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QString profilePath_;
    QString password_;
    QAtomicInt answered_{0};
};

} // namespace kairelon::nm
