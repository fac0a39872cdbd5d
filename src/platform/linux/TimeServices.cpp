// Other time services: the process names under /proc, then the "NTP" property of the
// system's time daemon on the system bus.
#include "platform/TimeServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
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
    // Plain system calls: this runs at every start, also of the short headless commands.
    std::vector<std::string> names;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue; // not a process
        }
        const std::string path = std::string("/proc/") + entry->d_name + "/comm";
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        char comm[64];
        const ssize_t n = ::read(fd, comm, sizeof comm);
        ::close(fd);
        if (n > 0) {
            names.emplace_back(comm, comm[n - 1] == '\n' ? n - 1 : n);
        }
    }
    ::closedir(proc);
    return names;
}

// Whether a system bus may be there at all. Without one, connecting would still start the bus
// library's thread for nothing.
bool SystemBusMayBeThere() {
    if (const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS"); address && *address) {
        return true;
    }
    return ::access("/run/dbus/system_bus_socket", F_OK) == 0 ||
           ::access("/var/run/dbus/system_bus_socket", F_OK) == 0;
}

// True when the system's time daemon says its NTP service is on ("NTP service: active").
bool TimedateNtpActive(int timeoutMs) {
    if (!SystemBusMayBeThere()) {
        return false;
    }
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
