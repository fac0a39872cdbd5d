// `TNMDayTime`: the Daytime Protocol client (RFC 867).
//
// `GetTimeStr` performs one whole exchange as a single call on the creating thread: resolve
// `Host` (a dotted address needs no lookup), connect to `Port` (13 by default) within
// `TimeOut` milliseconds (500 by default), collect what the server sends until it closes
// (its reply may come in several pieces), and close. A refused connection fails at once with
// the socket error. It returns the bytes as received, line end included; interpreting them is
// the caller's business (sync/TimeConversion.h). While it waits it runs the event loop, so
// `OnConnect`, `OnDisconnect` and `OnInvalidHost` fire inside the call, and other handlers of
// the program run as well. Every wait is bounded by `TimeOut` when it is not 0: the lookup, the
// connect, and the wait for the reply (a server that sends but never closes gives what came
// within it).
#pragma once

#include "net/Powersock.h"

#include <string>

namespace kairelon {

class TNMDayTime : public TPowersock {
public:
    explicit TNMDayTime(TComponent* AOwner = nullptr);

    // Raises ESockError "Already connected", "Host Lookup Timed Out", "Host Lookup Canceled",
    // "Null Remote Address", or the socket error of a failed attempt ("10061:Connection
    // refused"); Exception "Connection Timed out"; EAbortError "Socket send aborted"
    // (cancelled, or no data within TimeOut); ERangeError when more than 65535 bytes arrived.
    std::string GetTimeStr();

    // Ends the exchange under way at once, for a program that stops: the lookup as Cancel ends
    // it ("Host Lookup Canceled"), and the connect and data waits, which a Cancel only ends
    // once the reply has come, at the next message; GetTimeStr then closes the connection
    // and raises EAbortError "Socket send aborted". Only on the creating thread.
    void Abort() override;

private:
    bool aborted_ = false; // Abort came during the current GetTimeStr
};

} // namespace kairelon
