// The registry-export text format: parsing and writing, independent of any file system.
#include "platform/RegistryFile.h"
#include "platform/Utf16Text.h"

#include <cstdio>

namespace kairelon {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool StartsWithText(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && SameKeyText(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads a quoted text starting at s[pos] == '"'; only \\ and \" are escapes, any other
// backslash stands for itself. On success pos is just past the closing quote.
bool ReadQuoted(std::string_view s, size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"')
        return false;
    ++pos;
    out.clear();
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"')
            return true;
        if (c == '\\' && pos < s.size() && (s[pos] == '\\' || s[pos] == '"'))
            c = s[pos++];
        out.push_back(c);
    }
    return false;
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// A comma-separated list of hex bytes; a backslash followed by a line break continues it.
bool ReadHexList(std::string_view s, std::vector<std::uint8_t>& out) {
    out.clear();
    size_t pos = 0;
    auto skipSpace = [&] {
        while (pos < s.size()) {
            char c = s[pos];
            if (IsBlank(c) || c == '\n' || c == '\r') {
                ++pos;
                continue;
            }
            if (c == '\\') {
                size_t q = pos + 1;
                while (q < s.size() && (IsBlank(s[q]) || s[q] == '\r'))
                    ++q;
                if (q == s.size() || s[q] == '\n') {
                    pos = q;
                    continue;
                }
            }
            break;
        }
    };
    skipSpace();
    if (pos == s.size())
        return true;
    while (true) {
        int value = 0, digits = 0;
        while (pos < s.size() && HexDigit(s[pos]) >= 0 && digits < 3) {
            value = value * 16 + HexDigit(s[pos]);
            ++digits;
            ++pos;
        }
        if (digits == 0 || digits > 2)
            return false;
        out.push_back(static_cast<std::uint8_t>(value));
        skipSpace();
        if (pos == s.size())
            return true;
        if (s[pos] != ',')
            return false;
        ++pos;
        skipSpace();
        if (pos == s.size()) // a list cut after its comma, as by a dangling continuation
            return true;
    }
}

std::string HexList(const std::vector<std::uint8_t>& data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < data.size(); ++i) {
        if (i)
            out.push_back(',');
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

// Parses the data part of a value line (after '=').
bool ParseData(std::string_view data, RegistryValue& value) {
    data = TrimBlanks(data);
    if (!data.empty() && data.front() == '"') {
        size_t pos = 0;
        std::string text;
        if (!ReadQuoted(data, pos, text) || !TrimBlanks(data.substr(pos)).empty())
            return false;
        value.type = REG_SZ;
        value.data.assign(text.begin(), text.end());
        return true;
    }
    if (StartsWithText(data, "dword:")) {
        std::string_view digits = TrimBlanks(data.substr(6));
        if (digits.empty() || digits.size() > 8)
            return false;
        std::uint32_t v = 0;
        for (char c : digits) {
            if (HexDigit(c) < 0)
                return false;
            v = v * 16 + static_cast<std::uint32_t>(HexDigit(c));
        }
        value.type = REG_DWORD;
        value.data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                      static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        return true;
    }
    if (StartsWithText(data, "hex:")) {
        value.type = REG_BINARY;
        return ReadHexList(data.substr(4), value.data);
    }
    if (StartsWithText(data, "hex(")) {
        size_t close = data.find("):");
        if (close == std::string_view::npos || close == 4 || close > 12)
            return false;
        std::uint32_t type = 0;
        for (char c : data.substr(4, close - 4)) {
            if (HexDigit(c) < 0)
                return false;
            type = type * 16 + static_cast<std::uint32_t>(HexDigit(c));
        }
        value.type = type;
        return ReadHexList(data.substr(close + 2), value.data);
    }
    return false;
}

// True when a value line's data is a hex list that may continue on the next line.
bool ContinuesOnNextLine(std::string_view line) {
    std::string_view t = TrimBlanks(line);
    if (t.empty() || t.back() != '\\')
        return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    return StartsWithText(TrimBlanks(t.substr(eq + 1)), "hex");
}

// True for a line that can only be the continuation of a hex list: it starts with a blank and
// holds nothing but hex digits, commas, blanks and a final backslash. A line that reads as a
// value, a key or anything else a person wrote stays a line of its own.
bool IsHexContinuation(std::string_view line) {
    if (line.empty() || !IsBlank(line.front()))
        return false;
    std::string_view t = TrimBlanks(line);
    if (!t.empty() && t.back() == '\\')
        t.remove_suffix(1);
    for (char c : t)
        if (HexDigit(c) < 0 && c != ',' && !IsBlank(c))
            return false;
    return true;
}

} // namespace

bool SameKeyText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

std::string NormaliseKeyPath(std::string_view path) {
    std::string out;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t next = path.find('\\', pos);
        if (next == std::string_view::npos)
            next = path.size();
        if (next > pos) {
            if (!out.empty())
                out.push_back('\\');
            out.append(path.substr(pos, next - pos));
        }
        pos = next + 1;
    }
    return out;
}

std::string RegistryDocument::FormatValueLine(std::string_view name, const RegistryValue& value) {
    std::string line = name.empty() ? std::string("@") : Quote(name);
    line.push_back('=');
    bool plainText = value.type == REG_SZ;
    for (std::uint8_t b : value.data)
        if (b == '\n' || b == '\r' || b == 0)
            plainText = false;
    if (plainText) {
        line += Quote(std::string(value.data.begin(), value.data.end()));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        char buf[16];
        std::uint32_t v = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                          (static_cast<std::uint32_t>(value.data[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        line += buf;
    } else if (value.type == REG_BINARY) {
        line += "hex:" + HexList(value.data);
    } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
        line += buf + HexList(value.data);
    }
    return line;
}

RegistryDocument RegistryDocument::Parse(std::string_view bytes) {
    constexpr std::string_view utf8Bom = "\xEF\xBB\xBF";
    RegistryDocument doc;
    const bool le = bytes.starts_with("\xFF\xFE"), be = bytes.starts_with("\xFE\xFF");
    const bool utf16 = le || be;
    std::string_view body = bytes;
    if (utf16) {
        doc.encoding_ = be ? RegistryEncoding::Utf16Be : RegistryEncoding::Utf16Le;
        body = bytes.substr(2);
        if (body.size() % 2) {
            doc.trailing_ = std::string(body.substr(body.size() - 1));
            body.remove_suffix(1);
        }
    } else if (bytes.starts_with(utf8Bom)) {
        doc.encoding_ = RegistryEncoding::Utf8Bom;
        body = bytes.substr(utf8Bom.size());
    }
    doc.source_ = std::make_shared<const std::string>(body);
    const std::string& source = *doc.source_;

    // Lines end at each LF (a whole unit of UTF-16: no unit of a pair is ever an LF).
    const size_t unit = utf16 ? 2 : 1;
    auto isUnit = [&](size_t at, char c) {
        if (!utf16)
            return source[at] == c;
        const char hi = source[be ? at : at + 1], lo = source[be ? at + 1 : at];
        return hi == 0 && lo == c;
    };
    std::vector<std::pair<size_t, size_t>> spans;
    bool sawLineEnd = false;
    for (size_t pos = 0, at = 0; pos < source.size(); pos = at) {
        while (at < source.size() && !isUnit(at, '\n'))
            at += unit;
        if (at < source.size()) {
            if (!sawLineEnd)
                doc.crlf_ = at > pos && isUnit(at - unit, '\r');
            sawLineEnd = true;
            at += unit;
        }
        spans.emplace_back(pos, at - pos);
    }
    // The text of each line, its line end (LF and the CRs before it) taken off.
    std::vector<std::string> decoded;
    if (utf16) {
        decoded.reserve(spans.size());
        for (const auto& [begin, size] : spans)
            decoded.push_back(DecodeUtf16(std::string_view(source).substr(begin, size), be));
    }
    std::vector<std::string_view> raw;
    raw.reserve(spans.size());
    for (size_t i = 0; i < spans.size(); ++i) {
        std::string_view line =
            utf16 ? std::string_view(decoded[i])
                  : std::string_view(source).substr(spans[i].first, spans[i].second);
        if (!line.empty() && line.back() == '\n')
            line.remove_suffix(1);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        raw.push_back(line);
    }
    doc.ParseLines(raw, spans);
    return doc;
}

void RegistryDocument::ParseLines(const std::vector<std::string_view>& raw,
                                  const std::vector<std::pair<size_t, size_t>>& spans) {
    lines_.reserve(raw.size());
    std::string section; // empty before the first section
    for (size_t i = 0; i < raw.size(); ++i) {
        const size_t first = i;
        Line line;
        line.text = std::string(raw[i]);
        std::string_view t = TrimBlanks(raw[i]);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']' && t[1] != '-' &&
            !NormaliseKeyPath(t.substr(1, t.size() - 2)).empty()) {
            line.kind = LineKind::Key;
            line.path = NormaliseKeyPath(t.substr(1, t.size() - 2));
            section = line.path;
        } else if (!t.empty() && t.front() == '[') {
            // A key line this reader does not take (a deletion "[-...]", a trailing comment,
            // a damaged path) still ends the key above it: the values under it belong to no
            // key we know and are kept as text.
            line.kind = LineKind::Bracket;
            section.clear();
        } else if (!section.empty() && !t.empty() && (t.front() == '"' || t.front() == '@')) {
            // Only a line that can be nothing but hex data continues the list, so a value or
            // key line that follows a dangling backslash is never swallowed.
            bool more = ContinuesOnNextLine(raw[i]);
            while (more && i + 1 < raw.size() && IsHexContinuation(raw[i + 1])) {
                ++i;
                line.text += '\n';
                line.text += raw[i];
                std::string_view next = TrimBlanks(raw[i]);
                more = !next.empty() && next.back() == '\\';
            }
            std::string_view whole = TrimBlanks(line.text);
            size_t p = 0;
            std::string name;
            bool named = false;
            if (whole.front() == '@') {
                p = 1;
                named = true;
            } else {
                named = ReadQuoted(whole, p, name);
            }
            while (named && p < whole.size() && IsBlank(whole[p]))
                ++p;
            if (named && p < whole.size() && whole[p] == '=') {
                line.kind = LineKind::Value;
                line.path = section;
                line.name = name;
                line.value.readable = ParseData(whole.substr(p + 1), line.value);
                if (!line.value.readable) {
                    line.value.type = REG_NONE;
                    line.value.data.clear();
                }
            }
        }
        line.rawBegin = spans[first].first;
        line.rawSize = spans[i].first + spans[i].second - line.rawBegin;
        lines_.push_back(std::move(line));
    }
}

std::string RegistryDocument::Serialize() const {
    const bool utf16 =
        encoding_ == RegistryEncoding::Utf16Le || encoding_ == RegistryEncoding::Utf16Be;
    const bool be = encoding_ == RegistryEncoding::Utf16Be;
    std::string out;
    switch (encoding_) {
    case RegistryEncoding::Utf8:
        break;
    case RegistryEncoding::Utf8Bom:
        out = "\xEF\xBB\xBF";
        break;
    case RegistryEncoding::Utf16Le:
        out = "\xFF\xFE";
        break;
    case RegistryEncoding::Utf16Be:
        out = "\xFE\xFF";
        break;
    }
    const std::string_view lineEnd = crlf_ ? "\r\n" : "\n";
    auto put = [&](std::string_view text) {
        if (utf16)
            out += EncodeUtf16(text, be);
        else
            out += text;
    };
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.rawSize > 0) {
            const std::string_view bytes =
                std::string_view(*source_).substr(line.rawBegin, line.rawSize);
            out += bytes;
            // Only the file's last line may lack its line end; it gets one when the program
            // adds a line after it.
            const std::string_view lf = !utf16 ? std::string_view("\n")
                                        : be   ? std::string_view("\0\n", 2)
                                               : std::string_view("\n\0", 2);
            const bool ended = bytes.ends_with(lf);
            if (!ended && i + 1 < lines_.size())
                put(lineEnd);
            continue;
        }
        std::string text;
        for (char c : line.text) { // continuation lines included
            if (c == '\n')
                text += lineEnd;
            else
                text.push_back(c);
        }
        text += lineEnd;
        put(text);
    }
    return out + trailing_;
}

int RegistryDocument::FindSection(std::string_view path) const {
    std::string wanted = NormaliseKeyPath(path);
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == LineKind::Key && SameKeyText(lines_[i].path, wanted))
            return static_cast<int>(i);
    return -1;
}

