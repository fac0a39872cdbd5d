// `TNMDayTime`: the Daytime Protocol client (RFC 867).
//
// `GetTimeStr` performs one whole exchange as a single call on the creating thread: resolve
// `Host` (a dotted address needs no lookup), connect to `Port` (13 by default) within
// `TimeOut` milliseconds (500 by default), take the first text the server sends, and close.
// It returns the bytes as received, line end included; interpreting them is the caller's
// business (sync/TimeConversion.h). While it waits it runs the event loop, so `OnConnect`,
// `OnDisconnect` and `OnInvalidHost` fire inside the call, and other handlers of the program
// run as well. Every wait is bounded by `TimeOut` when it is not 0: the lookup, the connect,
// and the wait for the first data.
#pragma once

#include "net/Powersock.h"

#include <string>

namespace kairelon {

class TNMDayTime : public TPowersock {
public:
    explicit TNMDayTime(TComponent* AOwner = nullptr);

    // Raises ESockError "Already connected", "Host Lookup Timed Out", "Host Lookup Canceled",
    // "Null Remote Address", "Connection Failed" (a refused attempt with TimeOut 0);
    // Exception "Connection Timed out"; EAbortError "Socket send aborted" (cancelled, or no
    // data within TimeOut); ERangeError when more than 65535 bytes arrived at once.
    std::string GetTimeStr();
};

} // namespace kairelon
