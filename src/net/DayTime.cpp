#include "net/DayTime.h"

#include "framework/Messages.h"

#include <arpa/inet.h>

namespace kairelon {

TNMDayTime::TNMDayTime(TComponent* AOwner) : TPowersock(AOwner) {
    Port = 13;
    TimeOut = 500;
}

std::string TNMDayTime::GetTimeStr() {
    Canceled = false;
    ReceiveBuffer->Clear();
    if (Connected) {
        throw ESockError("Already connected");
    }
    CheckWinsock();
    ResolveWithRetry();
    StatusMessage(8, "Connecting");
    RemoteAddress.sin_family = AF_INET;
    RemoteAddress.sin_port =
        htons(static_cast<std::uint16_t>(ProxyHost.empty() ? Port : ProxyPort));
    LastEventOk = false;
    TimedOut = false;
    ConnectError = -1;
    TimerOn();
    sock::connect(SocketHandle, RemoteAddress);

    // The connect wait ends on this attempt's own outcome, never on some other notification
    // (a close still queued from the previous exchange must not end it early).
    ProcessMessages();
    try {
        while (ConnectError != 0 && !TimedOut && !(TimeOut == 0 && ConnectError > 0)) {
            WaitForMessages();
        }
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();
    if (TimedOut || ConnectError != 0) {
        // Given up: a pending attempt must not connect later and answer the next call.
        AbandonAttempt();
    }
    if (TimedOut) {
        throw Exception("Connection Timed out");
    }
    if (ConnectError != 0) {
        throw ESockError("Connection Failed"); // only without a time limit
    }

    std::string result;
    try {
        // The data wait: until bytes are buffered or the peer has closed, within TimeOut.
        TimerOn();
        while (!DataAvailable() && Connected && !TimedOut) {
            WaitForMessages();
        }
        TimerOff();
        result = Read(0);
    } catch (...) {
        TimerOff();
        try {
            Disconnect();
        } catch (...) {
        }
        throw;
    }
    Disconnect();
    return result;
}

} // namespace kairelon
