// The table of socket error numbers: which number a system error becomes, and that every
// number the sockets layer can report has its text.
#include "platform/SocketErrors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

using namespace kairelon::sock;

namespace {

const SocketErrorEntry* RowOf(int number) {
    for (const SocketErrorEntry& entry : SocketErrorTable) {
        if (entry.Number == number) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

TEST(SocketErrors, SystemErrorsBecomeTheTablesNumbers) {
    const struct {
        int errnoValue;
        int number;
    } cases[] = {
        {0, 0},
        {EINTR, WSAEINTR},
        {EACCES, WSAEACCES},
        {EPERM, WSAEACCES},
        {EMFILE, WSAEMFILE},
        {ENFILE, WSAEMFILE},
        {EAGAIN, WSAEWOULDBLOCK},
        {EWOULDBLOCK, WSAEWOULDBLOCK},
        {EINPROGRESS, WSAEINPROGRESS},
        {ENOTSOCK, WSAENOTSOCK},
        {EADDRINUSE, WSAEADDRINUSE},
        {ECONNRESET, WSAECONNRESET},
        {ENOMEM, WSAENOBUFS},
        {EPIPE, WSAESHUTDOWN},
        {ETIMEDOUT, WSAETIMEDOUT},
        {ECONNREFUSED, WSAECONNREFUSED},
        {EHOSTUNREACH, WSAEHOSTUNREACH},
        {EREMOTE, WSAEREMOTE},
        {ENOENT, UnknownSystemErrorBase + ENOENT},
        {300, UnknownSystemErrorBase + 300},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WSAErrorFromErrno(c.errnoValue), c.number) << "errno " << c.errnoValue;
    }
}

TEST(SocketErrors, EveryNumberASystemErrorBecomesHasOneRowWithItsText) {
    std::set<int> numbers;
    for (const SocketErrorEntry& entry : SocketErrorTable) {
        EXPECT_TRUE(numbers.insert(entry.Number).second) << "twice: " << entry.Number;
        EXPECT_FALSE(std::string(entry.Text).empty()) << entry.Number;
    }
    EXPECT_EQ(SocketErrorTable[SocketErrorCount - 1].Number, 0) << "the unknown numbers' text";
    for (int value = 1; value < 256; ++value) {
        const int number = WSAErrorFromErrno(value);
        if (number != UnknownSystemErrorBase + value) {
            const SocketErrorEntry* row = RowOf(number);
            ASSERT_NE(row, nullptr) << "errno " << value << " → " << number;
            EXPECT_TRUE(row->SystemErrors[0] == value || row->SystemErrors[1] == value)
                << "errno " << value << " is not in the row of " << number;
        }
    }
}
