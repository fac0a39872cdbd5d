#include "framework/Conversions.h"

#include "framework/Exception.h"

#include <QDate>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

namespace kairelon {
namespace {

std::mutex settingsMutex;
std::optional<TFormatSettings> replaced; // guarded by settingsMutex

char AsciiOr(const QString& text, char fallback) {
    return text.size() == 1 && text[0].unicode() < 0x80 ? static_cast<char>(text[0].unicode())
                                                        : fallback;
}

// The locale's short date as d/m/y letters, when it is made of day, month and year numbers
// and one separator only.
std::optional<std::pair<std::string, char>> ShortDateOf(const QLocale& locale) {
    const QString qt = locale.dateFormat(QLocale::ShortFormat);
    std::string pattern;
    char separator = 0;
    for (const QChar c : qt) {
        const char16_t u = c.unicode();
        if (u == 'd' || u == 'M' || u == 'y') {
            pattern += static_cast<char>(u == 'M' ? 'm' : u);
        } else if (u < 0x80 && u != '\'' && !QChar(u).isLetterOrNumber() && u != ' ') {
            if (separator != 0 && separator != static_cast<char>(u)) {
                return std::nullopt;
            }
            separator = static_cast<char>(u);
            pattern += separator;
        } else {
            return std::nullopt;
        }
    }
    // Day and month of at most two letters, one year, each once.
    for (const char* part : {"ddd", "mmm"}) {
        if (pattern.find(part) != std::string::npos) {
            return std::nullopt;
        }
    }
    if (separator == 0 || pattern.find('d') == std::string::npos ||
        pattern.find('m') == std::string::npos || pattern.find('y') == std::string::npos) {
        return std::nullopt;
    }
    return std::make_pair(pattern, separator);
}

TFormatSettings UsersSettings() {
    const QLocale locale = QLocale::system();
    TFormatSettings settings;
    const char decimal = AsciiOr(locale.decimalPoint(), 0);
    const char group = AsciiOr(locale.groupSeparator(), 0);
    if (decimal != 0 && decimal != group) {
        settings.DecimalSeparator = decimal;
        settings.ThousandSeparator = group != 0 ? group : decimal == ',' ? '.' : ',';
    }
    if (const auto date = ShortDateOf(locale)) {
        settings.ShortDateFormat = date->first;
        settings.DateSeparator = date->second;
    }
    return settings;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

// A decimal number as read: its value is `digits` times ten to the power `exponent`.
struct Decimal {
    bool negative = false;
    std::string digits; // without leading zeros
    long exponent = 0;
};

std::optional<Decimal> ParseDecimal(std::string_view text, char separator) {
    text = Trim(text);
    Decimal d;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        d.negative = text[i++] == '-';
    }
    bool anyDigit = false;
    bool afterPoint = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            anyDigit = true;
            if (!(d.digits.empty() && c == '0')) {
                d.digits += c;
            }
            if (afterPoint) {
                --d.exponent;
            }
        } else if (c == separator && !afterPoint) {
            afterPoint = true;
        } else {
            break;
        }
    }
    if (!anyDigit) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i++] == '-';
        }
        if (i == text.size()) {
            return std::nullopt;
        }
        long exponent = 0;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return std::nullopt;
            }
            exponent = std::min(exponent * 10 + (text[i] - '0'), 100000L);
        }
        d.exponent += negativeExponent ? -exponent : exponent;
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return d;
}

[[noreturn]] void NotA(std::string_view what, std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' is not a valid " + std::string(what));
}

// The shortest of the '%.Ng' forms for N in [first, last] that `accept` takes, in the
// framework's style: the user's decimal separator, "E" exponents without padding.
template <typename Accept>
std::string General(long double value, int first, int last, Accept accept) {
    char buffer[64];
    for (int precision = first; precision <= last; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*Lg", precision, value);
        if (precision == last || accept(buffer)) {
            break;
        }
    }
    std::string text(buffer);
    const std::size_t e = text.find('e');
    std::string exponent;
    if (e != std::string::npos) {
        const bool negative = text[e + 1] == '-';
        std::string digits = text.substr(e + 2);
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
        exponent = std::string("E") + (negative ? "-" : "") + digits;
        text.resize(e);
    }
    std::replace(text.begin(), text.end(), '.', FormatSettings().DecimalSeparator);
    return text + exponent;
}