int RegistryDocument::FindValueLine(std::string_view path, std::string_view name) const {
    // The last line of a name wins, as when the file is imported line by line.
    std::string wanted = NormaliseKeyPath(path);
    for (size_t i = lines_.size(); i-- > 0;)
        if (lines_[i].kind == LineKind::Value && SameKeyText(lines_[i].path, wanted) &&
            SameKeyText(lines_[i].name, name))
            return static_cast<int>(i);
    return -1;
}

bool RegistryDocument::HasKey(std::string_view path) const {
    std::string wanted = NormaliseKeyPath(path);
    if (wanted.empty())
        return false;
    for (const Line& line : lines_) {
        if (line.kind != LineKind::Key)
            continue;
        if (SameKeyText(line.path, wanted))
            return true;
        if (line.path.size() > wanted.size() && line.path[wanted.size()] == '\\' &&
            SameKeyText(std::string_view(line.path).substr(0, wanted.size()), wanted))
            return true;
    }
    return false;
}

const RegistryValue* RegistryDocument::FindValue(std::string_view path,
                                                 std::string_view name) const {
    int i = FindValueLine(path, name);
    return i < 0 ? nullptr : &lines_[static_cast<size_t>(i)].value;
}

bool RegistryDocument::CanStore(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos;
}

bool RegistryDocument::AddKey(std::string_view path) {
    std::string normal = NormaliseKeyPath(path);
    if (normal.empty() || !CanStore(normal) || FindSection(normal) >= 0)
        return false;
    if (lines_.empty()) {
        lines_.push_back(Line{LineKind::Text, std::string(kHeader), {}, {}, {}});
        lines_.push_back(Line{});
    } else if (!TrimBlanks(lines_.back().text).empty()) {
        lines_.push_back(Line{});
    }
    lines_.push_back(Line{LineKind::Key, "[" + normal + "]", normal, {}, {}});
    return true;
}

