#include "sync/ServerAddress.h"

#include "framework/Format.h"

namespace kairelon {

ServerAddress SplitServerAddress(const std::string& server) {
    ServerAddress address{server, DaytimePort, false};
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

} // namespace kairelon
