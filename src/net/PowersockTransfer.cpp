// The command/reply exchange of the line protocols, listening and accepting of the socket
// component. The stream and file transfers are in net/PowersockStream.cpp, the text helpers in
// net/LineText.cpp.
#include "net/Powersock.h"

#include "framework/Messages.h"
#include "net/LineText.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace kairelon {

std::string TPowersock::Transaction(const std::string& command) {
    StatusMessage(8, "Transaction");
    ReplyNumber = 0;
    Writeln(command);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        StatusMessage(1, LastReply);
        std::int16_t number = 0;
        if (LeadingReplyNumber(LastReply, number)) {
            ReplyNumber = number;
        }
    }
    return LastReply;
}

void TPowersock::Listen(bool useReplyMessage) {
    StatusMessage(8, "Listening");
    RemoteAddress = sockaddr_in{};
    RemoteAddress.sin_family = AF_INET;
    RemoteAddress.sin_addr.s_addr =
        sock::inet_addr(ListenAddress.empty() ? "0.0.0.0" : ListenAddress.c_str());
    RemoteAddress.sin_port = htons(static_cast<std::uint16_t>(Port));
    if (RemoteAddress.sin_addr.s_addr == sock::INADDR_NONE_VALUE) {
        SetWSAError(10049, "");
        throw ESockError(SocketErrorStr(10049));
    }
    // A listening socket must be able to take its port again while connections of an earlier
    // run are still winding down; another socket listening on it still makes bind fail.
    const int reuse = 1;
    sock::setsockopt(SocketHandle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    // A port that cannot be bound or listened on is an error, not a server that never answers.
    if (sock::bind(SocketHandle, RemoteAddress) == sock::SOCKET_ERROR ||
        sock::listen(SocketHandle, ListenBacklog) == sock::SOCKET_ERROR) {
        ErrorManager(0);
        throw ESockError(SocketErrorStr(static_cast<std::uint16_t>(LastErrorNo)));
    }
    sock::WSAAsyncSelect(SocketHandle, WindowHandle,
                         useReplyMessage ? AsyncReplyMessage : SocketNotifyMessage,
                         FirstSocketEvents);
}

sock::SOCKET TPowersock::AcceptPending(sockaddr_in& peer) {
    StatusMessage(4, "Accepting");
    {
        TTimeOutPhase phase(*this);
        while (!AsyncReplied && !Canceled) {
            Wait();
        }
    }
    if (Canceled) {
        Canceled = false;
        throw ESockError("Accepting Canceled");
    }
    if (!LastEventOk) {
        throw ESockError("Error creating Data Connection");
    }
    // This accept answers the announcement; the next Accept waits for one of its own (the
    // socket announces the next connection after this accept).
    AsyncReplied = false;
    const sock::SOCKET accepted = sock::accept(SocketHandle, &peer);
    if (accepted == sock::INVALID_SOCKET) {
        ErrorManager(0);
        throw ESockError("Error creating Data Connection");
    }
    return accepted;
}

sock::SOCKET TPowersock::Accept() {
    sockaddr_in peer{};
    const sock::SOCKET accepted = AcceptPending(peer);
    // The accepted socket is not watched from this window: its notifications belong to the
    // component that takes it over. Here its peer's close would be taken for this component's
    // own and close the listening socket.
    RemoteAddress = peer;
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
    return accepted;
}

} // namespace kairelon
