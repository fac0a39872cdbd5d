#include "framework/Exception.h"
#include "framework/Format.h"
#include "framework/StringList.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>

using namespace kairelon;

TEST(Format, TextsAndCStyleNumbers) {
    EXPECT_EQ(Format("Wollen Sie den Server '%s' wirklich löschen ?", "a.b"),
              "Wollen Sie den Server 'a.b' wirklich löschen ?");
    EXPECT_EQ(Format("%.2d:%.2d", 7, 45), "07:45");
    EXPECT_EQ(Format("%d%%", -12), "-12%");
    EXPECT_EQ(Format("[%5s|%-3d|%x]", "ab", 4, 255), "[   ab|4  |ff]");
    EXPECT_EQ(Format("%s", std::string(5000, 'x')).size(), 5000u);
}

TEST(Format, MissingOrWrongArgumentsRaiseInsteadOfReadingGarbage) {
    EXPECT_THROW(Format("%s %s", "one"), EConvertError);
    EXPECT_THROW(Format("%d", "text"), EConvertError);
    EXPECT_THROW(Format("%s", 3), EConvertError);
    EXPECT_THROW(Format("%q", 3), EConvertError);
    EXPECT_THROW(Format("trailing %", 3), EConvertError);
}

TEST(StrToInt, AcceptsOnlySignAndDigits) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("-15"), -15);
    EXPECT_EQ(StrToInt("+42"), 42);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", "-", "+", " 1", "1 ", "1a", "0x10", "$10", "2147483648", "1.0",
                            "99999999999999999999"}) {
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
    }
}

TEST(StringList, LineRules) {
    EXPECT_EQ(SplitLines(""), TStringList{});
    EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (TStringList{"a", "", "b"}));
    EXPECT_EQ(SplitLines("a\rb\nc"), (TStringList{"a", "b", "c"}));
    EXPECT_EQ(SplitLines("a\n\n"), (TStringList{"a", ""}));
    EXPECT_EQ(SplitLines(std::string("a\nb\0c\nd", 7)), (TStringList{"a", "b"}));
    EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST(StringList, FileRoundTripAndErrors) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/server.ini";
    SaveStringList(path, {"time.example.org", "", "10.0.0.1"});
    EXPECT_EQ(LoadStringList(path), (TStringList{"time.example.org", "", "10.0.0.1"}));
    SaveStringList(path, {});
    EXPECT_EQ(LoadStringList(path), TStringList{});
    EXPECT_THROW(LoadStringList(path + ".missing"), EFOpenError);
    EXPECT_THROW(SaveStringList(dir.path().toStdString() + "/no/such/dir/x", {}), EFCreateError);
}

TEST(StringList, CaseInsensitiveSearch) {
    const TStringList list{"Alpha", "beta"};
    EXPECT_EQ(IndexOfText(list, "ALPHA"), 0);
    EXPECT_EQ(IndexOfText(list, "Beta"), 1);
    EXPECT_EQ(IndexOfText(list, "gamma"), -1);
    EXPECT_EQ(IndexOfText(list, "alph"), -1);
}
