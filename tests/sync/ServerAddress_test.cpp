// The server text as host and port: the port is split off at the last colon only when it is a
// valid port number, and an IPv6 address is recognised as one instead of being taken apart.
#include "sync/ServerAddress.h"

#include <gtest/gtest.h>

using namespace kairelon;

TEST(ServerAddress, SplitsHostAndPortAndRecognisesIpv6Addresses) {
    struct Case {
        const char* text;
        const char* host;
        int port;
        bool explicitPort;
        bool ipv6;
    };
    const Case cases[] = {
        {"time.example.org", "time.example.org", 13, false, false},
        {"127.0.0.1:1313", "127.0.0.1", 1313, true, false},
        {"host:65535", "host", 65535, true, false},
        {"host:65536", "host:65536", 13, false, false}, // no port: the whole text is the host
        {"host:0", "host:0", 13, false, false},
        {"host:+13", "host:+13", 13, false, false},
        {"host:", "host:", 13, false, false},
        {":13", ":13", 13, false, false},
        // IPv6 addresses: never "host ':' on port 1".
        {"::1", "::1", 13, false, true},
        {"[::1]:13", "[::1]:13", 13, false, true},
        {"[::1]", "[::1]", 13, false, true},
        {"fe80::1%eth0", "fe80::1%eth0", 13, false, true},
        {"2001:db8::5", "2001:db8::5", 13, false, true},
    };
    for (const Case& c : cases) {
        const ServerAddress a = SplitServerAddress(c.text);
        EXPECT_EQ(a.host, c.host) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
        EXPECT_EQ(a.explicitPort, c.explicitPort) << c.text;
        EXPECT_EQ(a.ipv6Literal, c.ipv6) << c.text;
    }
    EXPECT_EQ(Ipv6NotServedText("::1"),
              "'::1' is an IPv6 address: only IPv4 addresses and host names are served");
}
