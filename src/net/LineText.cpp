#include "net/LineText.h"

#include "framework/Exception.h"

#include <QIODevice>

#include <limits>

namespace kairelon {

std::string NthWord(const std::string& text, char delimiter, int n) {
    if (text.empty() || n < 1) {
        return {};
    }
    const int begin = NthPos(text, delimiter, n - 1); // 0 for the first field
    if (begin > static_cast<int>(text.size())) {
        return {}; // fewer than n - 1 delimiters: fewer than n fields
    }
    const int end = NthPos(text, delimiter, n);
    return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin - 1));
}

int NthPos(const std::string& text, char delimiter, int n) {
    if (n < 1) {
        return 0;
    }
    int found = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == delimiter && ++found == n) {
            return static_cast<int>(i) + 1;
        }
    }
    return static_cast<int>(text.size()) + 1;
}

void StreamLn(QIODevice& stream, const std::string& text) {
    const std::string line = text + "\r\n";
    if (stream.write(line.data(), static_cast<qint64>(line.size())) !=
        static_cast<qint64>(line.size())) {
        throw EInOutError("Stream write error");
    }
}

bool LeadingReplyNumber(std::string_view reply, std::int16_t& number) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (digits < reply.size() && digits < 10 && reply[digits] >= '0' && reply[digits] <= '9') {
        value = value * 10 + (reply[digits] - '0');
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    if (value > std::numeric_limits<std::int16_t>::max()) {
        throw ERangeError("Range check error");
    }
    number = static_cast<std::int16_t>(value);
    return true;
}

} // namespace kairelon
