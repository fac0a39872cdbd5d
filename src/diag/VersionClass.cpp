#include "diag/VersionClass.h"

namespace kairelon {

int GetOsVersionClass(const VersionQuery& query) {
    OSVERSIONINFO info{};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFO);
    if (!query || !query(info))
        return 0;
    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS: // the 9x family, told apart by the minor version only
        switch (info.dwMinorVersion) {
        case 0:
            return 1;
        case 10:
            return 2;
        case 90:
            return 8;
        default:
            return 0;
        }
    case VER_PLATFORM_WIN32s:
        return 5;
    case VER_PLATFORM_WIN32_NT: // the NT family, told apart by the major version only
        switch (info.dwMajorVersion) {
        case 3:
            return 7;
        case 4:
            return 3;
        case 5:
            return 6;
        default:
            return 0;
        }
    default:
        return 0;
    }
}

int GetOsVersionClass() {
    return GetOsVersionClass([](OSVERSIONINFO& info) { return GetVersionEx(info); });
}

bool ClockServiceOptionAvailable(int versionClass, bool platformRoute) {
    return versionClass == 3 || versionClass == 6 || platformRoute;
}

bool ClockServiceOptionAvailable() {
    return ClockServiceOptionAvailable(GetOsVersionClass(), PlatformOffersClockService());
}

} // namespace kairelon