// A numeric picture, one section of it.
struct Picture {
    std::string prefix, suffix; // literal text before the first and after the first placeholder
    int integerZeros = 0;       // '0' placeholders before the decimal point
    int decimalZeros = 0;       // '0' placeholders after it
    int decimalPlaces = 0;      // '0' and '#' placeholders after it
    bool thousands = false;
    bool scientific = false;
    bool exponentSign = false; // E+: always a sign; E-: only a minus
    int exponentDigits = 0;
};

std::vector<std::string> Sections(std::string_view picture) {
    std::vector<std::string> sections(1);
    char quote = 0;
    for (const char c : picture) {
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ';') {
            sections.emplace_back();
            continue;
        }
        sections.back() += c;
    }
    return sections;
}

Picture ParsePicture(const std::string& section) {
    Picture p;
    bool placeholderSeen = false;
    bool afterPoint = false;
    auto literal = [&](char c) { (placeholderSeen ? p.suffix : p.prefix) += c; };
    for (std::size_t i = 0; i < section.size(); ++i) {
        const char c = section[i];
        if (c == '\'' || c == '"') {
            const std::size_t end = section.find(c, i + 1);
            const std::size_t stop = end == std::string::npos ? section.size() : end;
            for (std::size_t j = i + 1; j < stop; ++j) {
                literal(section[j]);
            }
            i = stop;
        } else if ((c == '0' || c == '#') && !p.scientific) {
            placeholderSeen = true;
            if (afterPoint) {
                ++p.decimalPlaces;
                p.decimalZeros = c == '0' ? p.decimalPlaces : p.decimalZeros;
            } else if (c == '0') {
                ++p.integerZeros;
            }
        } else if (c == '.' && !afterPoint && !p.scientific) {
            afterPoint = true;
            placeholderSeen = true;
        } else if (c == ',' && !p.scientific) {
            p.thousands = true;
        } else if ((c == 'E' || c == 'e') && placeholderSeen && !p.scientific &&
                   i + 1 < section.size() && (section[i + 1] == '+' || section[i + 1] == '-')) {
            p.scientific = true;
            p.exponentSign = section[++i] == '+';
            while (i + 1 < section.size() && section[i + 1] == '0') {
                ++p.exponentDigits;
                ++i;
            }
        } else {
            literal(c);
        }
    }
    return p;
}

std::string Group(const std::string& digits) {
    std::string out;
    const char separator = FormatSettings().ThousandSeparator;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += separator;
        }
        out += digits[i];
    }
    return out;
}

// `magnitude` (not negative) with `places` decimals and a '.', rounded half away from zero.
std::string Fixed(long double magnitude, int places) {
    const long double scaled = std::round(magnitude * std::pow(10.0L, places));
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%.0Lf", scaled);
    std::string digits(buffer);
    if (places == 0) {
        return digits;
    }
    if (static_cast<int>(digits.size()) <= places) {
        digits.insert(0, static_cast<std::size_t>(places) + 1 - digits.size(), '0');
    }
    digits.insert(digits.size() - static_cast<std::size_t>(places), ".");
    return digits;
}

