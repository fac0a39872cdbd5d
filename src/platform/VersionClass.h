// The operating system's version record and what the platform offers.
//
// `OSVERSIONINFO` is the system's 148-byte version record; `GetVersionEx` fills it where the
// system has such a record (on Linux there is none, so it fails and the program's version
// class is 0). `PlatformOffersClockService` tells whether the clock-setting service route
// exists on this platform (on Linux: always, through kairelon-clockd). The classification
// itself is in diag/VersionClass.h.
#pragma once

#include <cstdint>

namespace kairelon {

constexpr std::uint32_t VER_PLATFORM_WIN32s = 0;
constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFO {
    std::uint32_t dwOSVersionInfoSize = 0; // bytes; the caller sets 148
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwMinorVersion = 0;
    std::uint32_t dwBuildNumber = 0;
    std::uint32_t dwPlatformId = 0; // VER_PLATFORM_...
    char szCSDVersion[128] = {};
};
static_assert(sizeof(OSVERSIONINFO) == 148);

// False when the system has no such record or the size field is not 148.
bool GetVersionEx(OSVERSIONINFO& info);
bool PlatformOffersClockService();

} // namespace kairelon
