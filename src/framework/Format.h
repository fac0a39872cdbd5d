// Text formatting and number conversion of the component framework.
//
// `Format` fills a pattern with arguments in the C style: %[flags][width][.precision]type with
// the types d, u, x, X, s, f and %% (so both "%s" texts of the string table and C-style
// patterns such as "%.2d" work). Unlike printf it never reads past its arguments: a missing
// argument or one of the wrong kind raises EConvertError. `StrToInt` accepts only an optional
// sign followed by decimal digits that fit 32 bits.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace kairelon {

class FormatArg {
public:
    template <typename T>
    requires std::is_integral_v<T> FormatArg(T v) : value_(static_cast<std::int64_t>(v)) {}
    FormatArg(double v) : value_(v) {}
    FormatArg(const char* v) : value_(std::string(v ? v : "")) {}
    FormatArg(std::string_view v) : value_(std::string(v)) {}
    FormatArg(const std::string& v) : value_(v) {}

    const std::variant<std::int64_t, double, std::string>& Value() const { return value_; }

private:
    std::variant<std::int64_t, double, std::string> value_;
};

std::string FormatList(std::string_view pattern, std::initializer_list<FormatArg> args);

template <typename... Args> std::string Format(std::string_view pattern, const Args&... args) {
    return FormatList(pattern, {FormatArg(args)...});
}

int StrToInt(std::string_view text); // EConvertError when not a number
bool TryStrToInt(std::string_view text, int& result);
std::string IntToStr(std::int64_t value);

} // namespace kairelon
