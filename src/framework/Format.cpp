#include "framework/Format.h"

#include "framework/Exception.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace kairelon {
namespace {

[[noreturn]] void Invalid(std::string_view pattern) {
    throw EConvertError("Format '" + std::string(pattern) +
                        "' invalid or incompatible with argument");
}

} // namespace

std::string FormatList(std::string_view pattern, std::initializer_list<FormatArg> args) {
    std::string out;
    auto next = args.begin();
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i++];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i < pattern.size() && pattern[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // Collect the conversion and hand a checked, bounded one to snprintf.
        std::string conversion = "%";
        while (i < pattern.size() &&
               std::string_view("-+ #0").find(pattern[i]) != std::string_view::npos) {
            conversion += pattern[i++];
        }
        auto digits = [&] {
            std::size_t n = 0;
            while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9' && n < 3) {
                conversion += pattern[i++];
                ++n;
            }
        };
        digits();
        if (i < pattern.size() && pattern[i] == '.') {
            conversion += pattern[i++];
            digits();
        }
        if (i >= pattern.size() || next == args.end()) {
            Invalid(pattern);
        }
        const char type = pattern[i++];
        const auto& value = next->Value();
        ++next;
        char buffer[1200];
        int n = 0;
        switch (type) {
        case 'd':
        case 'u':
        case 'x':
        case 'X': {
            if (!std::holds_alternative<std::int64_t>(value)) {
                Invalid(pattern);
            }
            conversion += type == 'd' ? "lld" : type == 'u' ? "llu" : type == 'x' ? "llx" : "llX";
            const auto v = std::get<std::int64_t>(value);
            n = type == 'd'
                    ? std::snprintf(buffer, sizeof buffer, conversion.c_str(), static_cast<long long>(v))
                    : std::snprintf(buffer, sizeof buffer, conversion.c_str(),
                                    static_cast<unsigned long long>(v));
            break;
        }
        case 'f': {
            if (!std::holds_alternative<double>(value)) {
                Invalid(pattern);
            }
            conversion += 'f';
            n = std::snprintf(buffer, sizeof buffer, conversion.c_str(), std::get<double>(value));
            break;
        }
        case 's': {
            if (!std::holds_alternative<std::string>(value)) {
                Invalid(pattern);
            }
            conversion += 's';
            const std::string& s = std::get<std::string>(value);
            // Width and precision stay below 1000, so only the text itself can be long.
            if (conversion == "%s") {
                out += s;
                continue;
            }
            const int needed = std::snprintf(nullptr, 0, conversion.c_str(), s.c_str());
            std::string piece(static_cast<std::size_t>(needed > 0 ? needed : 0) + 1, '\0');
            std::snprintf(piece.data(), piece.size(), conversion.c_str(), s.c_str());
            piece.resize(piece.size() - 1);
            out += piece;
            continue;
        }
        default:
            Invalid(pattern);
        }
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(std::min<int>(n, sizeof buffer - 1)));
        }
    }
    return out;
}

bool TryStrToInt(std::string_view text, int& result) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<std::int64_t>(std::numeric_limits<int>::max()) + 1) {
            return false;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int>::max()) {
        return false;
    }
    result = static_cast<int>(value);
    return true;
}

int StrToInt(std::string_view text) {
    int result = 0;
    if (!TryStrToInt(text, result)) {
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    }
    return result;
}

std::string IntToStr(std::int64_t value) {
    return std::to_string(value);
}

} // namespace kairelon
