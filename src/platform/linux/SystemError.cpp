#include "platform/SystemError.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace kairelon {

std::uint32_t GetLastError() {
    return static_cast<std::uint32_t>(errno);
}

std::string SystemErrorText(std::uint32_t code) {
    if (code > static_cast<std::uint32_t>(INT_MAX))
        return "n/a";
    int error = static_cast<int>(code);
    // Unknown numbers have no description; strerror would invent "Unknown error N".
    if (strerrordesc_np(error) == nullptr)
        return "n/a";
    char buffer[255];
    const char* text = strerror_r(error, buffer, sizeof buffer - 1);
    return text && *text ? std::string(text) : std::string("n/a");
}

} // namespace kairelon
