#include "app/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

namespace kairelon {

CSingleInstance::CSingleInstance(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), Bus(bus) {}

CSingleInstance::~CSingleInstance() {
    if (Role_ == ERole::First && Bus.isConnected())
        Bus.unregisterService(QString::fromLatin1(ServiceName));
    if (ObjectRegistered)
        Bus.unregisterObject(QString::fromLatin1(ObjectPath));
}

CSingleInstance::ERole CSingleInstance::Register() {
    if (!Bus.isConnected() || Bus.interface() == nullptr)
        return Role_ = ERole::NoBus;
    // The object first, so the name never points at nothing.
    if (!ObjectRegistered) {
        ObjectRegistered = Bus.registerObject(QString::fromLatin1(ObjectPath), this,
                                              QDBusConnection::ExportScriptableSlots);
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        Bus.interface()->registerService(QString::fromLatin1(ServiceName),
                                         QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid())
        return Role_ = ERole::NoBus;
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Role_ = ERole::First;
    if (ObjectRegistered) {
        Bus.unregisterObject(QString::fromLatin1(ObjectPath));
        ObjectRegistered = false;
    }
    return Role_ = ERole::Second;
}

bool CSingleInstance::AskShowDialog() {
    return Ask(QStringLiteral("ShowDialog"));
}

bool CSingleInstance::AskQuit() {
    return Ask(QStringLiteral("Quit"));
}

bool CSingleInstance::Ask(const QString& method) {
    if (!Bus.isConnected())
        return false;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(ServiceName), QString::fromLatin1(ObjectPath),
        QString::fromLatin1(ServiceName), method);
    QDBusPendingCallWatcher watcher(Bus.asyncCall(call, CallTimeoutMs));
    if (!watcher.isFinished()) {
        QEventLoop loop;
        connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return !watcher.isError();
}

void CSingleInstance::ShowDialog() {
    // Queued: the caller gets its answer before the dialog's own modal loop starts.
    QMetaObject::invokeMethod(this, &CSingleInstance::ShowRequested, Qt::QueuedConnection);
}

void CSingleInstance::Quit() {
    QMetaObject::invokeMethod(this, &CSingleInstance::QuitRequested, Qt::QueuedConnection);
}

} // namespace kairelon
