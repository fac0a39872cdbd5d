#include "sync/ServerAddress.h"

#include "framework/Format.h"

#include <algorithm>

namespace kairelon {

ServerAddress SplitServerAddress(const std::string& server) {
    ServerAddress address{server, DaytimePort, false, false};
    // A host name or an IPv4 address holds no colon, "host:port" one; two or more, or a
    // bracket, make an IPv6 address, which the last colon would cut in the wrong place.
    if (std::count(server.begin(), server.end(), ':') > 1 ||
        server.find_first_of("[]") != std::string::npos) {
        address.ipv6Literal = true;
        return address;
    }
    const std::size_t colon = server.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return address;
    }
    const std::string portText = server.substr(colon + 1);
    int port = 0;
    if (portText.empty() || portText[0] == '+' || portText[0] == '-' ||
        !TryStrToInt(portText, port) || port < 1 || port > 65535) {
        return address;
    }
    address.host = server.substr(0, colon);
    address.port = port;
    address.explicitPort = true;
    return address;
}

std::string Ipv6NotServedText(const std::string& server) {
    return "'" + server + "' is an IPv6 address: only IPv4 addresses and host names are served";
}

} // namespace kairelon
