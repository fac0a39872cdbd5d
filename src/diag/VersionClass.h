// The version class of the running system and whether the service option can be offered.
//
// `GetOsVersionClass` classifies the system's version record into a code: 0 unknown (or the
// query failed), 1 Windows 95, 2 Windows 98, 8 Windows Me, 5 Win32s, 7 Windows NT 3.x,
// 3 Windows NT 4.0, 6 Windows 2000 and XP; 4 is never given. The query is injectable so every
// row can be checked; on Linux it fails and the code is 0. `ClockServiceOptionAvailable`
// decides whether the dialog may offer the clock-setting service: on codes 3 and 6, and
// wherever the platform provides the service route.
#pragma once

#include "platform/VersionClass.h"

#include <functional>

namespace kairelon {

// Gets a record whose size field is set to 148 and all else zero; false when it fails.
using VersionQuery = std::function<bool(OSVERSIONINFO&)>;

int GetOsVersionClass();
int GetOsVersionClass(const VersionQuery& query);

// platformRoute: whether the platform provides the service route (PlatformOffersClockService).
bool ClockServiceOptionAvailable(int versionClass, bool platformRoute);
bool ClockServiceOptionAvailable(); // for the running system

} // namespace kairelon
