// "CurrentServer" as host and port.
//
// The stored server may carry a port: "time.example.org:1313". The host part becomes the
// daytime client's Host (the name the protocol entries show), the port its Port; without a
// port, or with a text after the last colon that is no port number (1..65535), the whole text
// is the host and the port is the daytime port 13.
//
// The daytime client speaks IPv4 only: a server is an IPv4 address or a host name (whose IPv4
// address is used). An IPv6 address ("::1", "[::1]:13", "fe80::1") is not taken apart at its
// colons; it is marked `ipv6Literal`, so the caller can say that such addresses are not served
// (`Ipv6NotServedText`) instead of reporting a host ":" on port 1.
#pragma once

#include <string>

namespace kairelon {

constexpr int DaytimePort = 13;

struct ServerAddress {
    std::string host;
    int port = DaytimePort;
    bool explicitPort = false; // the text named a valid port
    bool ipv6Literal = false;  // an IPv6 address, bracketed or not: never served
};

ServerAddress SplitServerAddress(const std::string& server);

// "'<server>' is an IPv6 address: only IPv4 addresses and host names are served".
std::string Ipv6NotServedText(const std::string& server);

} // namespace kairelon
