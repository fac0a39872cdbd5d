// `TDaytimeServer` and the `kairelon-daytimed` program: a daytime server (RFC 867) built on the
// library's server component.
//
// Each connection gets the fixed-column line of daemons/DaytimeLine.h, taken from the server's
// clock (the local system clock, UTC; injectable for tests), and is closed. The server listens
// on port 13 of every local address unless told otherwise. `RunKairelonDaytimed` is the whole
// program: command line, listening, giving up root when started as root (platform/Privileges.h),
// serving until SIGTERM or SIGINT.
#pragma once

#include "net/GeneralServer.h"

#include <chrono>
#include <functional>

namespace kairelon {

class TDaytimeServer : public TNMGeneralServer {
public:
    using TUtcClock = std::function<std::chrono::system_clock::time_point()>;

    explicit TDaytimeServer(TComponent* AOwner = nullptr); // Port 13

    // Fires the listening server's OnClientContact (on the connection thread, with this
    // per-connection instance as Sender), sends one line, ends the sending side and returns;
    // the instance's destruction closes the connection.
    void Serve() override;

    TUtcClock Clock; // the time served; the system clock by default

protected:
    TInstanceMaker InstanceMaker() override; // instances with a copy of Clock
};

// How many clients a server may serve at once with `descriptors` open descriptors allowed
// (the program's own taken off; at least 1); 0 (no limit) when the limit is unknown.
int ConnectionsWithin(long descriptors);

// The program: returns its exit status (0 after an orderly stop, 1 when it cannot listen or
// cannot give up root, 64 for a wrong command line).
int RunKairelonDaytimed(int argc, char** argv);

} // namespace kairelon
