// Other time services on this machine.
//
// When another program keeps the system clock (systemd-timesyncd, chronyd, ntpd, or whatever
// the system's time daemon reports as its NTP service), it undoes or fights every set by
// Kairelon. `OtherTimeService` looks for one, so the program can say so; it changes nothing and
// never refuses anything. It looks at the running processes first, then asks the system's
// time daemon on the system bus (org.freedesktop.timedate1, property "NTP") within a short
// time-out, so a machine without a bus or without an answer costs no more than that.
// `KnownTimeDaemon` is the pure part, the names it knows.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kairelon {

// The first of `processNames` (as /proc/<pid>/comm gives them, cut to 15 characters) that is
// a known time daemon, as its program name; empty when none is.
std::string KnownTimeDaemon(const std::vector<std::string>& processNames);

// A name for the other time service keeping this clock ("chronyd", "systemd-timesyncd",
// "NTP service: active"), or empty when none was found. Waits at most `busTimeoutMs` for the
// system bus.
std::string OtherTimeService(int busTimeoutMs = 500);

// How the program looks for another time service; tests put a fake in its place.
using TimeServiceProbe = std::function<std::string()>;

} // namespace kairelon
