#include "platform/linux/NetworkManagerBus.h"

#include <QDBusMetaType>

#include <atomic>
#include <mutex>

namespace kairelon::nm {

void RegisterTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<NMSettings>();
        qDBusRegisterMetaType<StringMap>();
    });
}

QDBusConnection OpenBus(const std::string& address, const QString& name) {
    if (address.empty()) {
        return QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
    }
    return QDBusConnection::connectToBus(QString::fromStdString(address), name);
}

QString UniqueConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("kairelon-dialup-%1").arg(++counter);
}

} // namespace kairelon::nm
