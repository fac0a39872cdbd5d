// Feeds arbitrary text to the number, amount and date readers and arbitrary pictures to the
// numeric formatter: only EConvertError may leave a reader, a value read back from its own
// general text must be the same, and a picture never fails.
#include "framework/Conversions.h"
#include "framework/Exception.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace kairelon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const double value = StrToFloat(text);
        if (!std::isfinite(value) || (StrToFloat(FloatToStr(value)) == 0.0 && value != 0.0)) {
            std::abort();
        }
        (void)FormatFloat(text, value);
    } catch (const EConvertError&) {
    }
    try {
        const Currency amount = StrToCurr(text);
        if (StrToCurr(CurrToStr(amount)) != amount) {
            std::abort();
        }
        (void)FormatCurr(text, amount);
    } catch (const EConvertError&) {
    }
    try {
        const TDateTime date = StrToDate(text);
        if (StrToDate(DateToStr(date)) != date) {
            std::abort();
        }
    } catch (const EConvertError&) {
    }
    (void)FormatFloat(text, -1234.5678);
    (void)FormatFloat(text, 0.0);
    return 0;
}
