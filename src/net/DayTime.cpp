#include "net/DayTime.h"

#include "framework/Messages.h"

#include <arpa/inet.h>

namespace kairelon {

TNMDayTime::TNMDayTime(TComponent* AOwner) : TPowersock(AOwner) {
    Port = 13;
    TimeOut = 500;
}

std::string TNMDayTime::GetTimeStr() {
    OpenConnection();
    StatusMessage(8, "Connecting");
    LastEventOk = false;
    ConnectError = -1;
    {
        TTimeOutPhase phase(*this);
        sock::connect(SocketHandle, RemoteAddress);
        // The connect wait ends on this attempt's own outcome, never on some other notification
        // (a close still queued from the previous exchange must not end it early).
        ProcessMessages();
        while (ConnectError != 0 && !TimedOut && !(TimeOut == 0 && ConnectError > 0)) {
            WaitForMessages();
        }
    }
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
        {
            // The data wait: until bytes are buffered or the peer has closed, within TimeOut.
            TTimeOutPhase phase(*this);
            while (!DataAvailable() && Connected && !TimedOut) {
                WaitForMessages();
            }
        }
        result = Read(0);
    } catch (...) {
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
