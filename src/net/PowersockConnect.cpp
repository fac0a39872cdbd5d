// Host lookup and connection of the socket component: resolving Host (or ProxyHost) through
// the asynchronous lookup, connecting and waiting for the outcome, giving up an attempt,
// closing, and the addresses of both ends.
#include "net/Powersock.h"

#include "framework/Format.h"
#include "platform/Resolver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <exception>

namespace kairelon {

void TPowersock::ResolveRemoteHost() {
    StatusMessage(8, "Resolve Host");
    const std::string& name = ProxyHost.empty() ? Host : ProxyHost;
    const std::size_t length = std::min<std::size_t>(name.size(), IoBufferSize - 1);
    std::memcpy(IoBuffer.data(), name.data(), length);
    IoBuffer[length] = '\0';
    RemoteAddress.sin_addr.s_addr = sock::inet_addr(IoBuffer.data());
    if (RemoteAddress.sin_addr.s_addr != sock::INADDR_NONE_VALUE) {
        return; // a dotted address needs no lookup
    }
    RemoteAddress.sin_addr.s_addr = 0;
    {
        TTimeOutPhase phase(*this);
        AsyncReplied = false;
        LookupHandle = sock::WSAAsyncGetHostByName(WindowHandle, AsyncReplyMessage, IoBuffer.data(),
                                                   HostEntryBuffer.data(),
                                                   static_cast<int>(HostEntryBuffer.size()));
        if (LookupHandle == 0) {
            // The lookup could not even start (no thread for it, the application is ending): a
            // failure of this computer, not an unknown host.
            throw ESockError(SocketErrorStr(static_cast<std::uint16_t>(sock::WSAGetLastError())));
        }
        try {
            do {
                Wait();
            } while (!AsyncReplied && !TimedOut && !Canceled);
        } catch (...) {
            sock::WSACancelAsyncRequest(LookupHandle);
            LookupHandle = 0;
            throw;
        }
    }
    if (!AsyncReplied) {
        // Nobody waits for this answer any more: it must not land in a later lookup.
        sock::WSACancelAsyncRequest(LookupHandle);
    }
    LookupHandle = 0;
    if (TimedOut) {
        throw ESockError("Host Lookup Timed Out");
    }
    if (Canceled) {
        throw ESockError("Host Lookup Canceled");
    }
    std::uint32_t address = 0;
    if (!LastEventOk ||
        !sock::FirstHostAddress(HostEntryBuffer.data(), static_cast<int>(HostEntryBuffer.size()),
                                address)) {
        throw ESockError("Host Lookup Failed");
    }
    RemoteAddress.sin_addr.s_addr = address;
    if (OnHostResolved) {
        OnHostResolved(this);
    }
}

namespace {

// The one second chance a handler may give: true when `handler` exists, has not been asked
// yet, and says it handled the matter (the caller then tries once more).
bool HandlerGivesAnotherTry(const THandlerEvent& handler, bool& asked) {
    if (asked || !handler) {
        return false;
    }
    asked = true;
    bool handled = false;
    handler(handled);
    return handled;
}

} // namespace

void TPowersock::ResolveWithRetry() {
    bool asked = false;
    for (;;) {
        RemoteAddress.sin_addr.s_addr = 0;
        try {
            ResolveRemoteHost();
        } catch (const ESockError& error) {
            // Only an answer that the name is unknown gives the handler its chance; time-outs,
            // cancels and lookups that could not start are the call's failure.
            if (error.Message() != "Host Lookup Failed") {
                throw;
            }
        }
        if (RemoteAddress.sin_addr.s_addr != 0) {
            return;
        }
        if (!HandlerGivesAnotherTry(OnInvalidHost, asked)) {
            throw ESockError("Null Remote Address");
        }
    }
}

void TPowersock::OpenConnection() {
    Canceled = false;
    if (ReceiveBuffer) {
        ReceiveBuffer->Clear();
    }
    if (Connected) {
        throw ESockError("Already connected");
    }
    CheckWinsock();
    ResolveWithRetry();
    RemoteAddress.sin_family = AF_INET;
    RemoteAddress.sin_port =
        htons(static_cast<std::uint16_t>(ProxyHost.empty() ? Port : ProxyPort));
}

void TPowersock::Connect() {
    StatusMessage(8, "Connecting");
    OpenConnection();
    AsyncReplied = false;
    LastEventOk = true;
    if (sock::connect(SocketHandle, RemoteAddress) == sock::SOCKET_ERROR) {
        ErrorManager(sock::WSAEWOULDBLOCK);
    }
    {
        TTimeOutPhase phase(*this);
        while (!Connected && !TimedOut && !Canceled && LastEventOk) {
            Wait();
        }
    }
    CloseAfterData();
    if (TimedOut || Canceled || !LastEventOk) {
        // The attempt is given up however it ended: a pending one must not complete later on
        // this socket and stand in the way of the next Connect.
        AbandonAttempt();
        if (OnConnectionFailed) {
            OnConnectionFailed(this);
        }
        if (TimedOut) {
            try {
                Disconnect();
            } catch (...) {
            }
            throw ESockError("Connection Timed out");
        }
        if (Canceled) {
            throw ESockError("Connection Canceled");
        }
        throw ESockError("Connection Failed");
    }
}

void TPowersock::Disconnect() {
    StatusMessage(8, "Disconnecting");
    if (Connected) {
        RequestCloseSocket();
    }
}

void TPowersock::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    Connected = false;
    if (SocketHandle == sock::INVALID_SOCKET) {
        return;
    }
    sock::closesocket(SocketHandle);
    SocketHandle = sock::INVALID_SOCKET;
    std::exception_ptr handlerFailure;
    if (!Destroying() && OnDisconnect) {
        try {
            OnDisconnect(this);
        } catch (...) {
            handlerFailure = std::current_exception();
        }
    }
    if (!ShuttingDown) {
        // Always leave a fresh socket, so the instance can connect again.
        CreateSocket(LaterSocketEvents);
    }
    if (handlerFailure) {
        std::rethrow_exception(handlerFailure);
    }
}

void TPowersock::CertifyConnect() {
    StatusMessage(8, "Checking Connection");
    bool asked = false;
    while (!Connected) {
        if (!HandlerGivesAnotherTry(OnConnectionRequired, asked)) {
            throw Exception("Not Connected");
        }
    }
}

void TPowersock::AbandonAttempt() {
    const sock::SOCKET abandoned = SocketHandle;
    SocketHandle = sock::INVALID_SOCKET;
    try {
        // Made before the old socket is closed, so that it gets another number: an outcome of
        // the abandoned attempt still queued then names a socket that is not ours (Wndproc).
        CreateSocket(LaterSocketEvents);
    } catch (const ESockError&) {
        // No socket now; the next operation says why (CheckWinsock).
    }
    if (abandoned != sock::INVALID_SOCKET) {
        sock::closesocket(abandoned);
    }
}

// ---- Addresses -----------------------------------------------------------------------------

std::string TPowersock::GetRemoteIP() {
    StatusMessage(8, "Getting Remote IP");
    return sock::inet_ntoa(RemoteAddress.sin_addr.s_addr);
}

std::string TPowersock::GetLocalIP() {
    StatusMessage(8, "Getting Local IP");
    char name[200] = {};
    if (sock::gethostname(name, sizeof name - 1) != 0) {
        return std::string();
    }
    TResolveResult result;
    try {
        result = CurrentResolver()->Resolve(name);
    } catch (...) {
        return std::string();
    }
    if (result.error != 0 || result.addresses.empty()) {
        return std::string();
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(&result.addresses.front());
    return Format("%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
}

} // namespace kairelon
