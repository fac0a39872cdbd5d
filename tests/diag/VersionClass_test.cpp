#include "diag/VersionClass.h"

#include <gtest/gtest.h>

using namespace kairelon;

namespace {

VersionQuery Reports(std::uint32_t platform, std::uint32_t major, std::uint32_t minor) {
    return [=](OSVERSIONINFO& info) {
        // The query gets a zeroed record with its size set.
        EXPECT_EQ(info.dwOSVersionInfoSize, 148u);
        EXPECT_EQ(info.dwMajorVersion, 0u);
        EXPECT_EQ(info.dwPlatformId, 0u);
        info.dwPlatformId = platform;
        info.dwMajorVersion = major;
        info.dwMinorVersion = minor;
        return true;
    };
}

} // namespace

TEST(VersionClass, EveryRowOfTheTable) {
    EXPECT_EQ(GetOsVersionClass(Reports(1, 4, 0)), 1);  // Windows 95
    EXPECT_EQ(GetOsVersionClass(Reports(1, 4, 10)), 2); // Windows 98
    EXPECT_EQ(GetOsVersionClass(Reports(1, 4, 90)), 8); // Windows Me
    EXPECT_EQ(GetOsVersionClass(Reports(1, 4, 20)), 0); // another 9x minor version
    EXPECT_EQ(GetOsVersionClass(Reports(1, 9, 10)), 2); // 9x: the major version is not looked at
    EXPECT_EQ(GetOsVersionClass(Reports(0, 3, 11)), 5); // Win32s, any version
    EXPECT_EQ(GetOsVersionClass(Reports(0, 0, 0)), 5);
    EXPECT_EQ(GetOsVersionClass(Reports(2, 3, 51)), 7); // NT 3.x
    EXPECT_EQ(GetOsVersionClass(Reports(2, 4, 0)), 3);  // NT 4.0
    EXPECT_EQ(GetOsVersionClass(Reports(2, 5, 0)), 6);  // 2000
    EXPECT_EQ(GetOsVersionClass(Reports(2, 5, 1)), 6);  // XP: the minor version is not looked at
    EXPECT_EQ(GetOsVersionClass(Reports(2, 6, 0)), 0);  // NT 6 and later are unknown
    EXPECT_EQ(GetOsVersionClass(Reports(2, 10, 0)), 0);
    EXPECT_EQ(GetOsVersionClass(Reports(3, 4, 0)), 0); // another platform
    EXPECT_EQ(GetOsVersionClass([](OSVERSIONINFO& info) {
                  info.dwPlatformId = 2;
                  info.dwMajorVersion = 4;
                  return false; // a failed query counts, whatever it left in the record
              }),
              0);
    EXPECT_EQ(GetOsVersionClass(VersionQuery()), 0);
}

TEST(VersionClass, ThisSystemIsUnknownButOffersTheService) {
    OSVERSIONINFO info{};
    info.dwOSVersionInfoSize = 148;
    EXPECT_FALSE(GetVersionEx(info));
    EXPECT_EQ(GetOsVersionClass(), 0);
    EXPECT_TRUE(ClockServiceOptionAvailable());
    // Without the platform's service route only NT 4.0 and 2000/XP offer it.
    for (int code = 0; code <= 8; ++code)
        EXPECT_EQ(ClockServiceOptionAvailable(code, false), code == 3 || code == 6) << code;
    EXPECT_TRUE(ClockServiceOptionAvailable(0, true));
}