// `magnitude` is not negative; the sign is written by the caller.
std::string FillPicture(const Picture& p, long double magnitude) {
    std::string text, integer, fraction, exponent;
    if (p.scientific) {
        const int leading = std::max(1, p.integerZeros);
        int power = magnitude == 0 ? 0 : static_cast<int>(std::floor(std::log10(magnitude)));
        power -= leading - 1;
        long double mantissa = magnitude / std::pow(10.0L, power);
        text = Fixed(mantissa, p.decimalPlaces);
        if (text.find('.') > static_cast<std::size_t>(leading) &&
            text.size() > static_cast<std::size_t>(leading)) {
            ++power; // rounding carried into one more leading digit
            mantissa = magnitude / std::pow(10.0L, power);
            text = Fixed(mantissa, p.decimalPlaces);
        }
        std::string digits = std::to_string(std::abs(power));
        if (static_cast<int>(digits.size()) < p.exponentDigits) {
            digits.insert(0, static_cast<std::size_t>(p.exponentDigits) - digits.size(), '0');
        }
        exponent = std::string("E") + (power < 0 ? "-" : p.exponentSign ? "+" : "") + digits;
    } else {
        text = Fixed(magnitude, p.decimalPlaces);
    }
    const std::size_t point = text.find('.');
    integer = text.substr(0, point);
    fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
    while (static_cast<int>(fraction.size()) > p.decimalZeros && !fraction.empty() &&
           fraction.back() == '0') {
        fraction.pop_back();
    }
    if (integer == "0" && p.integerZeros == 0) {
        integer.clear();
    }
    if (static_cast<int>(integer.size()) < p.integerZeros) {
        integer.insert(0, static_cast<std::size_t>(p.integerZeros) - integer.size(), '0');
    }
    if (p.thousands && !p.scientific) {
        integer = Group(integer);
    }
    std::string number = integer;
    if (!fraction.empty()) {
        number += FormatSettings().DecimalSeparator + fraction;
    }
    return p.prefix + number + exponent + p.suffix;
}

std::string FormatNumber(std::string_view picture, long double value, const std::string& general) {
    const std::vector<std::string> sections = Sections(picture);
    if (picture.empty() || !std::isfinite(value)) {
        return general;
    }
    std::size_t chosen = 0;
    if (value < 0 && sections.size() >= 2 && !sections[1].empty()) {
        chosen = 1;
    } else if (value == 0 && sections.size() >= 3 && !sections[2].empty()) {
        chosen = 2;
    }
    const Picture p = ParsePicture(sections[chosen]);
    const long double magnitude = std::fabs(value);
    if (!p.scientific && magnitude >= 1e18L) {
        return general; // too long for a fixed picture
    }
    std::string text = FillPicture(p, magnitude);
    // One section: a negative value gets a minus, unless it rounds to zero.
    if (value < 0 && chosen == 0 && text.find_first_of("123456789") != std::string::npos) {
        text.insert(0, "-");
    }
    return text;
}

} // namespace

TFormatSettings FormatSettings() {
    static const TFormatSettings users = UsersSettings();
    const std::lock_guard lock(settingsMutex);
    return replaced ? *replaced : users;
}

void SetFormatSettings(const TFormatSettings& settings) {
    const std::lock_guard lock(settingsMutex);
    replaced = settings;
}

void ResetFormatSettings() {
    const std::lock_guard lock(settingsMutex);
    replaced.reset();
}

double StrToFloat(std::string_view text) {
    const auto d = ParseDecimal(text, FormatSettings().DecimalSeparator);
    if (!d) {
        NotA("floating point value", text);
    }
    if (d->digits.empty()) {
        return d->negative ? -0.0 : 0.0;
    }
    if (static_cast<long>(d->digits.size()) + d->exponent < -400) {
        return d->negative ? -0.0 : 0.0; // below the smallest number: zero
    }
    const std::string plain = d->digits + "e" + std::to_string(d->exponent);
    double value = 0;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) {
        NotA("floating point value", text);
    }
    return d->negative ? -value : value;
}

