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
//
// The reply carries whole seconds, so when it came matters as much as what it says: every
// call notes, on a monotonic clock (`MonotonicClock`, the machine's boot-time clock unless a
// test puts another in its place), when the connect began and when the connection stood (the
// round trip of the connect), when the first "*" arrived (the on-time marker of the common
// daytime layout) and when the last byte arrived. `LastReplyTiming` holds them for the caller.
#pragma once

#include "net/Powersock.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kairelon {

// When one exchange happened, in nanoseconds on the client's monotonic clock; 0 for a moment
// that did not come.
struct TReplyTiming {
    std::int64_t ConnectStartedNs = 0; // the connect was asked for
    std::int64_t ConnectedNs = 0;      // the connection stood
    std::int64_t MarkerNs = 0;         // the piece holding the first "*" arrived
    std::int64_t LastDataNs = 0;       // the piece holding the last byte arrived
    // The time the connect took: one trip to the server and back, in nanoseconds.
    std::int64_t RoundTripNs() const {
        return ConnectedNs > ConnectStartedNs ? ConnectedNs - ConnectStartedNs : 0;
    }
};

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

    // The moments of the last GetTimeStr; reset at its start, complete when it returns.
    TReplyTiming LastReplyTiming;
    // The monotonic clock of the timing, in nanoseconds; null: BootTimeNs (platform/Clock.h).
    std::function<std::int64_t()> MonotonicClock;

private:
    std::int64_t MonotonicNow() const;

    bool aborted_ = false; // Abort came during the current GetTimeStr
};

} // namespace kairelon
