#include "platform/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace kairelon;

TEST(SystemError, KnownNumbersGiveTheSystemTextUnknownOnesNa) {
    EXPECT_EQ(SystemErrorText(ENOENT), std::strerror(ENOENT));
    EXPECT_EQ(SystemErrorText(EPERM), std::strerror(EPERM));
    EXPECT_NE(SystemErrorText(EACCES), "n/a");
    EXPECT_EQ(SystemErrorText(99999), "n/a");
    EXPECT_EQ(SystemErrorText(0xFFFFFFFFu), "n/a");
    EXPECT_EQ(SystemErrorText(0x80000000u), "n/a");
}

TEST(SystemError, LastErrorIsTheLastFailedCall) {
    EXPECT_EQ(::open("/nonexistent/kairelon/file", O_RDONLY), -1);
    EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOENT));
}
