// "CurrentServer" as host and port.
//
// The stored server may carry a port: "time.example.org:1313". The host part becomes the
// daytime client's Host (the name the protocol entries show), the port its Port; without a
// port, or with a text after the last colon that is no port number (1..65535), the whole text
// is the host and the port is the daytime port 13.
#pragma once

#include <string>

namespace kairelon {

constexpr int DaytimePort = 13;

struct ServerAddress {
    std::string host;
    int port = DaytimePort;
    bool explicitPort = false; // the text named a valid port
};

ServerAddress SplitServerAddress(const std::string& server);

} // namespace kairelon
