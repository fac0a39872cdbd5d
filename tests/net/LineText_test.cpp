#include "net/LineText.h"

#include "framework/Exception.h"

#include <QBuffer>
#include <gtest/gtest.h>

using namespace kairelon;

TEST(NthWord, FieldsBetweenSingleDelimiters) {
    EXPECT_EQ(NthWord("a,b,,c", ',', 1), "a");
    EXPECT_EQ(NthWord("a,b,,c", ',', 2), "b");
    EXPECT_EQ(NthWord("a,b,,c", ',', 3), "") << "two adjacent delimiters enclose an empty field";
    EXPECT_EQ(NthWord("a,b,,c", ',', 4), "c");
    EXPECT_EQ(NthWord("a,b,,c", ',', 5), "") << "fewer fields";
    EXPECT_EQ(NthWord("227 Entering Passive Mode", ' ', 2), "Entering");
    EXPECT_EQ(NthWord("no delimiter", ',', 1), "no delimiter");
    EXPECT_EQ(NthWord("no delimiter", ',', 2), "");
}

TEST(NthWord, EmptyTextsEdgesAndNonPositiveN) {
    EXPECT_EQ(NthWord("", ',', 1), "");
    EXPECT_EQ(NthWord(",", ',', 1), "");
    EXPECT_EQ(NthWord(",", ',', 2), "");
    EXPECT_EQ(NthWord("a,", ',', 2), "");
    EXPECT_EQ(NthWord(",z", ',', 2), "z");
    EXPECT_EQ(NthWord("a,b", ',', 0), "");
    EXPECT_EQ(NthWord("a,b", ',', -3), "");
}

TEST(NthPos, PositionOfTheNthDelimiterCountingFromOne) {
    EXPECT_EQ(NthPos("a,b,,c", ',', 1), 2);
    EXPECT_EQ(NthPos("a,b,,c", ',', 2), 4);
    EXPECT_EQ(NthPos("a,b,,c", ',', 3), 5);
    EXPECT_EQ(NthPos("a,b,,c", ',', 4), 7) << "fewer delimiters: length + 1";
    EXPECT_EQ(NthPos("abc,", ',', 1), 4) << "a last-character delimiter is its own position";
    EXPECT_EQ(NthPos("abc", ',', 1), 4);
    EXPECT_EQ(NthPos("", ',', 1), 1) << "empty text";
    EXPECT_EQ(NthPos("a,b", ',', 0), 0);
    EXPECT_EQ(NthPos("a,b", ',', -1), 0);
}

TEST(NthPos, AgreesWithNthWordOnEveryField) {
    for (const std::string text : {"a,b,,c", ",,", "x", ",lead", "trail,", "one,two,three"}) {
        for (int n = 1; n <= 5; ++n) {
            const int begin = NthPos(text, ',', n - 1);
            const int end = NthPos(text, ',', n);
            const std::string expected =
                begin > static_cast<int>(text.size())
                    ? ""
                    : text.substr(static_cast<std::size_t>(begin),
                                  static_cast<std::size_t>(end - begin - 1));
            EXPECT_EQ(NthWord(text, ',', n), expected) << text << " n=" << n;
        }
    }
}

TEST(StreamLn, WritesTheTextWithCarriageReturnAndLineFeed) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    StreamLn(buffer, "USER anonymous");
    StreamLn(buffer, "");
    EXPECT_EQ(buffer.data().toStdString(), "USER anonymous\r\n\r\n");

    QBuffer closed;
    EXPECT_THROW(StreamLn(closed, "x"), EInOutError);
}

TEST(LeadingReplyNumber, DigitsUpToTheFirstOtherCharacter) {
    std::int16_t n = -1;
    EXPECT_TRUE(LeadingReplyNumber("220 Service ready\r\n", n));
    EXPECT_EQ(n, 220);
    EXPECT_TRUE(LeadingReplyNumber("250-first line", n));
    EXPECT_EQ(n, 250);
    EXPECT_TRUE(LeadingReplyNumber("7", n));
    EXPECT_EQ(n, 7);
    EXPECT_TRUE(LeadingReplyNumber("32767", n));
    EXPECT_EQ(n, 32767);
    EXPECT_TRUE(LeadingReplyNumber("0000000000123", n)) << "only ten digits are read";
    EXPECT_EQ(n, 0);

    n = 5;
    EXPECT_FALSE(LeadingReplyNumber("OK 220", n));
    EXPECT_FALSE(LeadingReplyNumber(" 220", n));
    EXPECT_FALSE(LeadingReplyNumber("", n));
    EXPECT_EQ(n, 5) << "left alone without digits";
}

TEST(LeadingReplyNumber, ValuesBeyondSixteenSignedBitsRaise) {
    std::int16_t n = 0;
    EXPECT_THROW(LeadingReplyNumber("32768 too big", n), ERangeError);
    EXPECT_THROW(LeadingReplyNumber("99999999999999", n), ERangeError);
    EXPECT_EQ(n, 0);
}
