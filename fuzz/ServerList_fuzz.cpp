// Feeds arbitrary file contents to the server list reader: no entry may hold a line break or a
// NUL, and writing the list and reading it back must give the same list.
#include "framework/StringList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const kairelon::TStringList list = kairelon::SplitLines(text);
    for (const std::string& entry : list) {
        if (entry.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            std::abort();
        }
    }
    if (kairelon::SplitLines(kairelon::JoinLines(list)) != list) {
        std::abort();
    }
    return 0;
}