Currency StrToCurr(std::string_view text) {
    const auto d = ParseDecimal(text, FormatSettings().DecimalSeparator);
    if (!d) {
        NotA("floating point value", text);
    }
    // digits * 10^(exponent + 4), rounded half away from zero, in 128 bits.
    const long shift = d->exponent + 4;
    const long kept = static_cast<long>(d->digits.size()) + std::min(shift, 0L);
    if (kept > 20 || (shift > 0 && static_cast<long>(d->digits.size()) + shift > 20)) {
        NotA("floating point value", text);
    }
    __int128 value = 0;
    for (long i = 0; i < std::max(kept, 0L); ++i) {
        value = value * 10 + (d->digits[static_cast<std::size_t>(i)] - '0');
    }
    for (long i = 0; i < shift; ++i) {
        value *= 10;
    }
    if (kept >= 0 && kept < static_cast<long>(d->digits.size()) &&
        d->digits[static_cast<std::size_t>(kept)] >= '5') {
        ++value;
    }
    if (value > std::numeric_limits<Currency>::max()) {
        NotA("floating point value", text);
    }
    const auto magnitude = static_cast<Currency>(value);
    return d->negative ? -magnitude : magnitude;
}

TDateTime StrToDate(std::string_view text) {
    const TFormatSettings settings = FormatSettings();
    std::string order; // 'd', 'm', 'y' in the order of the short date format
    for (const char c : settings.ShortDateFormat) {
        const char lower = static_cast<char>(c | 0x20);
        if ((lower == 'd' || lower == 'm' || lower == 'y') &&
            order.find(lower) == std::string::npos) {
            order += lower;
        }
    }
    if (order.size() != 3) {
        order = "dmy";
    }
    std::vector<int> numbers;
    std::vector<int> lengths;
    std::string_view rest = Trim(text);
    while (true) {
        std::size_t n = 0;
        int value = 0;
        while (n < rest.size() && n < 4 && rest[n] >= '0' && rest[n] <= '9') {
            value = value * 10 + (rest[n] - '0');
            ++n;
        }
        if (n == 0) {
            NotA("date", text);
        }
        numbers.push_back(value);
        lengths.push_back(static_cast<int>(n));
        rest.remove_prefix(n);
        if (rest.empty()) {
            break;
        }
        if (rest.front() != settings.DateSeparator || numbers.size() == 3) {
            NotA("date", text);
        }
        rest.remove_prefix(1);
    }
    if (numbers.size() < 2) {
        NotA("date", text);
    }
    const int thisYear = QDate::currentDate().year();
    int day = 0, month = 0, year = thisYear;
    std::size_t next = 0;
    for (const char part : order) {
        if (part == 'y' && numbers.size() == 2) {
            continue;
        }
        const int value = numbers[next];
        const int length = lengths[next];
        ++next;
        if (part == 'd') {
            day = value;
        } else if (part == 'm') {
            month = value;
        } else {
            year = length <= 2 ? thisYear / 100 * 100 + value : value;
        }
    }
    TDateTime result = 0;
    if (!TryEncodeDate(year, month, day, result)) {
        NotA("date", text);
    }
    return result;
}

std::string FloatToStr(double value) {
    return General(value, 15, 15, [](const char*) { return true; });
}

std::string SingleToStr(float value) {
    return General(value, 1, 9,
                   [value](const char* text) { return std::strtof(text, nullptr) == value; });
}

std::string CurrToStr(Currency value) {
    const bool negative = value < 0;
    const auto magnitude =
        negative ? -static_cast<unsigned __int128>(value) : static_cast<unsigned __int128>(value);
    std::string text = std::to_string(static_cast<std::uint64_t>(magnitude / CurrencyScale));
    std::string fraction = std::to_string(static_cast<std::uint64_t>(magnitude % CurrencyScale));
    fraction.insert(0, 4 - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    if (!fraction.empty()) {
        text += FormatSettings().DecimalSeparator + fraction;
    }
    return (negative ? "-" : "") + text;
}

std::string DateToStr(TDateTime value) {
    return FormatDateTime(FormatSettings().ShortDateFormat, value);
}

std::string FormatFloat(std::string_view picture, double value) {
    return FormatNumber(picture, value, FloatToStr(value));
}

std::string FormatCurr(std::string_view picture, Currency value) {
    return FormatNumber(picture, static_cast<long double>(value) / CurrencyScale, CurrToStr(value));
}

} // namespace kairelon