bool RegistryDocument::SetValue(std::string_view path, std::string_view name,
                                const RegistryValue& value) {
    std::string normal = NormaliseKeyPath(path);
    if (normal.empty() || !CanStore(normal) || !CanStore(name))
        return false;
    int at = FindValueLine(normal, name);
    if (at >= 0) {
        Line& line = lines_[static_cast<size_t>(at)];
        if (line.value.readable && line.value.type == value.type && line.value.data == value.data)
            return false;
        line.value = value;
        line.value.readable = true;
        line.text = FormatValueLine(line.name, value);
        line.rawSize = 0; // written by the program from now on
        return true;
    }
    AddKey(normal);
    // New values go after the last non-blank line of the key's first section.
    size_t section = static_cast<size_t>(FindSection(normal));
    size_t insertAt = section + 1;
    for (size_t i = section + 1; i < lines_.size() && lines_[i].kind != LineKind::Key &&
                                 lines_[i].kind != LineKind::Bracket;
         ++i)
        if (!TrimBlanks(lines_[i].text).empty())
            insertAt = i + 1;
    Line line{LineKind::Value, FormatValueLine(name, value), normal, std::string(name), value};
    line.value.readable = true;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
    return true;
}

bool RegistryDocument::DeleteValue(std::string_view path, std::string_view name) {
    // Every line of the name goes, so that an earlier one does not come back in its place.
    bool deleted = false;
    for (int at = FindValueLine(path, name); at >= 0; at = FindValueLine(path, name)) {
        lines_.erase(lines_.begin() + at);
        deleted = true;
    }
    return deleted;
}

std::vector<std::string> RegistryDocument::KeyPaths() const {
    std::vector<std::string> out;
    for (const Line& line : lines_)
        if (line.kind == LineKind::Key)
            out.push_back(line.path);
    return out;
}

std::vector<RegistryDocument::Entry> RegistryDocument::Values() const {
    std::vector<Entry> out;
    for (const Line& line : lines_)
        if (line.kind == LineKind::Value)
            out.push_back(Entry{line.path, line.name, line.value});
    return out;
}

std::vector<std::string> RegistryDocument::KeptLines() const {
    std::vector<std::string> out;
    for (const Line& line : lines_)
        if ((line.kind == LineKind::Text || line.kind == LineKind::Bracket) &&
            !TrimBlanks(line.text).empty() && line.text != kHeader)
            out.push_back(line.text);
    return out;
}

} // namespace kairelon
