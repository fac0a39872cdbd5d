// Other time services: the process names under /proc, then the "NTP" property of the
// system's time daemon on the system bus.
#include "platform/TimeServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>

#include <utility>

namespace kairelon {

std::string KnownTimeDaemon(const std::vector<std::string>& processNames) {
    // comm holds at most 15 characters: "systemd-timesyncd" shows as "systemd-timesyn".
    static const std::pair<const char*, const char*> kKnown[] = {
        {"systemd-timesyn", "systemd-timesyncd"},
        {"chronyd", "chronyd"},
        {"ntpd", "ntpd"},
        {"openntpd", "openntpd"},
        {"ntpsec", "ntpd"},
    };
    for (const std::string& name : processNames) {
        for (const auto& [comm, program] : kKnown) {
            if (name == comm) {
                return program;
            }
        }
    }
    return {};
}

namespace {

std::vector<std::string> ProcessNames() {
    std::vector<std::string> names;
    const QDir proc("/proc");
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        entry.toLong(&isPid);
        if (!isPid) {
            continue;
        }
        QFile comm("/proc/" + entry + "/comm");
        if (comm.open(QIODevice::ReadOnly)) {
            names.push_back(comm.readAll().trimmed().toStdString());
        }
    }
    return names;
}

// True when the system's time daemon says its NTP service is on ("NTP service: active").
bool TimedateNtpActive(int timeoutMs) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.timedate1", "/org/freedesktop/timedate1",
                                       "org.freedesktop.DBus.Properties", "Get");
    call << QString("org.freedesktop.timedate1") << QString("NTP");
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

} // namespace

std::string OtherTimeService(int busTimeoutMs) {
    const std::string daemon = KnownTimeDaemon(ProcessNames());
    if (!daemon.empty()) {
        return daemon;
    }
    return TimedateNtpActive(busTimeoutMs) ? "NTP service: active" : std::string();
}

} // namespace kairelon
