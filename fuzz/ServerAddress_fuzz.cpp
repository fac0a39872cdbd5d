// Feeds arbitrary server texts ("CurrentServer", --server, --query) to the splitter: the host
// is always a part of the text, a port is only taken from a valid number, and an IPv6 address
// is never cut at a colon.
#include "sync/ServerAddress.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const kairelon::ServerAddress address = kairelon::SplitServerAddress(text);
    if (address.port < 1 || address.port > 65535 || text.rfind(address.host, 0) != 0) {
        std::abort();
    }
    if (address.explicitPort == (address.host == text)) {
        std::abort(); // a port is named exactly when the host is shorter than the text
    }
    if (address.ipv6Literal && (address.explicitPort || address.host != text)) {
        std::abort();
    }
    return 0;
}
