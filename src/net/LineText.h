// Small text helpers of the line-oriented protocols the socket component speaks.
//
// Fields of a delimited text (`NthWord`, `NthPos`), a line written to a stream with a
// carriage return and line feed (`StreamLn`), and the leading reply number of a reply line
// (`LeadingReplyNumber`, used by `TPowersock::Transaction`). Nothing here touches a socket.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class QIODevice;

namespace kairelon {

// The n-th field (counting from 1) of text, fields separated by single delimiter characters;
// two adjacent delimiters enclose an empty field. Empty for an empty text, for n < 1 and when
// the text has fewer than n fields. NthWord("a,b,,c", ',', 3) is empty, n = 4 gives "c".
std::string NthWord(const std::string& text, char delimiter, int n);

// The position (counting from 1) of the n-th delimiter in text; length + 1 when the text has
// fewer than n delimiters (an empty text gives 1). A delimiter that is the last character
// gives the length, so it stays apart from "not found". n < 1 gives 0, the position before
// the text, so that field n always lies strictly between NthPos(n - 1) and NthPos(n).
int NthPos(const std::string& text, char delimiter, int n);

// Writes text followed by a carriage return and a line feed. EInOutError when the stream
// does not take every byte.
void StreamLn(QIODevice& stream, const std::string& text);

// The leading decimal digits of a reply line (at most 10, up to the first character outside
// "0".."9"): false when the line does not begin with a digit. ERangeError when the value
// does not fit 16 signed bits.
bool LeadingReplyNumber(std::string_view reply, std::int16_t& number);

} // namespace kairelon
