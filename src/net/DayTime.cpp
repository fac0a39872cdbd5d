#include "net/DayTime.h"

#include "framework/Messages.h"
#include "platform/Clock.h"

#include <arpa/inet.h>

#include <cstdint>
#include <utility>

namespace kairelon {

namespace {
constexpr int MaxReply = 0xFFFF; // the most one Read returns

// Puts a handler in place of another for the life of a scope.
class HandlerSwap {
public:
    HandlerSwap(TNotifyEvent& slot, TNotifyEvent replacement)
        : slot_(slot), saved_(std::exchange(slot, std::move(replacement))) {}
    ~HandlerSwap() { slot_ = std::move(saved_); }
    HandlerSwap(const HandlerSwap&) = delete;
    HandlerSwap& operator=(const HandlerSwap&) = delete;
    const TNotifyEvent& Saved() const { return saved_; }

private:
    TNotifyEvent& slot_;
    TNotifyEvent saved_;
};

} // namespace

TNMDayTime::TNMDayTime(TComponent* AOwner) : TPowersock(AOwner) {
    Port = 13;
    TimeOut = 500;
}

void TNMDayTime::Abort() {
    // The time-out calls Abort too (TimerFired, TimedOut already set): that one keeps its own
    // meaning, a reply that came before it is still the result.
    if (!TimedOut) {
        aborted_ = true;
    }
    TPowersock::Abort();
}

std::int64_t TNMDayTime::MonotonicNow() const {
    return MonotonicClock ? MonotonicClock() : BootTimeNs();
}

std::string TNMDayTime::GetTimeStr() {
    aborted_ = false;
    LastReplyTiming = TReplyTiming{};
    TReplyTiming& timing = LastReplyTiming;
    // The moments are taken where the notifications are handled, before the caller's own
    // handlers run (a handler that writes a protocol line must not count as network time).
    HandlerSwap connectSwap(OnConnect, nullptr);
    OnConnect = [this, &timing, &connectSwap](TObject* Sender) {
        if (timing.ConnectedNs == 0) {
            timing.ConnectedNs = MonotonicNow();
        }
        if (connectSwap.Saved()) {
            connectSwap.Saved()(Sender);
        }
    };
    int seen = 0; // bytes of the reply already stamped
    HandlerSwap dataSwap(OnDataReady, nullptr);
    OnDataReady = [this, &timing, &seen, &dataSwap](TObject* Sender) {
        const int size = ReceiveBuffer->BufferSize();
        if (size > seen) {
            const std::int64_t now = MonotonicNow();
            timing.LastDataNs = now;
            if (timing.MarkerNs == 0 && ReceiveBuffer->Search("*") > 0) {
                timing.MarkerNs = now;
            }
            seen = size;
        }
        if (dataSwap.Saved()) {
            dataSwap.Saved()(Sender);
        }
        // A daytime server closes right after its text: when the close has come with it, take
        // it now, as the close notification would (nothing is left to read), rather than on
        // another turn of the event loop.
        char byte = 0;
        if (Connected && sock::recv(SocketHandle, &byte, 1, MSG_PEEK) == 0) {
            RequestCloseSocket();
            SignalEvent.SetEvent();
            if (OnDisconnect) {
                OnDisconnect(this);
            }
        }
    };

    OpenConnection();
    StatusMessage(8, "Connecting");
    LastEventOk = false;
    ConnectError = -1;
    {
        TTimeOutPhase phase(*this);
        timing.ConnectStartedNs = MonotonicNow();
        sock::connect(SocketHandle, RemoteAddress);
        // The connect wait ends on this attempt's own outcome, never on some other notification
        // (a close still queued from the previous exchange must not end it early).
        // A refusal ends it at once: waiting out the time-out would only hide the reason.
        ProcessMessages();
        while (ConnectError < 0 && !TimedOut && !aborted_) {
            WaitForMessages();
        }
    }
    if (aborted_ && ConnectError < 0) {
        AbandonAttempt();
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
    if (ConnectError != 0) {
        // Given up: a pending attempt must not connect later and answer the next call.
        AbandonAttempt();
    }
    if (ConnectError > 0) {
        LastErrorNo = ConnectError;
        throw ESockError(SocketErrorStr(static_cast<std::uint16_t>(ConnectError)));
    }
    if (ConnectError != 0) {
        throw Exception("Connection Timed out");
    }
    if (timing.ConnectedNs == 0) {
        timing.ConnectedNs = MonotonicNow();
    }

    std::string result;
    bool canceledByCaller = false;
    try {
        {
            // The data wait: a reply may come in several pieces, and a daytime server closes
            // once it has sent it, so collect until the peer closes, within TimeOut. More than
            // a read can return ends the wait early (Read raises the range error).
            TTimeOutPhase phase(*this);
            while (Connected && !TimedOut && !aborted_ && ReceiveBuffer->BufferSize() <= MaxReply) {
                if (Canceled && !TimedOut) {
                    canceledByCaller = true;
                }
                WaitForMessages();
            }
        }
        if (aborted_) {
            Canceled = false;
            throw EAbortError("Socket send aborted");
        }
        if (timing.LastDataNs == 0 && ReceiveBuffer->BufferSize() > 0) {
            timing.LastDataNs = MonotonicNow(); // came without a read notification
        }
        if (TimedOut && !canceledByCaller && ReceiveBuffer->BufferSize() > 0) {
            // A peer that sent its text but never closes: what came is the reply. The
            // time-out's own cancel must not turn it into an abort.
            Canceled = false;
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
