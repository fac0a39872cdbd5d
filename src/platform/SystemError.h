// The system's error numbers and their texts.
//
// `GetLastError` gives the error number of the last failed system call of this thread (errno
// on Linux); `SystemErrorText` names a number with the system's own message text, or "n/a"
// when the system has no text for it. Nothing here records or reports errors.
#pragma once

#include <cstdint>
#include <string>

namespace kairelon {

std::uint32_t GetLastError();
// The system's text as the system gives it (localised where the C library has translations),
// "n/a" for a number the system does not know.
std::string SystemErrorText(std::uint32_t code);

} // namespace kairelon
