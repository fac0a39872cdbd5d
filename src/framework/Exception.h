// The exception family of the component framework.
//
// Every failure inside the program's logic is an exception carrying only a message; handlers
// at the event boundary catch `Exception` and turn its message into a protocol entry, an error
// log record or a message box. This header declares the framework's general exception and the
// framework's own kinds (conversion, range, registry, file, operating system). Application and
// library exceptions (ESockError, ETimeConvertError, ...) derive from `Exception` in their own
// modules.
#pragma once

#include <stdexcept>
#include <string>

namespace kairelon {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Declares an exception class that only carries a message.
#define KAIRELON_EXCEPTION(Name, Base)                                                             \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    }

KAIRELON_EXCEPTION(EConvertError, Exception);      // a text that is not a number, date or time
KAIRELON_EXCEPTION(ERangeError, Exception);        // a value outside its allowed range
KAIRELON_EXCEPTION(ERegistryException, Exception); // a store that cannot be read or written
KAIRELON_EXCEPTION(EStreamError, Exception);       // base of the file errors
KAIRELON_EXCEPTION(EFOpenError, EStreamError);     // a file that cannot be opened
KAIRELON_EXCEPTION(EFCreateError, EStreamError);   // a file that cannot be created
KAIRELON_EXCEPTION(EInOutError, Exception);        // a read or write of an open file failed
KAIRELON_EXCEPTION(EOSError, Exception);           // an operating-system call failed

} // namespace kairelon
