// Feeds arbitrary text to the reader of /etc/adjtime: it must neither crash nor read outside
// the text, and it may only say "local time" for a text that says LOCAL.
#include "platform/HardwareClock.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (kairelon::AdjtimeSaysLocal(text) && text.find("LOCAL") == std::string::npos)
        std::abort();
    return 0;
}
