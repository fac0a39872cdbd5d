// Numbers, amounts and dates as text in the user's formats, with German settings put in place.
#include "framework/Conversions.h"
#include "framework/Exception.h"

#include <gtest/gtest.h>

#include <QDate>

#include <cmath>
#include <optional>
#include <string>

using namespace kairelon;

namespace {

class Conversions : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettings(TFormatSettings{}); } // ',' '.' '.' dd.mm.yyyy
    void TearDown() override { ResetFormatSettings(); }
};

} // namespace

TEST_F(Conversions, StrToFloatReadsTheUsersDecimalSeparatorOnly) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"0", 0.0},
        {"12", 12.0},
        {"-12,5", -12.5},
        {"+3,25", 3.25},
        {",5", 0.5},
        {"5,", 5.0},
        {" 7,5 ", 7.5},
        {"1,5E3", 1500.0},
        {"1,5e-2", 0.015},
        {"2E+2", 200.0},
        {"1e-500", 0.0},
        {"12.5", std::nullopt},
        {"1.000", std::nullopt},
        {"12x", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {",", std::nullopt},
        {"1,2,3", std::nullopt},
        {"1E", std::nullopt},
        {"1E+", std::nullopt},
        {"1e400", std::nullopt},
        {"nan", std::nullopt},
        {"inf", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const Case& c : cases) {
        if (c.value) {
            EXPECT_DOUBLE_EQ(StrToFloat(c.text), *c.value) << c.text;
        } else {
            EXPECT_THROW(StrToFloat(c.text), EConvertError) << c.text;
        }
    }
}

TEST_F(Conversions, StrToCurrRoundsToTenThousandthsAndChecksTheRange) {
    struct Case {
        const char* text;
        std::optional<Currency> value;
    };
    const Case cases[] = {
        {"1", 10000},
        {"-1,5", -15000},
        {"0,00005", 1},
        {"0,00004", 0},
        {"-0,00005", -1},
        {"12,3456", 123456},
        {"1,23456789", 12346},
        {"1E2", 1000000},
        {"922337203685477,5807", 9223372036854775807LL},
        {"922337203685477,5808", std::nullopt},
        {"1E20", std::nullopt},
        {"12x", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        if (c.value) {
            EXPECT_EQ(StrToCurr(c.text), *c.value) << c.text;
        } else {
            EXPECT_THROW(StrToCurr(c.text), EConvertError) << c.text;
        }
    }
}

TEST_F(Conversions, StrToDateReadsTheShortDateFormatsOrder) {
    const int year = QDate::currentDate().year();
    struct Case {
        const char* format;
        char separator;
        const char* text;
        int y, m, d; // y 0: no date
    };
    const Case cases[] = {
        {"dd.mm.yyyy", '.', "09.12.2026", 2026, 12, 9},
        {"dd.mm.yyyy", '.', "9.1.2026", 2026, 1, 9},
        {"dd.mm.yyyy", '.', "29.02.2024", 2024, 2, 29},
        {"dd.mm.yyyy", '.', "31.02.2026", 0, 0, 0},
        {"dd.mm.yyyy", '.', "29.02.2026", 0, 0, 0},
        {"dd.mm.yyyy", '.', "00.01.2026", 0, 0, 0},
        {"dd.mm.yyyy", '.', "1.13.2026", 0, 0, 0},
        {"dd.mm.yyyy", '.', "09/12/2026", 0, 0, 0},
        {"dd.mm.yyyy", '.', "09.12.2026.", 0, 0, 0},
        {"dd.mm.yyyy", '.', "09.12.26", year / 100 * 100 + 26, 12, 9},
        {"dd.mm.yyyy", '.', "09.12", year, 12, 9},
        {"dd.mm.yyyy", '.', "9", 0, 0, 0},
        {"dd.mm.yyyy", '.', "", 0, 0, 0},
        {"dd.mm.yyyy", '.', "a.b.c", 0, 0, 0},
        {"m/d/yy", '/', "12/9/2026", 2026, 12, 9},
        {"yyyy-mm-dd", '-', "2026-12-09", 2026, 12, 9},
    };
    for (const Case& c : cases) {
        TFormatSettings settings;
        settings.ShortDateFormat = c.format;
        settings.DateSeparator = c.separator;
        SetFormatSettings(settings);
        if (c.y != 0) {
            EXPECT_EQ(StrToDate(c.text), EncodeDate(c.y, c.m, c.d)) << c.text;
        } else {
            EXPECT_THROW(StrToDate(c.text), EConvertError) << c.text;
        }
    }
}

TEST_F(Conversions, GeneralTexts) {
    EXPECT_EQ(FloatToStr(12.5), "12,5");
    EXPECT_EQ(FloatToStr(0.1), "0,1");
    EXPECT_EQ(FloatToStr(1.0 / 3.0), "0,333333333333333");
    EXPECT_EQ(FloatToStr(1e20), "1E20");
    EXPECT_EQ(FloatToStr(-1.5e-7), "-1,5E-7");
    EXPECT_EQ(SingleToStr(0.1f), "0,1");
    EXPECT_EQ(SingleToStr(3.14159265f), "3,1415927");
    EXPECT_EQ(SingleToStr(123456789.0f), "1,2345679E8");
    EXPECT_EQ(CurrToStr(15000), "1,5");
    EXPECT_EQ(CurrToStr(-1), "-0,0001");
    EXPECT_EQ(CurrToStr(10000), "1");
    EXPECT_EQ(CurrToStr(-9223372036854775807LL - 1), "-922337203685477,5808");
    EXPECT_EQ(DateToStr(EncodeDate(2026, 1, 9)), "09.01.2026");
}

TEST_F(Conversions, NumericPictures) {
    struct Case {
        const char* picture;
        double value;
        const char* text;
    };
    const Case cases[] = {
        {"0.00", 3.14159, "3,14"},
        {"0.00", -3.14159, "-3,14"},
        {"0.00", 0.005, "0,01"},
        {"0.00", -0.001, "0,00"},
        {"#.##", 0.5, ",5"},
        {"#,##0.0", 1234567.89, "1.234.567,9"},
        {"000", 7, "007"},
        {"0", 2.5, "3"},
        {"0.0#", 1.25, "1,25"},
        {"0.0#", 1.2, "1,2"},
        {"0.00E+00", 12345, "1,23E+04"},
        {"0.00E-00", 0.00012345, "1,23E-04"},
        {"0.0E+0", 9.99, "1,0E+1"},
        {"0.00;(0.00)", -2.5, "(2,50)"},
        {"0.00;(0.00);'null'", 0, "null"},
        {"'EUR '0.00", 2, "EUR 2,00"},
        {"0.00 'kg'", 2, "2,00 kg"},
        {"", 2.5, "2,5"},
        {"0", 1e20, "1E20"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatFloat(c.picture, c.value), c.text) << c.picture << " " << c.value;
    }
    EXPECT_EQ(FormatCurr("0.00", 12345), "1,23");
    EXPECT_EQ(FormatCurr("#,##0.0000", 9223372036854775807LL), "922.337.203.685.477,5807");
    EXPECT_EQ(FormatCurr("", 15000), "1,5");
}
