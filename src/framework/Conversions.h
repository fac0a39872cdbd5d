// Numbers, currency amounts and dates as text, in the user's formats.
//
// The typed edit field reads and writes its text through these conversions. `TFormatSettings`
// holds the user's decimal and thousand separators, date separator and short date format,
// taken once from the system locale (the program's own "dd.mm.yyyy" with "," and "." where
// the locale's short date is not plain day, month and year numbers); tests put their own in
// place. Reading: `StrToFloat` (optional sign, digits with the decimal separator, optional
// exponent; no thousand separators), `StrToCurr` (the same, rounded to 1/10 000 and held as a
// 64-bit count of those) and `StrToDate` (day, month and year numbers in the order of the
// short date format, apart by the date separator; a missing year is this year, a two-digit
// one lies in this century); each raises EConvertError on text that does not convert.
// Writing: `FloatToStr` and `CurrToStr` give the general text, `FormatFloat` and `FormatCurr`
// fill a numeric picture such as "0.00", "#,##0.0" or "0.00E+00" (';' separates the forms for
// positive, negative and zero values; an empty picture gives the general text).
#pragma once

#include "framework/DateTime.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kairelon {

struct TFormatSettings {
    char DecimalSeparator = ',';
    char ThousandSeparator = '.';
    char DateSeparator = '.';
    std::string ShortDateFormat = "dd.mm.yyyy"; // d, m and y letters as in FormatDateTime
};

TFormatSettings FormatSettings(); // the user's, or the ones put in place
void SetFormatSettings(const TFormatSettings& settings);
void ResetFormatSettings(); // back to the user's

// A currency amount: a count of 1/10 000 units.
using Currency = std::int64_t;
constexpr Currency CurrencyScale = 10000;

double StrToFloat(std::string_view text);
Currency StrToCurr(std::string_view text);
TDateTime StrToDate(std::string_view text);

std::string FloatToStr(double value);   // up to 15 significant digits
std::string SingleToStr(float value);   // the fewest digits that read back as the same value
std::string CurrToStr(Currency value);  // up to four decimals, no trailing zeros
std::string DateToStr(TDateTime value); // in the short date format
std::string FormatFloat(std::string_view picture, double value);
std::string FormatCurr(std::string_view picture, Currency value);

} // namespace kairelon
