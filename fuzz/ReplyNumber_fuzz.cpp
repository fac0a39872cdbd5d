// Feeds arbitrary reply lines to the reply-number reader and the field helpers: they must
// never read outside the text, and their results must agree with each other.
#include "framework/Exception.h"
#include "net/LineText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::int16_t number = -1;
    try {
        if (kairelon::LeadingReplyNumber(text, number) && number < 0) {
            std::abort(); // digits never give a negative number
        }
    } catch (const kairelon::ERangeError&) {
    }
    const char delimiter = size > 0 ? text[0] : ',';
    for (int n = 0; n < 4; ++n) {
        const int pos = kairelon::NthPos(text, delimiter, n);
        if (pos < 0 || pos > static_cast<int>(size) + 1) {
            std::abort();
        }
        if (kairelon::NthWord(text, delimiter, n).size() > size) {
            std::abort();
        }
    }
    return 0;
}
