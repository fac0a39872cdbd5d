#include "platform/Utf16Text.h"

#include <cstddef>
#include <cstdint>

namespace kairelon {
namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xc0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xe0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
    } else {
        out.push_back(static_cast<char>(0xf0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
    }
}

// Length of the well-formed UTF-8 sequence at text[i] (no overlong forms, no surrogates), or
// 0; cp receives its character.
size_t Utf8Sequence(std::string_view text, size_t i, std::uint32_t& cp) {
    auto at = [&](size_t k) { return static_cast<std::uint8_t>(text[k]); };
    auto cont = [&](size_t k) { return k < text.size() && (at(k) & 0xc0) == 0x80; };
    const std::uint8_t b = at(i);
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    if (b >= 0xc2 && b <= 0xdf && cont(i + 1)) {
        cp = (b & 0x1fu) << 6 | (at(i + 1) & 0x3fu);
        return 2;
    }
    if (b >= 0xe0 && b <= 0xef && cont(i + 1) && cont(i + 2)) {
        cp = (b & 0x0fu) << 12 | (at(i + 1) & 0x3fu) << 6 | (at(i + 2) & 0x3fu);
        return (cp >= 0x800 && (cp < 0xd800 || cp > 0xdfff)) ? 3 : 0;
    }
    if (b >= 0xf0 && b <= 0xf4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
        cp = (b & 0x07u) << 18 | (at(i + 1) & 0x3fu) << 12 | (at(i + 2) & 0x3fu) << 6 |
             (at(i + 3) & 0x3fu);
        return (cp >= 0x10000 && cp <= 0x10ffff) ? 4 : 0;
    }
    return 0;
}

} // namespace

std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    auto unit = [&](size_t i) -> std::uint32_t {
        auto b0 = static_cast<std::uint8_t>(bytes[2 * i]);
        auto b1 = static_cast<std::uint8_t>(bytes[2 * i + 1]);
        return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
    };
    const size_t units = bytes.size() / 2;
    std::string out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        std::uint32_t u = unit(i);
        if (u >= 0xd800 && u <= 0xdbff && i + 1 < units) {
            std::uint32_t low = unit(i + 1);
            if (low >= 0xdc00 && low <= 0xdfff) {
                AppendUtf8(out, 0x10000 + ((u - 0xd800) << 10) + (low - 0xdc00));
                ++i;
                continue;
            }
        }
        if (u >= 0xdc80 && u <= 0xdcff)
            out.push_back(static_cast<char>(u - 0xdc00));
        else
            AppendUtf8(out, u); // a lone surrogate: its UTF-8 form, escaped again on writing
    }
    return out;
}

std::string EncodeUtf16(std::string_view text, bool bigEndian) {
    std::string out;
    out.reserve(text.size() * 2);
    auto put = [&](std::uint32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xff);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    };
    for (size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        const size_t n = Utf8Sequence(text, i, cp);
        if (n == 0) { // a byte that is no UTF-8: kept as a lone surrogate
            put(0xdc00 + static_cast<std::uint8_t>(text[i]));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            put(0xd800 + ((cp - 0x10000) >> 10));
            put(0xdc00 + ((cp - 0x10000) & 0x3ff));
        } else {
            put(cp);
        }
        i += n;
    }
    return out;
}

} // namespace kairelon
