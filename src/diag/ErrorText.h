// German texts for the system's error numbers, for the program's German messages.
//
// `SystemErrorText` gives the system's own text, which on most systems is English. Where such
// a text is inserted into one of the program's German messages (for example message 1077, the
// service that cannot be reached), `GermanSystemErrorText` gives the program's own German
// wording for the error numbers that the program can meet (a missing or forbidden event or
// file, a refused clock setting, resources running out), and the system's text for every
// other number ("n/a" when the system has none either). Log lines and English texts keep
// using `SystemErrorText`.
#pragma once

#include <cstdint>
#include <string>

namespace kairelon {

std::string GermanSystemErrorText(std::uint32_t code);

} // namespace kairelon
