#include "framework/StringList.h"

#include "framework/Exception.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kairelon {

TStringList SplitLines(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    TStringList list;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            list.emplace_back(text.substr(start));
            break;
        }
        list.emplace_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return list;
}

std::string JoinLines(const TStringList& list) {
    std::string text;
    for (const std::string& line : list) {
        text += line;
        text += "\r\n";
    }
    return text;
}

TStringList LoadStringList(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(errno));
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw EFOpenError("Cannot read file \"" + path + "\"");
    }
    return SplitLines(text);
}

void SaveStringList(const std::string& path, const TStringList& list) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    }
    const std::string text = JoinLines(list);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        throw EFCreateError("Cannot write file \"" + path + "\"");
    }
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

int IndexOfText(const TStringList& list, std::string_view text) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (SameText(list[i], text)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace kairelon
