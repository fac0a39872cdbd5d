// The sockets layer with Windows Sockets 1.1 semantics on non-blocking POSIX sockets.
//
// The socket component is written against the window-message socket model: a socket asks for
// its notifications with `WSAAsyncSelect` and they arrive as messages (wParam = socket, low 16
// bits of lParam = the event, high 16 bits = the error) on the window's thread. This module
// provides that model on Linux: every socket is a non-blocking, close-on-exec IPv4 stream
// socket (an `int`, `INVALID_SOCKET` = −1 for none); readiness is watched by Qt socket
// notifiers on the window's thread and turned into notifications with the Windows Sockets
// rules: FD_CONNECT once per connection attempt, carrying its error; FD_READ again only after
// the next `recv`; FD_ACCEPT again only after the next `accept`; FD_WRITE once the connection
// is up and after a send that would have blocked; FD_CLOSE once when the peer closes (or
// resets). A connect never blocks: it answers WSAEWOULDBLOCK and its outcome, refusals
// included, arrives as FD_CONNECT. Errors are kept per thread (`WSAGetLastError`) as the
// numbers of the Windows Sockets table (platform/SocketErrors.h: errno ECONNREFUSED → 10061,
// ETIMEDOUT → 10060, ...). Threads that take a listening socket's connections themselves wait
// in platform/SharedListener.h; host names are looked up in platform/Resolver.h.
#pragma once

#include "platform/SocketErrors.h"
#include "platform/WindowMessages.h"

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace kairelon::sock {

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Notification events (low 16 bits of lParam).
constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

constexpr std::uint32_t INADDR_NONE_VALUE = 0xFFFFFFFFu;

inline constexpr LPARAM WSAMAKESELECTREPLY(long event, int error) {
    return static_cast<LPARAM>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                               static_cast<std::uint32_t>(event & 0xFFFF));
}
inline constexpr int WSAGETSELECTEVENT(LPARAM lParam) {
    return static_cast<int>(lParam & 0xFFFF);
}
inline constexpr int WSAGETSELECTERROR(LPARAM lParam) {
    return static_cast<int>((static_cast<std::uint64_t>(lParam) >> 16) & 0xFFFF);
}

struct WSADATA {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    std::uint16_t iMaxSockets = 0;
    std::uint16_t iMaxUdpDg = 0;
};

int WSAStartup(std::uint16_t versionRequested, WSADATA* data); // 0 on success
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol); // INVALID_SOCKET on failure
int closesocket(SOCKET s);                     // also ends its notifications
int connect(SOCKET s, const sockaddr_in& address);
int bind(SOCKET s, const sockaddr_in& address);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr_in* address);
int recv(SOCKET s, void* buffer, int length, int flags); // flags: 0 or MSG_PEEK
int send(SOCKET s, const void* buffer, int length, int flags);
constexpr int SD_SEND = 1;
int shutdown(SOCKET s, int how); // how: SD_SEND ends the sending side (the peer reads its end)
int setsockopt(SOCKET s, int level, int name, const void* value, int length);
int getsockname(SOCKET s, sockaddr_in* address);

// Asks for notifications of `events` (a mask of FD_*) as `message` to `window`; 0 events ends
// them. Replaces an earlier request for the same socket. Callable from any thread; the
// notifications are produced on the window's thread.
int WSAAsyncSelect(SOCKET s, HWND window, unsigned message, long events);

// Lets FD_ACCEPT come again for a listening socket whose last one was not followed by an
// `accept` (as an accept would). Callable from any thread; nothing for a socket that is not
// listening with notifications.
void ReenableAccept(SOCKET listening);

// Dotted IPv4 text to an address in network order; INADDR_NONE_VALUE when it is not one.
std::uint32_t inet_addr(const char* text);
std::string inet_ntoa(std::uint32_t addressNetworkOrder);
int gethostname(char* name, int length);

} // namespace kairelon::sock
